// Reading solver replies into expressions: the entry points, the alternatives of one
// expression, the parenthesised forms and the messages of failed parses.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fixtures/reply/support.hpp"
#include "math/smt/yices/parser.hpp"

using namespace vorlax::yices;
using treetext::fatalOf;

namespace {

std::string readAll(std::string_view text) {
  std::string out;
  for (const ExpYP& e : parseExpYs(text)) out += (out.empty() ? "" : " | ") + treetext::exp(e);
  return out;
}

std::string repeated(std::string_view s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct ValueCase {
  std::string text;
  std::string want;  // the trees of the list, joined by " | "
};

void expectValues(const std::vector<ValueCase>& cases) {
  for (const auto& c : cases) {
    std::string got;
    std::string err = fatalOf([&] { got = readAll(c.text); });
    EXPECT_EQ(err, "<no error>") << "text: " << c.text;
    EXPECT_EQ(got, c.want) << "text: " << c.text;
  }
}

struct ErrorCase {
  std::string text;
  std::string want;  // the whole fatal message
};

void expectErrors(const std::vector<ErrorCase>& cases) {
  for (const auto& c : cases) EXPECT_EQ(fatalOf([&] { readAll(c.text); }), c.want) << "text: " << c.text;
}

}  // namespace

TEST(ReplyExpr, TopLevelListAndLiterals) {
  expectValues({
      {"", ""},
      {"]", ""},
      {")", ""},
      {"(= x 1)\n(= y 2)\n", "(EQ x 1) | (EQ y 2)"},
      {"(= x 1) ] junk", "(EQ x 1)"},
      {"-5", "-5"},
      {"1/2", "1/2"},
      {"-1/2", "-1/2"},
      {"6/4 -6/4 0/5", "3/2 | -3/2 | 0/1"},
      {"1/x", "1"},
      {"true", "#t"},
      {"false", "#f"},
      {"t", "t"},
      {"tag_array", "tag_array"},
      {" true", "#t"},
      {" 7", "7"},
      {" 1/2", "1/2"},
      {"007", "7"},
      {"x y\n\tz", "x | y | z"},
      {"123456789012345678901234567890123456789", "123456789012345678901234567890123456789"},
      {"-246913578024691357802469135780246913578/2", "-123456789012345678901234567890123456789/1"},
      {"-99999999999999999999999999999999999999999/99999999999999999999999999999999999999999", "-1/1"},
  });
}

TEST(ReplyExpr, BooleansAreWholeWords) {
  // A name that begins with "true" or "false" is an identifier, not a boolean and a rest.
  expectValues({
      {"truex", "truex"},
      {"(= trueCount 3)", "(EQ trueCount 3)"},
      {"(= falsehood_1 true)", "(EQ falsehood_1 #t)"},
      {"false' true_ true9", "false' | true_ | true9"},
      {"true)", "#t"},
      {"true-1", "#t | -1"},
      {"(f true(g false))", "(APP f [#t (APP g [#f])])"},
  });
}

TEST(ReplyExpr, FormDispatch) {
  expectValues({
      {"(<= a b)", "(LE a b)"},
      {"(>= a b)", "(GE a b)"},
      {"(< a b)", "(LT a b)"},
      {"(> a b)", "(GT a b)"},
      {"(=> a b)", "(IMPLIES a b)"},
      {"(= a b)", "(EQ a b)"},
      {"(/= a b)", "(NEQ a b)"},
      {"(ite c a b)", "(ITE c a b)"},
      {"(if c 1 2)", "(IF c 1 2)"},
      {"(f a b)", "(APP f [a b])"},
      {"((f a) b)", "(APP (APP f [a]) [b])"},
      // symbolic keywords match as prefixes
      {"(=x 1)", "(EQ x 1)"},
      {"(-1 2)", "(MINUS 1 2)"},
      {"(+x y)", "(PLUS x y)"},
  });
}

TEST(ReplyExpr, WordKeywordsMatchOnlyAsWholeWords) {
  // Ordinary names of a domain that begin with a keyword head an application.
  expectValues({
      {"(ordered 1)", "(APP ordered [1])"},
      {"(item_arg 1 0)", "(APP item_arg [1 0])"},
      {"(iffy a b c)", "(APP iffy [a b c])"},
      {"(notify x)", "(APP notify [x])"},
      {"(= (notes 2) 5)", "(EQ (APP notes [2]) 5)"},
      {"(modified x 1)", "(APP modified [x 1])"},
      {"(items 0 1)", "(APP items [0 1])"},
      {"(and_then a)", "(APP and_then [a])"},
      {"(or2 a)", "(APP or2 [a])"},
      {"(divisor 4)", "(APP divisor [4])"},
      {"(letter' 1)", "(APP letter' [1])"},
      {"(selected 1)", "(APP selected [1])"},
      {"(updated 1)", "(APP updated [1])"},
      {"(lambdas 1)", "(APP lambdas [1])"},
      {"(forall_x 1)", "(APP forall_x [1])"},
      {"(exists\xE9 1)", "(APP exists\xE9 [1])"},
      // the keyword followed by a character that cannot continue a name still matches
      {"(and(p x) q)", "(AND [(APP p [x]) q])"},
      {"(not\tx)", "(NOT x)"},
  });
}

TEST(ReplyExpr, ModelWithNamesThatBeginWithKeywords) {
  // Field, function and goal variable names of an ordinary domain; read by prefix, the
  // keywords at their start would turn these lines into other forms or end the run.
  std::ifstream in(VORLAX_FIXTURES "/reply/keyword_names.model", std::ios::binary);
  ASSERT_TRUE(in) << "fixture missing";
  std::stringstream text;
  text << in.rdbuf();
  std::string got;
  ASSERT_EQ(fatalOf([&] { got = readAll(text.str()); }), "<no error>");
  EXPECT_EQ(got,
            "(EQ trueCount 3) | (EQ falsePositives 0) | (EQ (APP item_arg [1 0]) g_obj2) | "
            "(EQ (APP notes [3 1]) 7) | (EQ (APP modified [2 0]) #f) | (EQ (APP items [4 1]) -5/3) | "
            "(EQ (APP ordered [0]) #t) | (EQ (APP iffy [1 2]) 4) | (EQ (APP divisor [0]) 2) | "
            "(EQ (APP selection [1 0]) g_obj1) | (EQ (APP letters [0]) 3) | (EQ (APP update_count [2]) 1)");
}

TEST(ReplyExpr, NamesThatBeginWithKeywordsFailAsApplications) {
  // What used to be read as a keyword form now fails, if at all, as an application.
  const std::string operand =
      "expecting letter or digit, white space, boolean, rational, integer, identifier or \"(\"";
  expectErrors({
      {"(order)", "\"parseExpYs\" (line 1, column 7):\nunexpected \")\"\n" + operand},
      {"(notify)", "\"parseExpYs\" (line 1, column 8):\nunexpected \")\"\n" + operand},
      // "mk" heads the application; "-" starts a number that never comes
      {"(mk-tuplex 1 2)", "\"parseExpYs\" (line 1, column 5):\nunexpected \"t\"\nexpecting digit"},
      // a name after leading blanks fails as any name does there
      {" truex", "\"parseExpYs\" (line 1, column 2):\nunexpected \"t\"\nexpecting space, \"-\" or digit"},
  });
}

TEST(ReplyExpr, Forms) {
  expectValues({
      {"(and x)", "(AND [x])"},
      {"(and x y z)", "(AND [x y z])"},
      {"(or a (not b))", "(OR [a (NOT b)])"},
      {"(=> p q)", "(IMPLIES p q)"},
      {"(- 5 2)", "(MINUS 5 2)"},
      {"(+ a b)", "(PLUS a b)"},
      {"(* a b)", "(TIMES a b)"},
      {"(/ a b)", "(DIVIDE a b)"},
      {"(div a b)", "(DIV a b)"},
      {"(mod a b)", "(MOD a b)"},
      {"(ite c 1 2)", "(ITE c 1 2)"},
      {"(let (x 1 y::int 2) (+ x y))", "(LET [(x - 1) (y int 2)] (PLUS x y))"},
      {"(let (x::(subrange 0 3) 1) x)", "(LET [(x (SUBRANGE 0 3) 1)] x)"},
      {"(let (x :: (-> int bool) f) x)", "(LET [(x (ARR [int bool]) f)] x)"},
      {"(forall (x::int y::bool) (p x y))", "(FORALL [x:int y:bool] (APP p [x y]))"},
      {"(exists (x::int) (> x 0))", "(EXISTS [x:int] (GT x 0))"},
      {"(lambda (x::int)(f x))", "(LAMBDA [x:int] (APP f [x]))"},
      {"(mk-tuple 1 2)", "(MKTUP [1 2])"},
      {"(mk-record a::1 b :: x)", "(MKREC [a:1 b:x])"},
      {"(update f (1 2) 3)", "(UPDATE_F f [1 2] 3)"},
      {"(update f () 3)", "(UPDATE_F f [] 3)"},
      {"(update f (g x) 3)", "(UPDATE_F f [g x] 3)"},
      {"(update f (1)3)", "(UPDATE_F f [1] 3)"},
      {"(update t 2 v)", "(UPDATE_T t 2 v)"},
      {"(update t -1 v)", "(UPDATE_T t -1 v)"},
      {"(update r a v)", "(UPDATE_R r a v)"},
      {"(select t 1)", "(SELECT_T t 1)"},
      {"(select r a)", "(SELECT_R r a)"},
      {"(f 1 2)", "(APP f [1 2])"},
      {"(1 2)", "(APP 1 [2])"},
      {"(=  a   b )", "(EQ a b)"},
      {"(=\n\ta\r\n b\n)", "(EQ a b)"},
      {"(= (h 1 2) -5/3)", "(EQ (APP h [1 2]) -5/3)"},
  });
}

TEST(ReplyExpr, WorkedMessages) {
  const std::string all =
      "expecting white space, \"and\", \"or\", \"not\", \"=>\", \"=\", \"/=\", \"<\", \"<=\", \">\", "
      "\">=\", \"+\", \"-\", \"*\", \"/\", \"div\", \"mod\", \"if\", \"ite\", \"let\", \"forall\", "
      "\"exists\", \"lambda\", \"mk-tuple\", \"mk-record\", \"update\", \"select\", boolean, rational, "
      "integer, identifier or \"(\"";
  expectErrors({
      {"()", "\"parseExpYs\" (line 1, column 2):\nunexpected \")\"\n" + all},
      {"(", "\"parseExpYs\" (line 1, column 2):\nunexpected end of input\n" + all},
      {" x", "\"parseExpYs\" (line 1, column 2):\nunexpected \"x\"\nexpecting space, \"-\" or digit"},
      {"(= x\n",
       "\"parseExpYs\" (line 2, column 1):\nunexpected end of input\nexpecting space, boolean, rational, "
       "integer, identifier, white space or \"(\""},
      {"(forall (x::(subtypo y)) true)",
       "\"parseExpYs\" (line 1, column 14):\nunexpected \"s\"\nexpecting white space, \"subtype\", "
       "\"subrange\", \"->\", \"tuple\", \"record\", \"datatype\" or \"scalar\""},
  });
}

TEST(ReplyExpr, Failures) {
  expectErrors({
      {" (= x 1)", "\"parseExpYs\" (line 1, column 2):\nunexpected \"(\"\nexpecting space, \"-\" or digit"},
      {"   ", "\"parseExpYs\" (line 1, column 4):\nunexpected end of input\nexpecting space, \"-\" or digit"},
      {"\tx", "\"parseExpYs\" (line 1, column 9):\nunexpected \"x\"\nexpecting space, \"-\" or digit"},
      {"- 5", "\"parseExpYs\" (line 1, column 2):\nunexpected \" \"\nexpecting digit"},
      {"(= x 1) (", "\"parseExpYs\" (line 1, column 10):\nunexpected end of input\n"
                    "expecting white space, \"and\", \"or\", \"not\", \"=>\", \"=\", \"/=\", \"<\", \"<=\", "
                    "\">\", \">=\", \"+\", \"-\", \"*\", \"/\", \"div\", \"mod\", \"if\", \"ite\", \"let\", "
                    "\"forall\", \"exists\", \"lambda\", \"mk-tuple\", \"mk-record\", \"update\", \"select\", "
                    "boolean, rational, integer, identifier or \"(\""},
      // too few operands: the ")" where an operand should start
      {"(and)", "\"parseExpYs\" (line 1, column 5):\nunexpected \")\"\nexpecting white space, boolean, "
                "rational, integer, identifier or \"(\""},
      {"(f)", "\"parseExpYs\" (line 1, column 3):\nunexpected \")\"\nexpecting letter or digit, white space, "
              "boolean, rational, integer, identifier or \"(\""},
      // a surplus operand where ")" is required
      {"(not a b)", "\"parseExpYs\" (line 1, column 8):\nunexpected \"b\"\nexpecting space, white space or \")\""},
      {"(let (x : 1) x)", "\"parseExpYs\" (line 1, column 9):\nunexpected \":\"\nexpecting space, \"::\", boolean, "
                          "rational, integer, identifier, white space or \"(\""},
      {"(mk-record a 1)", "\"parseExpYs\" (line 1, column 14):\nunexpected \"1\"\nexpecting space, white space or \"::\""},
      {"(select r (a))", "\"parseExpYs\" (line 1, column 11):\nunexpected \"(\"\nexpecting space, integer or identifier"},
      {"(select t -)", "\"parseExpYs\" (line 1, column 12):\nunexpected \")\"\nexpecting digit"},
      // after "::" a let binding reads one name or one parenthesised form, not a dependent type
      {"(let (x::y::int 1) x)", "\"parseExpYs\" (line 1, column 11):\nunexpected \":\"\nexpecting letter or digit, "
                                "white space, boolean, rational, integer, identifier or \"(\""},
      {"(let (x::123 1) x)", "\"parseExpYs\" (line 1, column 10):\nunexpected \"1\"\nexpecting white space, "
                             "identifier or \"(\""},
  });
  // The remaining failures by their position only.
  struct Case { std::string text, where; } cases[] = {
      {"(or)", "(line 1, column 4)"},          {"(= a)", "(line 1, column 5)"},
      {"(let ((x 1)) x)", "(line 1, column 7)"}, {"(forall () p)", "(line 1, column 10)"},
      {"(mk-tuple 1)", "(line 1, column 12)"},  {"(order)", "(line 1, column 7)"},
      {"(mk-tuplex 1 2)", "(line 1, column 5)"}, {"(update f (1 2)", "(line 1, column 16)"},
      {"(= x 1) (", "(line 1, column 10)"},
  };
  for (const auto& c : cases) {
    std::string msg = fatalOf([&] { readAll(c.text); });
    EXPECT_EQ(msg.substr(0, msg.find(':')), "\"parseExpYs\" " + c.where) << c.text << "\n" << msg;
  }
}

TEST(ReplyExpr, EntryPointsNameTheirSource) {
  EXPECT_EQ(fatalOf([] { parseExpY(" x"); }),
            "\"parseExpY\" (line 1, column 2):\nunexpected \"x\"\nexpecting space, \"-\" or digit");
  EXPECT_EQ(treetext::exp(parseExpY("(= x 1) trailing ) junk")), "(EQ x 1)");
  EXPECT_EQ(fatalOf([] { parseExpY(""); }),
            "\"parseExpY\" (line 1, column 1):\nunexpected end of input\nexpecting boolean, rational, integer, "
            "identifier, white space or \"(\"");
}

TEST(ReplyExpr, LongNumbers) {
  const std::string digits = repeated("9876543210", 500);  // 5000 digits
  std::vector<ExpYP> es;
  ASSERT_EQ(fatalOf([&] { es = parseExpYs("(= x -" + digits + ") " + digits + "0/" + digits + " -0000" + digits); }),
            "<no error>");
  ASSERT_EQ(es.size(), 3u);
  const auto* eq = es[0]->as<EQ>();
  ASSERT_NE(eq, nullptr);
  const auto* i = eq->right->as<LitI>();
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->value.get_str(), "-" + digits);
  const auto* r = es[1]->as<LitR>();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->value.num, 10);  // reduced
  EXPECT_EQ(r->value.den, 1);
  EXPECT_EQ(treetext::exp(es[2]), "-" + digits);
}

