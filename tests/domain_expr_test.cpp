#include <gtest/gtest.h>

#include "ast.hpp"
#include "domain_support.hpp"
#include "fatal.hpp"
#include "parser.hpp"
#include "parsing/large_stack.hpp"

using namespace vorlax;
using testing_support::outcome;

namespace {

std::string exprText(const ast::ExprP& e) { return ast::showExpr(*e); }

std::string parse(const std::string& text) { return outcome(parser::expr, text, exprText); }

struct Case {
  std::string input, want;
};

const std::string kTermExpect =
    "expecting integer, \"null\", \"True\", \"False\", \"Result\", identifier or \"(\"";

}  // namespace

TEST(ExprGrammar, LevelsAndAssociativity) {
  const Case cases[] = {
      {"a - b - c", "ok ((a) Sub (b)) Sub (c) | "},
      {"a implies b implies c", "ok ((a) Implies (b)) Implies (c) | "},
      {"a or b and c", "ok ((a) Or (b)) And (c) | "},
      {"a < b = c", "ok ((a) RelOp Lt notype (b)) RelOp Eq notype (c) | "},
      {"a <= b /= c >= d > e", "ok ((((a) RelOp Lte notype (b)) RelOp Neq notype (c)) RelOp Gte notype (d)) RelOp Gt notype (e) | "},
      {"a + b * c / d", "ok (a) Add (((b) Mul (c)) Div (d)) | "},
      {"a = b + 1 and c", "ok ((a) RelOp Eq notype ((b) Add (1))) And (c) | "},
      {"not a = b", "ok (Not (a)) RelOp Eq notype (b) | "},
      {"-a * b", "ok (Neg (a)) Mul (b) | "},
      {"-p.f", "ok Neg (p.f) | "},
      {"old p.f + 1", "ok (Old (p.f)) Add (1) | "},
      {"- old x", "ok Neg (Old (x)) | "},
      {"not (not p)", "ok Not (Not (p)) | "},
      {"old(a.balance) + v", "ok (Old (a.balance)) Add (v) | "},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.input), c.want) << c.input;
}

TEST(ExprGrammar, WordOperatorsAndPrefixes) {
  const Case cases[] = {
      {"not not p", "ok Not (not) | p"},
      {"old old x", "ok Old (old) | x"},
      // a word operator is a whole word, so names that begin with one stay names
      {"nothing", "ok nothing | "},
      {"oldValue", "ok oldValue | "},
      {"notify(x)", "ok notify(x) | "},
      {"p > 0 order", "ok (p) RelOp Gt notype (0) | order"},
      {"a andy", "ok a | andy"},
      {"not(p) and(q)", "ok (Not (p)) And (q) | "},
      {"p.old", "ok p.old | "},
      {"p.not", "ok p.not | "},
      {"nullable", "ok nullable | "},
      {"Results", "ok Results | "},
      {"Truex", "ok Truex | "},
      {"True = x", "ok (True) RelOp Eq notype (x) | "},
      {"null = Result", "ok (null) RelOp Eq notype (Result) | "},
      {"False", "ok False | "},
      {"True=x", "ok (True) RelOp Eq notype (x) | "},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.input), c.want) << c.input;
}

std::string kTooBig(const std::string& n) {
  return "the integer " + n + " does not fit in Int (-2147483648 to 2147483647)";
}

TEST(ExprGrammar, SignsAndIntegers) {
  const Case cases[] = {
      {"-5", "ok Neg (5) | "},
      {"- -5", "ok Neg (-5) | "},
      {"old -1", "ok Old (-1) | "},
      {"+5", "ok 5 | "},
      {"2147483647", "ok 2147483647 | "},
      // beyond 32 bits a literal is an error, not a value modulo 2^32
      {"2147483648", "error \"t\" (line 1, column 1):\n" + kTooBig("2147483648")},
      {"0x100000000", "error \"t\" (line 1, column 1):\n" + kTooBig("4294967296")},
      {"- 4294967295", "error \"t\" (line 1, column 3):\n" + kTooBig("4294967295")},
      {"x = -2147483648", "error \"t\" (line 1, column 6):\n" + kTooBig("2147483648")},
      {"-2147483647 - 1", "ok (Neg (2147483647)) Sub (1) | "},
      {"0x7fffffff + 1", "ok (2147483647) Add (1) | "},
      {"x=-1", "ok x | =-1"},
      {"a*-b", "ok a | *-b"},
      {"a<-b", "ok a | <-b"},
      {"a--b", "ok a | "},
      {"- -x", "error \"t\" (line 1, column 4):\nunexpected \"x\"\nexpecting digit"},
      {"not -x", "error \"t\" (line 1, column 6):\nunexpected \"x\"\nexpecting digit"},
      {"+x", "error \"t\" (line 1, column 2):\nunexpected \"x\"\nexpecting digit"},
      {"old -x", "error \"t\" (line 1, column 6):\nunexpected \"x\"\nexpecting digit"},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.input), c.want) << c.input;
}

