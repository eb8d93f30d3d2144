#include <gtest/gtest.h>

#include <tuple>

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

namespace {

Out digit(State& st, char& c) {
  return satisfy(st, c, [](unsigned char x) { return x >= '0' && x <= '9'; });
}

std::string render(std::vector<Message> msgs, std::string source = "t") {
  return showParseFailure(ParseFailure{std::move(source), Pos{3, 7}, std::move(msgs)});
}

// Runs p with error tracking on; the outcome, the rendered record and the text left.
template <class T, class P>
std::tuple<Out, std::string, std::string> tracked(P&& p, std::string_view text) {
  State st(text);
  st.track = true;
  T v{};
  Out o = p(st, v);
  return {o, showParseFailure({"t", st.err.pos, st.err.msgs}), std::string(st.in.cur, st.end)};
}

}  // namespace

TEST(Engine, RenderingOfMessageLists) {
  using K = MsgKind;
  struct Case {
    std::vector<Message> msgs;
    std::string want;
  } cases[] = {
      {{{K::Expect, "white space"}, {K::Expect, "digit"}, {K::Expect, "white space"}, {K::Expect, ""},
        {K::SysUnExpect, "\"x\""}},
       "\"t\" (line 3, column 7):\nunexpected \"x\"\nexpecting white space or digit"},
      {{{K::Expect, "a"}, {K::Expect, "b"}, {K::Expect, "c"}}, "\"t\" (line 3, column 7):\nexpecting a, b or c"},
      {{{K::SysUnExpect, "\"\\n\""}, {K::SysUnExpect, "\"y\""}}, "\"t\" (line 3, column 7):\nunexpected \"\\n\""},
      {{{K::SysUnExpect, ""}, {K::Expect, "digit"}}, "\"t\" (line 3, column 7):\nunexpected end of input\nexpecting digit"},
      {{{K::SysUnExpect, "\"\\200\""}}, "\"t\" (line 3, column 7):\nunexpected \"\\200\""},
      // an explicit unexpected message hides the one a character test wrote
      {{{K::SysUnExpect, "\"x\""}, {K::UnExpect, "'x'"}, {K::Message, "bad"}, {K::Message, "worse"}},
       "\"t\" (line 3, column 7):\nunexpected 'x'\nbad or worse"},
      // messages sorted by kind, whatever their order in the record
      {{{K::Message, "m"}, {K::Expect, "e"}, {K::SysUnExpect, "\"s\""}},
       "\"t\" (line 3, column 7):\nunexpected \"s\"\nexpecting e\nm"},
      // only empty texts: nothing follows the colon
      {{{K::Expect, ""}, {K::Expect, ""}}, "\"t\" (line 3, column 7):"},
      {{}, "\"t\" (line 3, column 7):unknown parse error"},
  };
  for (const auto& c : cases) EXPECT_EQ(render(c.msgs), c.want);
  EXPECT_EQ(render({{MsgKind::Expect, "e"}}, ""), "(line 3, column 7):\nexpecting e");
}

TEST(Engine, LabelsReplaceExpectationsOnlyWithoutConsumption) {
  auto lit = [](State& st, std::string& o) { return literal(st, o, "abc"); };
  auto labelled = [&](State& st, std::string& o) { return label(st, o, "word", lit); };
  // failure without consuming: the label is the only expectation
  auto [o1, e1, r1] = tracked<std::string>(labelled, "x");
  EXPECT_EQ(o1, Out::EmptyErr);
  EXPECT_EQ(e1, "\"t\" (line 1, column 1):\nunexpected \"x\"\nexpecting word");
  // failure after consuming: its own expectation stays
  auto [o2, e2, r2] = tracked<std::string>(labelled, "abx");
  EXPECT_EQ(o2, Out::ConsumedErr);
  EXPECT_EQ(e2, "\"t\" (line 1, column 1):\nunexpected \"x\"\nexpecting \"abc\"");
  // success without consuming whose record has items is relabelled too
  auto opt = [](State& st, char& c) {
    return label(st, c, "number", [](State& s2, char& v) { return option(s2, v, '0', digit); });
  };
  auto [o3, e3, r3] = tracked<char>(opt, "x");
  EXPECT_EQ(o3, Out::EmptyOk);
  EXPECT_EQ(e3, "\"t\" (line 1, column 1):\nunexpected \"x\"\nexpecting number");
  // the empty label hides the expectations
  auto hidden = [&](State& st, std::string& o) { return label(st, o, "", lit); };
  EXPECT_EQ(std::get<1>(tracked<std::string>(hidden, "x")), "\"t\" (line 1, column 1):\nunexpected \"x\"");
}

TEST(Engine, SequencesAndRepetitions) {
  // letters then a digit: the digit fails without consuming after the letters consumed
  auto letterDigit = [](State& st, std::string& out) {
    Seq s(st);
    std::vector<char> ls;
    char d{};
    auto letters = [](State& s2, std::vector<char>& v) {
      return many(s2, v, [](State& s3, char& c) { return label(s3, c, "letter", letter); });
    };
    auto dig = [](State& s2, char& c) { return label(s2, c, "digit", digit); };
    if (!s(letters, ls) || !s(dig, d)) return s.fail();
    out.assign(ls.begin(), ls.end());
    out += d;
    return s.ok();
  };
  struct Case { std::string text; Out out; std::string error, rest; } cases[] = {
      {"ab1x", Out::ConsumedOk, "", "x"},
      {"1", Out::ConsumedOk, "", ""},
      // the letters' stopping record and the digit's failure merge; consumed input stays consumed
      {"ab!", Out::ConsumedErr, "\"t\" (line 1, column 3):\nunexpected \"!\"\nexpecting letter or digit", ""},
      {"!", Out::EmptyErr, "\"t\" (line 1, column 1):\nunexpected \"!\"\nexpecting letter or digit", ""},
  };
  for (const auto& c : cases) {
    auto [o, e, rest] = tracked<std::string>(letterDigit, c.text);
    EXPECT_EQ(o, c.out) << c.text;
    if (isOk(o)) EXPECT_EQ(rest, c.rest) << c.text;
    else EXPECT_EQ(e, c.error) << c.text;
  }
  // an element that consumes and then fails is the failure of the repetition
  auto pairs = [](State& st, std::vector<std::string>& v) {
    return many(st, v, [](State& s2, std::string& o) { return literal(s2, o, "ab"); });
  };
  auto [o, e, rest] = tracked<std::vector<std::string>>(pairs, "ababax");
  EXPECT_EQ(o, Out::ConsumedErr);
  EXPECT_EQ(e, "\"t\" (line 1, column 5):\nunexpected \"x\"\nexpecting \"ab\"");
}

TEST(Engine, RepetitionOfAnEmptySuccessIsAFatalError) {
  auto nothing = [](State& st, char& c) { return pure(st, c, 'x'); };
  auto loop = [&](State& st, std::vector<char>& v) { return many(st, v, nothing); };
  try {
    runParser(loop, "t", "abc");
    ADD_FAILURE() << "no fatal error";
  } catch (const vorlax::Fatal& f) {
    EXPECT_NE(f.message.find("repetition"), std::string::npos) << f.message;
  }
}