TEST(ReplyExpr, ZeroDenominatorFailsOnlyWhenUsed) {
  std::vector<ExpYP> es;
  ASSERT_EQ(fatalOf([&] { es = parseExpYs("(= x 5/0) (= y -3/0)"); }), "<no error>");
  ASSERT_EQ(es.size(), 2u);
  const auto* eq = es[0]->as<EQ>();
  ASSERT_NE(eq, nullptr);
  const auto* r = eq->right->as<LitR>();
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->value.zeroDenominator());
  EXPECT_EQ(r->value.num, 5);
  EXPECT_EQ(fatalOf([&] { (void)r->value.value(); }), "Ratio.%: zero denominator");
  EXPECT_EQ(fatalOf([&] { (void)showExpY(*es[1]); }), "Ratio.%: zero denominator");
}

TEST(ReplyExpr, DeepNestingIsAFatalErrorNotACrash) {
  const std::string tooDeep[] = {
      repeated("(", 100000),
      repeated("(f ", 100000),
      repeated("(not ", 100000) + "x",
      "(forall (x::" + repeated("(-> int ", 100000),
      "(let (x::" + repeated("(tuple int ", 100000),
  };
  for (const auto& t : tooDeep) {
    std::string msg = fatalOf([&] { parseExpYs(t); });
    EXPECT_EQ(msg.rfind("input nests too deeply", 0), 0u) << msg.substr(0, 200);
  }
  // Nesting of a few hundred levels is read.
  std::string deep = repeated("(not ", 500) + "x" + repeated(")", 500);
  std::string got = readAll(deep);
  EXPECT_EQ(got, repeated("(NOT ", 500) + "x" + repeated(")", 500));
}

