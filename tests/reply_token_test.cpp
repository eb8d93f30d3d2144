// The lexical layer of the reply parser: what each token accepts, the value it yields,
// whether a failing token consumed input, and the text it leaves.
#include <gtest/gtest.h>

#include "fixtures/reply/support.hpp"

using namespace vorlax::yices;
using namespace vorlax::yices::grammar;
using treetext::run;
using vorlax::parsing::Out;

namespace {

const Out OK = Out::ConsumedOk;
const Out CERR = Out::ConsumedErr;
const Out EERR = Out::EmptyErr;

std::string show(const mpz_class& z) { return z.get_str(); }
std::string show(const Ratio& r) { return r.num.get_str() + "/" + r.den.get_str(); }
std::string show(bool b) { return b ? "true" : "false"; }
std::string show(const std::string& s) { return s; }

template <class T>
struct Case {
  std::string text;
  Out out;
  std::string value;  // when the token succeeded
  std::string rest;   // when the token succeeded
};

template <class T, class P>
void expectTokens(P&& p, const std::vector<Case<T>>& cases) {
  for (const auto& c : cases) {
    auto r = run<T>(p, c.text);
    EXPECT_EQ(r.out, c.out) << "text: " << c.text;
    if (r.out == OK && c.out == OK) {
      EXPECT_EQ(show(r.value), c.value) << "text: " << c.text;
      EXPECT_EQ(r.rest, c.rest) << "text: " << c.text;
    }
  }
}

Out tokInt(State& st, mpz_class& v) { return tokenY(st, v, integerY); }

}  // namespace

TEST(ReplyToken, TokenSkipsWhitespaceOnBothSides) {
  expectTokens<mpz_class>(tokInt, {
      {"  42  x", OK, "42", "x"},
      {"42", OK, "42", ""},
      {"\t\n\v\f\r 7\xA0y", OK, "7", "y"},  // codes 9 to 13, blank, no-break space
      {"  x", CERR, "", ""},
      {"x", EERR, "", ""},
  });
  auto r = run<mpz_class>(tokInt, "  x");
  EXPECT_EQ(r.error, "\"t\" (line 1, column 3):\nunexpected \"x\"\nexpecting space, \"-\" or digit");
}

TEST(ReplyToken, Identifiers) {
  expectTokens<std::string>(identY, {
      {"_a1'b", OK, "_a1'b", ""},
      {"x-1", OK, "x", "-1"},
      {"and", OK, "and", ""},
      {"\xE9l\xE8ve2 x", OK, "\xE9l\xE8ve2", " x"},  // Latin-1 letters
      {"x\xB2", OK, "x\xB2", ""},                    // a superscript two is a number
      {"a.b", OK, "a", ".b"},
      {"a!b", OK, "a", "!b"},
      {"1x", EERR, "", ""},
      {"'x", EERR, "", ""},
      {"\xD7x", EERR, "", ""},  // the multiplication sign is no letter
  });
  EXPECT_EQ(run<std::string>(identY, "1x").error,
            "\"t\" (line 1, column 1):\nunexpected \"1\"\nexpecting letter or \"_\"");
}

TEST(ReplyToken, Booleans) {
  expectTokens<bool>(boolY, {
      {"true", OK, "true", ""},
      {"false", OK, "false", ""},
      {"trueish", OK, "true", "ish"},  // the plain token does not look past the word
      {"tru", CERR, "", ""},
      {"tx", CERR, "", ""},
      {"fals", CERR, "", ""},
      {"True", EERR, "", ""},
      {"x", EERR, "", ""},
  });
  EXPECT_EQ(run<bool>(boolY, "x").error,
            "\"t\" (line 1, column 1):\nunexpected \"x\"\nexpecting \"true\" or \"false\"");
}

