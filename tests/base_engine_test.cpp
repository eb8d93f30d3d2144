#include <gtest/gtest.h>

#include "parsing/engine.hpp"

using namespace vorlax::parsing;

namespace {

Out letter(State& st, char& c) {
  return satisfy(st, c, [](unsigned char x) { return (x >= 'a' && x <= 'z'); });
}


}  // namespace

TEST(Engine, PositionsAdvanceWithTabsAndLineFeeds) {
  struct Case { std::string text; Pos want; } cases[] = {
      {"ab\t", {1, 9}}, {"ab\tc", {1, 10}}, {"abcdefg\t", {1, 9}}, {"abcdefgh\t", {1, 17}},
      {"\r", {1, 2}}, {"ab\nc", {2, 2}}, {"\t", {1, 9}},
  };
  for (const auto& c : cases) {
    Pos p;
    for (char ch : c.text) p = advance(p, static_cast<unsigned char>(ch));
    EXPECT_EQ(p.line, c.want.line) << c.text;
    EXPECT_EQ(p.column, c.want.column) << c.text;
  }
}

TEST(Engine, ChoiceMergesExpectationsOnce) {
  auto p = [](State& st, char& c) -> Out {
    return choice(st, c,
                  [](State& s, char& v) { return label(s, v, "letter", letter); },
                  [](State& s, char& v) { return label(s, v, "letter", letter); },
                  [](State& s, char& v) {
                    return label(s, v, "digit", [](State& s2, char& v2) {
                      return satisfy(s2, v2, [](unsigned char x) { return x >= '0' && x <= '9'; });
                    });
                  });
  };
  auto r = runParser(p, "t", "!");
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(showParseFailure(r.failure), "\"t\" (line 1, column 1):\nunexpected \"!\"\nexpecting letter or digit");
  auto e = runParser(p, "", "");
  EXPECT_EQ(showParseFailure(e.failure), "(line 1, column 1):\nunexpected end of input\nexpecting letter or digit");
}

TEST(Engine, LiteralConsumesOnlyPastFirstCharacter) {
  auto lit = [](State& st, std::string& out) { return literal(st, out, "abc"); };
  State st("abx");
  st.track = true;
  std::string v;
  EXPECT_EQ(lit(st, v), Out::ConsumedErr);
  EXPECT_EQ(st.err.pos.column, 1);
  auto r = runParser([&](State& s, std::string& o) { return attempt(s, o, lit); }, "t", "abx");
  EXPECT_EQ(showParseFailure(r.failure), "\"t\" (line 1, column 1):\nunexpected \"x\"\nexpecting \"abc\"");
}

TEST(Engine, NoMessagesIsUnknownParseError) {
  ParseFailure f{"t", Pos{1, 1}, {}};
  EXPECT_EQ(showParseFailure(f), "\"t\" (line 1, column 1):unknown parse error");
}

TEST(Engine, CharacterRendering) {
  struct Case { unsigned char c; std::string str, chr; } cases[] = {
      {'a', "\"a\"", "'a'"},       {'"', "\"\\\"\"", "'\"'"},   {'\'', "\"'\"", "'\\''"},
      {'\\', "\"\\\\\"", "'\\\\'"}, {'\n', "\"\\n\"", "'\\n'"}, {7, "\"\\a\"", "'\\a'"},
      {0, "\"\\NUL\"", "'\\NUL'"}, {27, "\"\\ESC\"", "'\\ESC'"}, {127, "\"\\DEL\"", "'\\DEL'"},
      {233, "\"\\233\"", "'\\233'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(showOneCharString(c.c), c.str) << int(c.c);
    EXPECT_EQ(showCharLit(c.c), c.chr) << int(c.c);
  }
}
