#include <gtest/gtest.h>

#include "domain_support.hpp"
#include "parser_basic.hpp"

using namespace vorlax;
using namespace vorlax::lexer;
using parsing::Out;
using parsing::State;
using testing_support::outcome;

namespace {

std::string unit(const Unit&) { return "()"; }
std::string str(const std::string& s) { return s; }
std::string num(const mpz_class& v) { return v.get_str(); }

Out ident(State& st, std::string& v) { return identifier(st, v); }
Out ws(State& st, Unit& v) { return whiteSpace(st, v); }
Out integ(State& st, mpz_class& v) { return integer(st, v); }

struct Case {
  std::string input;
  std::string want;
};

}  // namespace

TEST(LexerClasses, Latin1TableNotLocale) {
  // letters of the Latin-1 range; digits-but-not-letters; no-break space; everything else none
  for (int c : std::initializer_list<int>{0xAA, 0xB5, 0xBA, 0xC0, 0xD6, 0xD8, 0xF6, 0xF8, 0xFF, 'A', 'z'}) EXPECT_TRUE(isLetter(c)) << c;
  for (int c : std::initializer_list<int>{0xD7, 0xF7, 0xB2, 0xA0, 0x85, 0xBF, '_', '0'}) EXPECT_FALSE(isLetter(c)) << c;
  for (int c : std::initializer_list<int>{0xB2, 0xB3, 0xB9, 0xBC, 0xBD, 0xBE, '0', '9', 0xE9}) EXPECT_TRUE(isLetterOrDigit(c)) << c;
  for (int c : std::initializer_list<int>{0xB4, 0xBF, 0xD7, '_'}) EXPECT_FALSE(isLetterOrDigit(c)) << c;
  for (int c : std::initializer_list<int>{9, 10, 11, 12, 13, ' ', 0xA0}) EXPECT_TRUE(isSpace(c)) << c;
  for (int c : std::initializer_list<int>{0x85, 0, 8, 14, 0x1F}) EXPECT_FALSE(isSpace(c)) << c;
  std::string ops = ":!#$%&*+./<=>?@\\^|-~";
  for (int c = 0; c < 256; ++c)
    EXPECT_EQ(isOpChar(c), ops.find(static_cast<char>(c)) != std::string::npos && c != 0) << c;
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(isDigit(c), c >= '0' && c <= '9') << c;
    EXPECT_EQ(isOctDigit(c), c >= '0' && c <= '7') << c;
  }
}