TEST(ExprGrammar, CallsAccessesAndErrors) {
  const Case cases[] = {
      {"f()", "ok f() | "},
      {"f (x, y)", "ok f(x,y) | "},
      {"max(a, g(1))", "ok max(a,g(1)) | "},
      {"p.f.g", "ok p.f.g | "},
      {"p.(f)", "ok p.f | "},
      {"owner(acc).name", "ok owner(acc).name | "},
      {"(x + y).f", "ok (x) Add (y).f | "},
      {"(((a)))", "ok a | "},
      {"a ]", "ok a | ]"},
      {"f(x,)", "error \"t\" (line 1, column 2):\nunexpected '('\nexpecting letter or digit"},
      {"f (x ]", "error \"t\" (line 1, column 3):\nunexpected '('"},
      {"(a", "error \"t\" (line 1, column 3):\nunexpected end of input\nexpecting letter or digit, operator or \")\""},
      {"(x ]", "error \"t\" (line 1, column 4):\nunexpected \"]\"\nexpecting operator or \")\""},
      {"(x + y ]", "error \"t\" (line 1, column 8):\nunexpected \"]\"\nexpecting operator, \"+\", \"-\" or \")\""},
      {"a + ", "error \"t\" (line 1, column 5):\nunexpected end of input\n" + kTermExpect},
      // an operator right at the end still expects its own end
      {"a +", "error \"t\" (line 1, column 4):\nunexpected end of input\nexpecting end of \"+\", integer, "
              "\"null\", \"True\", \"False\", \"Result\", identifier or \"(\""},
      {"a + {- open", "error \"t\" (line 1, column 12):\nunexpected end of input\nexpecting end of comment"},
      {"", "error \"t\" (line 1, column 1):\nunexpected end of input\n" + kTermExpect},
      {"@", "error \"t\" (line 1, column 1):\nunexpected \"@\"\n" + kTermExpect},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.input), c.want) << c.input;
}

// A parse runs untracked first and tracked only when it fails, so the two must take the same
// decisions: the same outcome, the same position after it and the same tree, whatever the
// untracked run skips.
TEST(ExprGrammar, TrackedAndUntrackedRunsAgree) {
  const char* inputs[] = {
      "f(x)", "f (x, y) + 1", "f -- comment\n (x)", "f()", "f(1 +)", "f(x", "f(x)(y)", "x(",
      "x", "x y", "null", "null (x)", "nullx", "True", "True(1)", "Truex", "False", "Result",
      "Result.f", "Int", "type", "Void(1)", "f(y).g + x.f", "g(h(k(1)), null)", "not f(x) and y",
      "- x", "a'b_c1", "f(,)", "f(x,)",
  };
  for (const char* in : inputs) {
    std::string seen[2];
    for (bool track : {false, true}) {
      parsing::State st(in);
      st.track = track;
      ast::ExprP e;
      parsing::Out o = parser::expr(st, e);
      seen[track] = std::to_string(static_cast<int>(o)) + " at " + std::to_string(st.in.cur - in) + ":" +
                    std::to_string(st.in.pos.line) + "." + std::to_string(st.in.pos.column) +
                    (parsing::isOk(o) ? " " + exprText(e) : std::string());
    }
    EXPECT_EQ(seen[0], seen[1]) << in;
  }
}

TEST(ExprGrammar, FieldOfNonNameIsFatalOnFirstUse) {
  // the parse succeeds; printing (or any other first use) ends with the fatal error
  for (std::string input : {"1.5", "p.f(x)", "p.Result", "p.null", "p.q.True", "a.b.(c.d)"}) {
    auto r = parsing::runParser(parser::expr, "t", input);
    ASSERT_TRUE(r.ok) << input;
    try {
      (void)ast::showExpr(*r.value);
      ADD_FAILURE() << "no fatal error for " << input;
    } catch (const Fatal& f) {
      EXPECT_NE(f.message.find("dotBinary"), std::string::npos) << f.message;
    }
  }
}

TEST(ExprGrammar, ChainsAreLongAndNestingIsDeepBeforeACleanFatal) {
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  auto chain = [](const std::string& op, int n) {
    std::string out = "a";
    for (int i = 1; i < n; ++i) out += op + "a";
    return out;
  };
  auto nested = [&](const std::string& open, int n) { return repeat(open, n) + "x" + repeat(")", n); };
  const std::string tooDeep = "input nests too deeply (more than 10000 levels)";
  const std::string treeTooDeep = "an expression is too deep (more than 100000 operators inside one another)";
  struct Case {
    std::string input;
    std::string want;
  };
  const std::vector<Case> cases = {
      // a chain of operators is read in a loop; only its tree depth is bounded
      {chain("+", 2000), "ok"},
      {chain(" and ", 1000), "ok"},
      {chain(" * ", 100000), "ok"},
      {chain(".", 100000), "ok"},
      {chain("+", 100001), treeTooDeep},
      {chain(".", 100001), treeTooDeep},
      {chain("+", 1000000), treeTooDeep},
      // parentheses and argument lists nest, one level each
      {nested("(", 10000), "ok"},
      {nested("f(", 10000), "ok"},
      {nested("not (", 10000), "ok"},
      {nested("(", 10001), tooDeep},
      {nested("f(", 10001), tooDeep},
      {nested("(", 1000000), tooDeep},
  };
  for (const Case& c : cases) {
    std::string got;
    parsing::runWithLargeStack([&] {
      try {
        auto r = parsing::runParser(parser::expr, "t", c.input, parser::kMaxNesting);
        got = r.ok ? "ok" : "error";
      } catch (const Fatal& f) {
        got = f.message;
      }
    });
    EXPECT_EQ(got, c.want) << c.input.substr(0, 40) << " (" << c.input.size() << " characters)";
  }
  // the deepest trees can be printed, compared and released
  parsing::runWithLargeStack([&] {
    auto r = parsing::runParser(parser::expr, "t", chain("-", 100000));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(ast::showExpr(*r.value).size(), 999991u);  // 1 + 10 per operator
    EXPECT_EQ(*r.value, *parsing::runParser(parser::expr, "t", chain("-", 100000)).value);
  });
}
