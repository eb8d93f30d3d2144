// The type checker from domain text: each case is a domain file and either the exact
// message of the first type error or every typed clause, procedures first, each list in
// stored order (last declared first), as "name: text" lines.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "parser.hpp"
#include "typecheck.hpp"

namespace vorlax::tc {
namespace {

std::string typedClauses(const Domain& d) {
  std::string out;
  auto add = [&](const std::vector<Procedure>& ps) {
    for (const Procedure& p : ps)
      for (const auto* list : {&p.prcdReq, &p.prcdEns})
        for (const Clause& c : *list) {
          if (!out.empty()) out += '\n';
          out += c.clauseName + ": " + showTExpr(*c.clauseExpr);
        }
  };
  add(d.domProcs);
  add(d.domFuncs);
  return out;
}

// "ok\n" and the typed clauses, or "error\n" and the message.
std::string check(const std::string& text) {
  auto parsed = parser::parseDomain("test.dom", text);
  if (!parsed.ok) return "parse error: " + parsing::showParseFailure(parsed.failure);
  Checked<Domain> r = typecheckDomain(parsed.value);
  return r.ok ? "ok\n" + typedClauses(r.value) : "error\n" + r.error;
}

struct Case {
  const char* domain;
  const char* expect;
};

TEST(TypecheckDomainText, MessagesAndTypedClauses) {
  const Case cases[] = {
      // the order of the checks
      {"f(x: Int): Int require a: y = 1\n"
       "p() require b: z = 1\n",
       "error\nz not found in declarations"},
      {"p1() require a: y\n"
       "p2() require b: z\n",
       "error\nz not found in declarations"},
      {"f1(): Int ensure a: y\n"
       "f2(): Int ensure b: z\n",
       "error\nz not found in declarations"},
      {"p() require r: a ensure e: b\n", "error\na not found in declarations"},
      {"p() require r1: True r2: a\n", "error\na not found in declarations"},
      {"f(a: Int, b: Int): Int\n"
       "p() require r: f(y) = 1\n",
       "error\ny not found in declarations"},
      {"f(a: Int, b: Int): Int\n"
       "p(y: Int) require r: f(y) = 1\n",
       "error\nArguments not same length"},
      {"f(a: Int, b: Int): Int\n"
       "p(y: Int) require r: f(y, y + True) = 1\n",
       "error\n(Var \"y\" Int,LitBool True) are unsuitable arguments for Add"},
      {"h(d: Double): Int\n"
       "p(x: Int) require r: h(x) = 1\n",
       "error\nSome types don't conform in arguments"},
      // calls
      {"q()\n"
       "p() require r: q()\n",
       "error\nCoudln't find function q"},
      {"f(): Int\n"
       "f(): Bool\n"
       "p() require r: f()\n",
       "ok\nr: Call \"f\" [] Bool"},
      {"f(): Int\n"
       "f(): Bool\n"
       "p() require r: f() + 1\n",
       "error\n(Call \"f\" [] Bool,LitInt 1) are unsuitable arguments for Add"},
      {"fact(k: Int): Int ensure e: Result = fact(k - 1) * k\n",
       "ok\ne: BinOpExpr (RelOp Eq notype) (ResultVar Int) (BinOpExpr Mul (Call \"fact\" "
       "[BinOpExpr Sub (Var \"k\" Int) (LitInt 1) Int] Int) (Var \"k\" Int) Int) Bool"},
      // Result
      {"p() ensure e: Result = 1\n", "error\n(ResultVar notype,LitInt 1) are unsuitable arguments for Eq"},
      {"p() require r: Result = 1\n", "error\n(ResultVar notype,LitInt 1) are unsuitable arguments for Eq"},
      {"p() ensure e: Result.x = 1\n", "error\nnotype not a struct"},
      {"p() ensure e: Result = null\n",
       "ok\ne: BinOpExpr (RelOp Eq notype) (ResultVar notype) (LitNull notype) Bool"},
      {"g(): Int require r: Result > 0 ensure e: Result = 1\n",
       "ok\nr: BinOpExpr (RelOp Gt notype) (ResultVar Int) (LitInt 0) Bool\n"
       "e: BinOpExpr (RelOp Eq notype) (ResultVar Int) (LitInt 1) Bool"},
      {"type S { v: Int }\n"
       "mk(): S ensure e: Result.v = 0 and old(Result) /= null\n",
       "ok\ne: BinOpExpr And (BinOpExpr (RelOp Eq notype) (Access (ResultVar S) \"v\" Int) (LitInt "
       "0) Bool) (BinOpExpr (RelOp Neq notype) (UnOpExpr Old (ResultVar S) S) (LitNull S) Bool) Bool"},
      // old
      {"p(x: Int) ensure e: old x = x\n",
       "ok\ne: BinOpExpr (RelOp Eq notype) (UnOpExpr Old (Var \"x\" Int) Int) (Var \"x\" Int) Bool"},
      {"p() ensure e: old Result = null\n",
       "ok\ne: BinOpExpr (RelOp Eq notype) (UnOpExpr Old (ResultVar notype) notype) (LitNull "
       "notype) Bool"},
      {"p(x: Int) ensure e: old null = x\n", "error\nCan't typecheck null"},
      // null
      {"p(x: Int) require r: x = null\n",
       "ok\nr: BinOpExpr (RelOp Eq notype) (Var \"x\" Int) (LitNull Int) Bool"},
      {"p(x: Int) require r: null /= x\n",
       "ok\nr: BinOpExpr (RelOp Neq notype) (LitNull Int) (Var \"x\" Int) Bool"},
      {"p() require r: null = null\n",
       "ok\nr: BinOpExpr (RelOp Eq notype) (LitNull NONE) (LitNull NONE) Bool"},
      {"p(x: Int) require r: null < x\n", "error\nCan't typecheck null"},
      {"p() require r: null + 1 = 2\n", "error\nCan't typecheck null"},
      {"p() require r: null\n", "error\nCan't typecheck null"},
      // operators
      {"p() require r: 1 + True\n", "error\n(LitInt 1,LitBool True) are unsuitable arguments for Add"},
      {"p(a: Bool, b: Bool) require r: a < b implies not a\n",
       "error\n(Var \"a\" Bool,Var \"b\" Bool) are unsuitable arguments for Lt"},
      {"type S { n: S }\np(s: S) require r: s.n >= s\n",
       "error\n(Access (Var \"s\" S) \"n\" S,Var \"s\" S) are unsuitable arguments for Gte"},
      {"p(a: Bool, b: Bool) require r: a /= b implies not a\n",
       "ok\nr: BinOpExpr Implies (BinOpExpr (RelOp Neq notype) (Var \"a\" Bool) (Var \"b\" Bool) "
       "Bool) (UnOpExpr Not (Var \"a\" Bool) Bool) Bool"},
      {"p(x: Int, d: Double) require r: x <= d\n",
       "error\n(Var \"x\" Int,Var \"d\" Double) are unsuitable arguments for Lte"},
      {"p(x: Int) require r: x = - -5\n",
       "ok\nr: BinOpExpr (RelOp Eq notype) (Var \"x\" Int) (UnOpExpr Neg (LitInt (-5)) Int) Bool"},
      {"p(x: Int) require r: x = -2147483647 - 1\n",
       "ok\nr: BinOpExpr (RelOp Eq notype) (Var \"x\" Int) (BinOpExpr Sub (UnOpExpr Neg (LitInt 2147483647) Int) "
       "(LitInt 1) Int) Bool"},
      {"p(x: Int) require r: not x\n", "error\n(Var \"x\" Int) is an unsuitable argument for Not"},
      {"p(b: Bool) require r: -b = b\n", "error\n(Var \"b\" Bool) is an unsuitable argument for Neg"},
      // names and fields
      {"p(k: Bool, k: Int) require r: k\n", "ok\nr: Var \"k\" Bool"},
      {"p(x': Int) require r: x' > 0\n",
       "ok\nr: BinOpExpr (RelOp Gt notype) (Var \"x'\" Int) (LitInt 0) Bool"},
      {"type S { v: Int }\n"
       "p(s: S, t: T) require r: t.v = 1\n",
       "error\n<T> not found"},
      {"type S { v: Int }\n"
       "p(s: S) require r: s.w = 1\n",
       "error\nw not found in declarations"},
      {"p(x: Int) require r: x.v = 1\n", "error\nInt not a struct"},
      {"type S { v: Int v: Bool }\n"
       "type S { w: Int }\n"
       "p(s: S[Int]) require r: s.v\n",
       "error\nv not found in declarations"},
      {"type S { v: Int v: Bool }\n"
       "p(s: S) require r: s.v = 1\n",
       "ok\nr: BinOpExpr (RelOp Eq notype) (Access (Var \"s\" S) \"v\" Int) (LitInt 1) Bool"},
      {"type S { v: Bool }\n"
       "type S { v: Int }\n"
       "p(s: S[Int]) require r: s.v\n",
       "error\nclause r of procedure p has type Int, not Bool"},
      // every clause is a condition
      {"p(x: Int) require r: x + 1\n", "error\nclause r of procedure p has type Int, not Bool"},
      {"p(d: Double) require r: d = d ensure e: d\n", "error\nclause e of procedure p has type Double, not Bool"},
      {"type S { n: S }\np(s: S) ensure e: s.n\n", "error\nclause e of procedure p has type S, not Bool"},
      {"f(x: Int): Int require r: x ensure e: Result = x\n", "error\nclause r of function f has type Int, not Bool"},
      {"f(x: Int): Int ensure e: Result\n", "error\nclause e of function f has type Int, not Bool"},
      // nothing to check
      {"", "ok\n"},
      {"type S { v: Int }\np()\nf(): Int\n", "ok\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(check(c.domain), c.expect) << c.domain;
}

TEST(TypecheckDomainText, Examples) {
  for (const char* name : {"bank.dom", "list.dom", "stack.dom"}) {
    std::ifstream in(std::string(VORLAX_EXAMPLES) + "/" + name, std::ios::binary);
    ASSERT_TRUE(in) << name;
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(check(text.str()).substr(0, 3), "ok\n") << name << ": " << check(text.str());
  }
}

// The parser bounds nesting at 1000 levels; the checker and the text form handle trees of
// that depth, and a long chain, without trouble.
TEST(TypecheckDomainText, DeepInput) {
  std::string nested = "p(x: Int) require r: ";
  for (int i = 0; i < 100; ++i) nested += "(";
  nested += "x";
  for (int i = 0; i < 100; ++i) nested += " + 1)";
  nested += " > 0\n";
  EXPECT_EQ(check(nested).substr(0, 3), "ok\n");

  std::string chain = "p(b: Bool) require r: b";
  for (int i = 0; i < 998; ++i) chain += " and b";
  chain += " and 1\n";
  std::string expected = "error\n(";
  std::string got = check(chain);
  EXPECT_EQ(got.substr(0, expected.size()), expected);
  const std::string tail = " Bool,LitInt 1) are unsuitable arguments for And";
  ASSERT_GT(got.size(), tail.size());
  EXPECT_EQ(got.substr(got.size() - tail.size()), tail) << got.substr(0, 200);
}

}  // namespace
}  // namespace vorlax::tc