TEST(ReplyExpr, UntrackedAndTrackedRunsAgree) {
  // The first run of a parse skips alternatives that cannot start at the current character;
  // it must reach the same outcome and stop at the same place as the tracking run.
  const std::string texts[] = {
      "(= (f 3 7) g_obj2)", "x", " x", " 7", "-5", "1/2", "-", "()", "(", "truex", "true", "tru",
      "(ordered 1)",        "(<= a b)", "(=> a b)", "(> a", "(mk-tuple 1 2)", "(let (x::int 1) x)",
      "(update f () 3)",    "(select t a)", ")", "\t", "(iffy a b c)", "(f (g", "(forall (x::(-> a b)) p)",
      "(= trueCount 3)",    "(notify x)", "(mk-tuplex 1 2)", " truex", "(let (x 1 y) x)", "(update t x)",
  };
  for (const auto& t : texts) {
    auto a = treetext::run<ExpYP>(grammar::expY, t, false);
    auto b = treetext::run<ExpYP>(grammar::expY, t, true);
    EXPECT_EQ(a.out, b.out) << t;
    if (vorlax::parsing::isOk(a.out)) {
      EXPECT_EQ(a.rest, b.rest) << t;
      EXPECT_EQ(treetext::exp(a.value), treetext::exp(b.value)) << t;
    }
  }
}

