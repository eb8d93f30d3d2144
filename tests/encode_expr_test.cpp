// Translation of typed expressions into solver text, and the solver types of domain types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fatal.hpp"
#include "parser.hpp"
#include "parsing/large_stack.hpp"
#include "yices.hpp"

namespace vorlax {
namespace {

namespace y = yices;
using tc::TExprP;

const Type kInt = IntType{};
const Type kBool = BoolType{};
const Type kAcc = structType("Account");

TExprP var(const std::string& n, Type t = kInt) { return tc::mk(tc::Var{n, std::move(t)}); }
TExprP acc(TExprP x, const std::string& f, Type t = kInt) {
  return tc::mk(tc::Access{std::move(x), f, std::move(t)});
}
TExprP lit(int k) { return tc::mk(tc::LitInt{k}); }
TExprP bin(BinOp op, TExprP a, TExprP b, Type t = kInt) {
  return tc::mk(tc::BinOpExpr{std::move(op), std::move(a), std::move(b), std::move(t)});
}
TExprP rel(ROp r, TExprP a, TExprP b) { return bin(BinOp::rel(r), std::move(a), std::move(b), kBool); }
TExprP un(UnOp op, TExprP x, Type t = kInt) { return tc::mk(tc::UnOpExpr{op, std::move(x), std::move(t)}); }
TExprP call(const std::string& f, std::vector<TExprP> args, Type t = kInt) {
  return tc::mk(tc::Call{f, std::move(args), std::move(t)});
}
TExprP nul(Type t) { return tc::mk(tc::LitNull{std::move(t)}); }

const TExprP a = var("a", kAcc);
const TExprP av = acc(a, "v");

std::string ensureText(const TExprP& e) { return y::showExpY(*exprY(preIdx, postIdx, *e)); }
std::string requireText(const TExprP& e) { return y::showExpY(*exprY(preIdx, preIdx, *e)); }

struct Case {
  const char* what;
  TExprP expr;
  const char* ensure;   // pre idx, cur (+ idx 1)
  const char* require;  // pre idx, cur idx
};

TEST(ExprY, TranslatesAtBothIndexPairs) {
  const std::vector<Case> cases = {
      {"access", av, "(v a (+ idx 1))", "(v a idx)"},
      {"old access", un(UnOp::Old, av), "(v a idx)", "(v a idx)"},
      {"nested old", un(UnOp::Old, un(UnOp::Old, av)), "(v a idx)", "(v a idx)"},
      {"old of a sum re-reads its whole operand",
       bin(BinOp{BinOp::Add}, av, un(UnOp::Old, bin(BinOp{BinOp::Add}, av, av))),
       "(+ (v a (+ idx 1)) (+ (v a idx) (v a idx)))", "(+ (v a idx) (+ (v a idx) (v a idx)))"},
      {"negation is a subtraction from 0", un(UnOp::Neg, var("x")), "(- 0 x)", "(- 0 x)"},
      {"not", un(UnOp::Not, var("p", kBool), kBool), "(not p)", "(not p)"},
      {"call", call("f", {av}), "((f (v a (+ idx 1))) (+ idx 1))", "((f (v a idx)) idx)"},
      {"call under old", un(UnOp::Old, call("f", {av})), "((f (v a idx)) idx)",
       "((f (v a idx)) idx)"},
      {"call without arguments", call("g", {}), "(g (+ idx 1))", "(g idx)"},
      {"access on a call", acc(call("f", {a}, kAcc), "v"), "(v ((f a) (+ idx 1)) (+ idx 1))",
       "(v ((f a) idx) idx)"},
      {"null of a structure", rel(ROp::Eq, a, nul(kAcc)), "(= a null_Account)",
       "(= a null_Account)"},
      {"integer literals", bin(BinOp{BinOp::Sub}, lit(-2147483647 - 1), lit(2147483647)),
       "(- -2147483648 2147483647)", "(- -2147483648 2147483647)"},
      {"boolean literals",
       bin(BinOp{BinOp::Implies}, tc::mk(tc::LitBool{true}), tc::mk(tc::LitBool{false}), kBool),
       "(=> true false)", "(=> true false)"},
      {"real literal", tc::mk(tc::LitDouble{0.75}), "3/4", "3/4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ensureText(c.expr), c.ensure) << c.what;
    EXPECT_EQ(requireText(c.expr), c.require) << c.what;
  }
}

TEST(ExprY, OperatorsKeepOperandOrder) {
  const TExprP x = var("x"), z = var("z");
  const std::vector<std::pair<BinOp, const char*>> ops = {
      {BinOp{BinOp::Add}, "(+ x z)"},       {BinOp{BinOp::Sub}, "(- x z)"},
      {BinOp{BinOp::Mul}, "(* x z)"},       {BinOp{BinOp::Div}, "(/ x z)"},
      {BinOp{BinOp::Or}, "(or x z)"},       {BinOp{BinOp::And}, "(and x z)"},
      {BinOp{BinOp::Implies}, "(=> x z)"},  {BinOp{BinOp::ArrayIndex}, "(x z)"},
      {BinOp::rel(ROp::Lte), "(<= x z)"},   {BinOp::rel(ROp::Lt), "(< x z)"},
      {BinOp::rel(ROp::Eq), "(= x z)"},     {BinOp::rel(ROp::Neq), "(/= x z)"},
      {BinOp::rel(ROp::Gt), "(> x z)"},     {BinOp::rel(ROp::Gte), "(>= x z)"},
  };
  for (const auto& [op, text] : ops) EXPECT_EQ(requireText(bin(op, x, z)), text) << text;
}

TEST(ExprY, GoalIndexes) {
  const auto zero = litI(0), three = litI(3);
  EXPECT_EQ(y::showExpY(*exprY(zero, three, *rel(ROp::Eq, av, un(UnOp::Old, av)))),
            "(= (v a 3) (v a 0))");
}

void expectFatal(const std::function<void()>& f, const std::string& prefix) {
  try {
    f();
    ADD_FAILURE() << "no fatal error, expected one starting with " << prefix;
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message.rfind(prefix, 0), 0u) << e.message;
  }
}

TEST(ExprY, Failures) {
  const struct {
    const char* what;
    TExprP expr;
    const char* prefix;
  } cases[] = {
      {"Result", rel(ROp::Eq, tc::mk(tc::ResultVar{NoType{}}), lit(1)), "exprY"},
      {"cast", tc::mk(tc::Cast{lit(1), kInt}), "exprY"},
      {"null compared with an integer", rel(ROp::Eq, var("x"), nul(kInt)), "nullValue"},
      {"null compared with null", rel(ROp::Eq, nul(VoidType{}), nul(VoidType{})), "nullValue"},
  };
  for (const auto& c : cases)
    expectFatal([&] { exprY(preIdx, postIdx, *c.expr); }, c.prefix);
}

TEST(ExprY, TheDeepestTreeTranslatesPrintsAndIsReleased) {
  // A chain of operators as deep as the parser admits, on the stack that a run has.
  std::size_t size = 0;
  parsing::runWithLargeStack([&] {
    TExprP e = av;
    for (int i = 1; i < parser::kMaxTreeDepth; ++i) e = bin(BinOp{BinOp::Add}, e, av);
    y::ExpYP t = exprY(preIdx, postIdx, *e);
    e.reset();
    size = y::showExpY(*t).size();
  });
  EXPECT_EQ(size, 20u * parser::kMaxTreeDepth - 5u);  // "(v a (+ idx 1))", then "(+ " .. " (v a (+ idx 1)))" a level
}

TEST(BasicTypeY, DomainTypes) {
  EXPECT_EQ(y::showTypY(*basicTypeY(kAcc)), "Account_ref");
  EXPECT_EQ(y::showTypY(*basicTypeY(structType("List", {kInt}))), "List_ref");
  EXPECT_EQ(y::showTypY(*basicTypeY(kInt)), "int");
  EXPECT_EQ(y::showTypY(*basicTypeY(DoubleType{})), "real");
  EXPECT_EQ(y::showTypY(*basicTypeY(kBool)), "bool");
  EXPECT_EQ(y::showTypY(*basicTypeY(VoidType{})), "NONE");
  try {
    basicTypeY(NoType{});
    ADD_FAILURE() << "NoType has no solver type";
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message, "no type");
  }
}

TEST(Naming, SelectorsFollowTheTypeText) {
  EXPECT_EQ(argSelStr(kInt), "Int_arg");
  EXPECT_EQ(argSelStr(kBool), "Bool_arg");
  EXPECT_EQ(argSelStr(DoubleType{}), "Double_arg");
  EXPECT_EQ(argSelStr(kAcc), "Account_arg");
  EXPECT_EQ(argSelStr(structType("List", {kInt, kAcc})), "List[Int,Account]_arg");
}

TEST(Connectives, EmptyAndSingleLists) {
  EXPECT_EQ(y::showExpY(*andPrime({})), "true");
  EXPECT_EQ(y::showExpY(*orPrime({})), "false");
  EXPECT_EQ(y::showExpY(*andPrime({varE("p")})), "(and p)");
  EXPECT_EQ(y::showExpY(*orPrime({varE("p"), varE("q")})), "(or p q)");
}

}  // namespace
}  // namespace vorlax