TEST(ReplyToken, Numbers) {
  expectTokens<mpz_class>(naturalY, {
      {"007", OK, "7", ""},
      {"1234567890123456789012345678901234567890x", OK, "1234567890123456789012345678901234567890", "x"},
      {"18446744073709551616", OK, "18446744073709551616", ""},  // 2^64
      {"-1", EERR, "", ""},
  });
  expectTokens<mpz_class>(integerY, {
      {"-12", OK, "-12", ""},
      {"-0", OK, "0", ""},
      {"-99999999999999999999999", OK, "-99999999999999999999999", ""},
      {"12/4", OK, "12", "/4"},
      {"- 12", CERR, "", ""},
      {"-x", CERR, "", ""},
      {"+12", EERR, "", ""},
  });
  expectTokens<Ratio>(rationalY, {
      {"6/4", OK, "3/2", ""},
      {"-6/4", OK, "-3/2", ""},
      {"0/5", OK, "0/1", ""},
      {"6/0", OK, "6/0", ""},  // accepted; its value is unusable
      {"-2/0", OK, "-2/0", ""},
      {"100000000000000000000/300000000000000000000", OK, "1/3", ""},
      {"-0/5", OK, "0/1", ""},
      {"999999999999999999/333333333333333333", OK, "3/1", ""},  // 18 digits each
      {"-9999999999999999999/6", OK, "-3333333333333333333/2", ""},  // 19 digits
      {"18/999999999999999999999999", OK, "2/111111111111111111111111", ""},
      {"6", CERR, "", ""},
      {"6 /4", CERR, "", ""},
      {"5/ 2", CERR, "", ""},
      {"5/-2", CERR, "", ""},
      {"x", EERR, "", ""},
  });
  auto r = run<Ratio>(rationalY, "6/0");
  EXPECT_TRUE(r.value.zeroDenominator());
  EXPECT_EQ(treetext::fatalOf([&] { (void)r.value.value(); }), "Ratio.%: zero denominator");
}

TEST(ReplyToken, KeywordsAndParentheses) {
  auto orTok = [](State& st, Unit&) { return keywordTokenY(st, "or"); };
  auto r = run<Unit>(orTok, "ordered x");
  EXPECT_EQ(r.out, OK);
  EXPECT_EQ(r.rest, "dered x");

  auto impl = [](State& st, Unit&) { return keywordY(st, "=>"); };
  r = run<Unit>(impl, "= x");
  EXPECT_EQ(r.out, EERR);
  EXPECT_EQ(r.rest, "= x");
  EXPECT_EQ(r.error, "\"t\" (line 1, column 1):\nunexpected \" \"\nexpecting \"=>\"");
  // the whitespace in front is given back as well
  r = run<Unit>(impl, "  =x");
  EXPECT_EQ(r.out, EERR);
  EXPECT_EQ(r.rest, "  =x");
  EXPECT_EQ(r.error.substr(0, r.error.find(':')), "\"t\" (line 1, column 1)");

  auto parenIdent = [](State& st, std::string& v) {
    return parensY(st, v, [](State& s2, std::string& v2) { return tokenY(s2, v2, identY); });
  };
  auto p = run<std::string>(parenIdent, " ( x ) ");
  EXPECT_EQ(p.out, OK);
  EXPECT_EQ(p.value, "x");
  EXPECT_EQ(p.rest, "");
  p = run<std::string>(parenIdent, "(x");
  EXPECT_EQ(p.out, CERR);
  EXPECT_EQ(p.error, "\"t\" (line 1, column 3):\nunexpected end of input\nexpecting letter or digit, "
                     "white space or \")\"");
}

TEST(ReplyToken, PositionsOfTabsAndLineFeeds) {
  struct P { std::string text, where; } cases[] = {
      {"\t!", "(line 1, column 9)"},
      {"        \t!", "(line 1, column 17)"},
      {"\n!", "(line 2, column 1)"},
      {"\r!", "(line 1, column 2)"},
      {"\n\n  \t!", "(line 3, column 9)"},
  };
  for (const auto& c : cases) {
    auto r = run<mpz_class>(tokInt, c.text);
    EXPECT_EQ(r.out, CERR) << c.text;
    EXPECT_EQ(r.error.substr(0, r.error.find(':')), "\"t\" " + c.where) << c.text;
  }
}