TEST(ReplyExpr, NestingUpToTheBoundIsReadWithoutExhaustingTheStack) {
  // The grammar reads nesting up to its bound of 1000 levels, each parenthesised expression,
  // type and type form one level, in every build, the sanitized one with its larger frames
  // included; one level more is the fatal error.
  const std::string tooDeep = "input nests too deeply (more than 1000 levels)";
  struct Case {
    std::string text;
    bool read;
  } cases[] = {
      {repeated("(not ", 999) + "x" + repeated(")", 999), true},
      {repeated("(not ", 1000) + "x" + repeated(")", 1000), false},
      {repeated("(and ", 999) + "x" + repeated(")", 999), true},
      {repeated("(f ", 999) + "x" + repeated(" 1)", 999), true},
      {repeated("(update x 1 ", 999) + "x" + repeated(")", 999), true},
      {"(forall (x::" + repeated("(tuple int ", 499) + "int" + repeated(")", 499) + ") p)", true},
      {"(forall (x::" + repeated("(tuple int ", 500) + "int" + repeated(")", 500) + ") p)", false},
  };
  for (const auto& c : cases) {
    std::vector<ExpYP> es;
    const std::string msg = fatalOf([&] { es = parseExpYs(c.text); });
    EXPECT_EQ(msg, c.read ? "<no error>" : tooDeep) << c.text.substr(0, 40);
    if (c.read) {
      EXPECT_EQ(es.size(), 1u) << c.text.substr(0, 40);
    }
  }
}