TEST(LexerIdentifier, Words) {
  const Case cases[] = {
      {"caf\xE9 x", "ok caf\xE9 | x"},
      {"x\xB2", "ok x\xB2 | "},
      {"x\xA0y", "ok x | y"},
      {"Result1 ", "ok Result1 | "},
      {"x' y", "ok x' | y"},
      {"a_b1(", "ok a_b1 | ("},
      {"null", "ok null | "},
      {"not", "ok not | "},
      {"Results", "ok Results | "},
      {"typed {- c -} z", "ok typed | z"},
      {"\xB2x", "error \"t\" (line 1, column 1):\nunexpected \"\\178\"\nexpecting identifier"},
      {"_x", "error \"t\" (line 1, column 1):\nunexpected \"_\"\nexpecting identifier"},
      {"x\x85", "ok x | \x85"},
      {"Result", "error \"t\" (line 1, column 1):\nunexpected reserved word \"Result\"\nexpecting letter or digit"},
      {"Void ", "error \"t\" (line 1, column 1):\nunexpected reserved word \"Void\"\nexpecting letter or digit"},
      {"", "error \"t\" (line 1, column 1):\nunexpected end of input\nexpecting identifier"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(ident, c.input, str), c.want) << c.input;
}

TEST(LexerWhiteSpace, CommentsNestAndEnd) {
  const Case cases[] = {
      {"{- a {- b -} c -}x", "ok () | x"},
      {"{- a -} -}", "ok () | -}"},
      {"{--}x", "ok () | x"},
      {"--{- x\ny", "ok () | y"},
      {"{- -- -}y", "ok () | y"},
      {"-- last line", "ok () | "},
      {" \t\r\n\v\f\xA0z", "ok () | z"},
      {"\x85", "ok () | \x85"},
      {"- x", "ok () | - x"},
      {"{-}", "error \"t\" (line 1, column 4):\nunexpected end of input\nexpecting end of comment"},
      {"x", "ok () | x"},
      {"\n  {- a\n {- b -}\n", "error \"t\" (line 4, column 1):\nunexpected end of input\nexpecting end of comment"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(ws, c.input, unit), c.want) << c.input;
}

TEST(LexerWhiteSpace, DeepNestingIsIterative) {
  std::string open, close;
  for (int i = 0; i < 100000; ++i) open += "{-";
  for (int i = 0; i < 100000; ++i) close += "-}";
  EXPECT_EQ(outcome(ws, open + close + "x", unit), "ok () | x");
  EXPECT_EQ(outcome(ws, open, unit),
            "error \"t\" (line 1, column 200001):\nunexpected end of input\nexpecting end of comment");
}

TEST(LexerKeywords, ReservedAndOperators) {
  struct KCase {
    bool op;
    std::string text, input, want;
  } cases[] = {
      {false, "type", "type{", "ok () | {"},
      {false, "type", "types", "error \"t\" (line 1, column 1):\nunexpected 's'\nexpecting end of \"type\""},
      {false, "type", "Type", "error \"t\" (line 1, column 1):\nunexpected \"T\"\nexpecting \"type\""},
      {false, "type", "tyxe", "error \"t\" (line 1, column 1):\nunexpected \"x\"\nexpecting \"type\""},
      {false, "type", "ty", "error \"t\" (line 1, column 1):\nunexpected end of input\nexpecting \"type\""},
      {false, "Int", "Int'", "error \"t\" (line 1, column 1):\nunexpected '\\''\nexpecting end of \"Int\""},
      {true, "<", "<=", "error \"t\" (line 1, column 1):\nunexpected '='\nexpecting end of \"<\""},
      {true, "<", "< =", "ok () | ="},
      {true, "and", "andy", "ok () | y"},
      {true, "=", "==", "error \"t\" (line 1, column 1):\nunexpected '='\nexpecting end of \"=\""},
      {true, "=", "=--", "error \"t\" (line 1, column 1):\nunexpected '-'\nexpecting end of \"=\""},
      {true, "=", "= --c", "ok () | "},
      {true, ":", "::", "error \"t\" (line 1, column 1):\nunexpected ':'\nexpecting end of \":\""},
      {true, ":", ":=", "error \"t\" (line 1, column 1):\nunexpected '='\nexpecting end of \":\""},
  };
  for (const auto& c : cases) {
    auto p = [&](State& st, Unit&) { return c.op ? reservedOp(st, c.text) : reserved(st, c.text); };
    EXPECT_EQ(outcome(p, c.input, unit), c.want) << c.text << " on " << c.input;
  }
}

TEST(LexerKeywords, PendingErrorCarriesEndOfToken) {
  // a keyword directly followed by the end still expects its own end; after a blank only
  // white space is pending
  auto p = [](State& st, Unit& u) {
    parsing::Seq s(st);
    if (!s(Reserved{"Int"}) || !s(Symbol{","})) return s.fail();
    (void)u;
    return s.ok();
  };
  EXPECT_EQ(outcome(p, "Int", unit), "error \"t\" (line 1, column 4):\nunexpected end of input\nexpecting end of \"Int\" or \",\"");
  EXPECT_EQ(outcome(p, "Int ", unit), "error \"t\" (line 1, column 5):\nunexpected end of input\nexpecting \",\"");
  auto q = [](State& st, Unit& u) {
    parsing::Seq s(st);
    std::string n;
    if (!s(identifier, n) || !s(Symbol{","})) return s.fail();
    (void)u;
    return s.ok();
  };
  EXPECT_EQ(outcome(q, "x)", unit), "error \"t\" (line 1, column 2):\nunexpected \")\"\nexpecting letter or digit or \",\"");
  EXPECT_EQ(outcome(q, "x )", unit), "error \"t\" (line 1, column 3):\nunexpected \")\"\nexpecting \",\"");
}

TEST(LexerInteger, ValuesAndErrors) {
  const Case cases[] = {
      {"42", "ok 42 | "},
      {"-42", "ok -42 | "},
      {"- 42", "ok -42 | "},
      {"-{- c -}42", "ok -42 | "},
      {"+7", "ok 7 | "},
      {"0x1F", "ok 31 | "},
      {"0X1f", "ok 31 | "},
      {"0o17", "ok 15 | "},
      {"017", "ok 17 | "},
      {"0", "ok 0 | "},
      {"0b1", "ok 0 | b1"},
      {"12345678901234567890 x", "ok 12345678901234567890 | x"},
      {"-x", "error \"t\" (line 1, column 2):\nunexpected \"x\"\nexpecting digit"},
      {"- x", "error \"t\" (line 1, column 3):\nunexpected \"x\"\nexpecting digit"},
      {"--5", "error \"t\" (line 1, column 2):\nunexpected \"-\"\nexpecting digit"},
      {"0xg", "error \"t\" (line 1, column 3):\nunexpected \"g\"\nexpecting hexadecimal digit"},
      {"0o8", "error \"t\" (line 1, column 3):\nunexpected \"8\"\nexpecting octal digit"},
      {"x", "error \"t\" (line 1, column 1):\nunexpected \"x\"\nexpecting integer"},
      {"", "error \"t\" (line 1, column 1):\nunexpected end of input\nexpecting integer"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(integ, c.input, num), c.want) << c.input;
  // a number directly followed by a character still expects a digit of its base
  auto thenComma = [](State& st, mpz_class& v) {
    parsing::Seq s(st);
    if (!s(integer, v) || !s(Symbol{","})) return s.fail();
    return s.ok();
  };
  EXPECT_EQ(outcome(thenComma, "12x", num), "error \"t\" (line 1, column 3):\nunexpected \"x\"\nexpecting digit or \",\"");
  EXPECT_EQ(outcome(thenComma, "0x1Fx", num),
            "error \"t\" (line 1, column 5):\nunexpected \"x\"\nexpecting hexadecimal digit or \",\"");
}

TEST(LexerSymbols, ParensCommaColon) {
  auto p = [](State& st, std::string& v) { return parens(st, v, identifier); };
  EXPECT_EQ(outcome(p, "( a )b", str), "ok a | b");
  EXPECT_EQ(outcome(p, "[a]", str), "error \"t\" (line 1, column 1):\nunexpected \"[\"\nexpecting \"(\"");
  auto sq = [](State& st, std::string& v) { return lexeme.squares(st, v, lexeme.identifier); };
  EXPECT_EQ(outcome(sq, "[a] ", str), "ok a | ");
  auto br = [](State& st, std::string& v) { return braces(st, v, identifier); };
  EXPECT_EQ(outcome(br, "{a)", str), "error \"t\" (line 1, column 3):\nunexpected \")\"\nexpecting letter or digit or \"}\"");
  EXPECT_EQ(outcome(comma, ", x", str), "ok , | x");
  EXPECT_EQ(outcome(lexeme.colon, ": x", unit), "ok () | x");
  EXPECT_EQ(outcome(dot, ".x", str), "ok . | x");
}
