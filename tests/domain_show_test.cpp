#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "ast.hpp"
#include "goal.hpp"

using namespace vorlax;
using namespace vorlax::ast;

namespace {

ExprP var(std::string n) { return mk(Var{std::move(n)}); }
ExprP lit(int v) { return mk(LitInt{v}); }
ExprP bin(BinOp op, ExprP l, ExprP r) { return mk(BinOpExpr{op, std::move(l), std::move(r)}); }

std::string intAt(long long v, int prec) {
  std::ostringstream os;
  showIntAt(os, v, prec);
  return os.str();
}

std::string doubleAt(double v, int prec) {
  std::ostringstream os;
  showDoubleAt(os, v, prec);
  return os.str();
}

}  // namespace

TEST(ShowExpr, OwnForm) {
  struct Case {
    ExprP e;
    std::string want;
  } cases[] = {
      {mk(Call{"f", {}}), "f()"},
      {mk(Call{"max", {var("a"), lit(1)}}), "max(a,1)"},
      {bin(BinOp{BinOp::Add}, var("x"), lit(1)), "(x) Add (1)"},
      {bin(BinOp::rel(ROp::Lte), bin(BinOp{BinOp::Mul}, var("x"), var("y")), mk(Call{"limit", {var("z")}})),
       "((x) Mul (y)) RelOp Lte notype (limit(z))"},
      {bin(BinOp{BinOp::Sub}, var("x"), lit(-7)), "(x) Sub (-7)"},
      {mk(UnOpExpr{UnOp::Neg, lit(7)}), "Neg (7)"},
      {mk(UnOpExpr{UnOp::Old, mk(Access{var("acc"), "balance"})}), "Old (acc.balance)"},
      {mk(Access{mk(Access{var("a"), "b"}), "c"}), "a.b.c"},
      {mk(Access{mk(Call{"owner", {var("acc")}}), "name"}), "owner(acc).name"},
      {mk(Access{bin(BinOp{BinOp::Add}, var("x"), var("y")), "f"}), "(x) Add (y).f"},
      {bin(BinOp::rel(ROp::Eq), mk(ResultVar{}), mk(LitNull{})), "(Result) RelOp Eq notype (null)"},
      {mk(UnOpExpr{UnOp::Not, mk(LitBool{true})}), "Not (True)"},
      {mk(Cast{IntType{}, var("x")}), "{Int}x"},
      {mk(LitDouble{-2.5}), "-2.5"},
      {bin(BinOp{BinOp::ArrayIndex}, var("a"), lit(0)), "(a) ArrayIndex (0)"},
      {bin(BinOp::rel(ROp::Eq, structType("List", {IntType{}})), var("a"), var("b")), "(a) RelOp Eq List[Int] (b)"},
      {var("\xE9" "1"), "\xE9" "1"},
  };
  for (const auto& c : cases) EXPECT_EQ(showExpr(*c.e), c.want);
  EXPECT_EQ(showExprList({var("x"), lit(1)}), "[x,1]");
  EXPECT_EQ(showExprList({}), "[]");
}

TEST(ShowExpr, OperatorsAtLevels) {
  EXPECT_EQ(showBinOp(BinOp::rel(ROp::Lt), 0), "RelOp Lt notype");
  EXPECT_EQ(showBinOp(BinOp::rel(ROp::Lt), 11), "(RelOp Lt notype)");
  EXPECT_EQ(showBinOp(BinOp{BinOp::Add}, 11), "Add");
  EXPECT_EQ(showBinOp(BinOp{BinOp::Implies}, 0), "Implies");
  const char* rops[] = {"Lte", "Lt", "Eq", "Neq", "Gt", "Gte"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(showROp(static_cast<ROp>(i)), rops[i]);
  EXPECT_EQ(showUnOp(UnOp::Not) + showUnOp(UnOp::Neg) + showUnOp(UnOp::Old), "NotNegOld");
}

TEST(ShowDerived, StringsNumbers) {
  struct Case {
    std::string in, want;
  } strings[] = {
      {"S", "\"S\""},
      {"it's", "\"it's\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\xE9" "1", "\"\\233\\&1\""},
      {"\xE9x", "\"\\233x\""},
      {"\x0EH", "\"\\SO\\&H\""},
      {"\x0E" "h", "\"\\SOh\""},
      {std::string("\n\t\x7F\0\x1F\x07", 6), "\"\\n\\t\\DEL\\NUL\\US\\a\""},
      {"\x01" "2", "\"\\SOH2\""},
  };
  for (const auto& c : strings) EXPECT_EQ(showStringField(c.in), c.want) << c.want;
  EXPECT_EQ(intAt(-5, 0), "-5");
  EXPECT_EQ(intAt(-5, 11), "(-5)");
  EXPECT_EQ(intAt(5, 11), "5");
  struct DCase {
    double v;
    std::string want;
  } doubles[] = {
      {0.5, "0.5"},           {1.0, "1.0"},         {1234567.0, "1234567.0"},
      {0.01, "1.0e-2"},       {1.0e7, "1.0e7"},     {12345678.0, "1.2345678e7"},
      {0.1, "0.1"},           {0.0, "0.0"},         {100.0, "100.0"},
      {123.456, "123.456"},   {1e22, "1.0e22"},     {5e-324, "5.0e-324"},
      {0.30000000000000004, "0.30000000000000004"}, {-0.0, "-0.0"},
      {std::numeric_limits<double>::infinity(), "Infinity"},
  };
  for (const auto& c : doubles) EXPECT_EQ(doubleAt(c.v, 0), c.want) << c.want;
  EXPECT_EQ(doubleAt(-1.5, 11), "(-1.5)");
  EXPECT_EQ(doubleAt(-0.0, 11), "(-0.0)");
  EXPECT_EQ(doubleAt(1.5, 11), "1.5");
}

TEST(ShowDerived, RecordsAndTheWorkedDomain) {
  ast::Domain empty;
  EXPECT_EQ(showDomain(empty), "Domain {domStructs = [], domProcs = [], domFuncs = []}");
  EXPECT_EQ(showDomain(empty, 11), "(Domain {domStructs = [], domProcs = [], domFuncs = []})");
  Struct s{"S", {{"v", IntType{}}}};
  EXPECT_EQ(showStruct(s, 11), "(Struct {structName = \"S\", structDecls = [v: Int]})");
  EXPECT_EQ(showStruct(Struct{"\xE9" "1", {}}), "Struct {structName = \"\\233\\&1\", structDecls = []}");

  ast::Domain d;
  d.domStructs = {s};
  ast::Clause r{"r", bin(BinOp::rel(ROp::Gt), var("n"), lit(0))};
  ast::Clause e{"e", bin(BinOp::rel(ROp::Eq), mk(Access{var("a"), "v"}),
                    bin(BinOp{BinOp::Add}, mk(UnOpExpr{UnOp::Old, mk(Access{var("a"), "v"})}), var("n")))};
  d.domProcs = {ast::Procedure{"p", {{"a", structType("S")}, {"n", IntType{}}}, NoType{}, {r}, {e}}};
  EXPECT_EQ(showDomain(d),
            "Domain {domStructs = [Struct {structName = \"S\", structDecls = [v: Int]}], domProcs = [Procedure "
            "{prcdName = \"p\", prcdArgs = [a: S,n: Int], prcdResult = notype, prcdReq = [Clause {clauseName = "
            "\"r\", clauseExpr = (n) RelOp Gt notype (0)}], prcdEns = [Clause {clauseName = \"e\", clauseExpr = "
            "(a.v) RelOp Eq notype ((Old (a.v)) Add (n))}]}], domFuncs = []}");
  EXPECT_EQ(showClause(r, 11), "(Clause {clauseName = \"r\", clauseExpr = (n) RelOp Gt notype (0)})");
  EXPECT_EQ(showProcedure(ast::Procedure{"f'", {}, structType("L", {BoolType{}}), {}, {}}),
            "Procedure {prcdName = \"f'\", prcdArgs = [], prcdResult = L[Bool], prcdReq = [], prcdEns = []}");
}

TEST(ShowDerived, SerialGoal) {
  SerialGoal g{{{"a", structType("S")}},
               {bin(BinOp::rel(ROp::Eq), mk(Access{var("a"), "v"}), lit(0))},
               mpz_class(5),
               bin(BinOp::rel(ROp::Eq), mk(Access{var("a"), "v"}), lit(10))};
  const std::string text =
      "SerialGoal {vars = [a: S], values = [(a.v) RelOp Eq notype (0)], goalSteps = 5, goalExpr = (a.v) RelOp "
      "Eq notype (10)}";
  EXPECT_EQ(showSerialGoal(g), text);
  EXPECT_EQ(showSerialGoal(g, 11), "(" + text + ")");
  g.goalSteps = mpz_class("-123456789012345678901234567890");
  EXPECT_NE(showSerialGoal(g).find("goalSteps = -123456789012345678901234567890,"), std::string::npos);
}

TEST(ShowDerived, WritesTextBeforeAFailure) {
  // the text in front of an unbuildable access reaches the stream before the fatal error
  ExprP bad = mk(Access{var("p"), "", false});
  std::ostringstream os;
  EXPECT_THROW(showExpr(os, *bin(BinOp{BinOp::Add}, var("x"), bad)), std::exception);
  EXPECT_EQ(os.str(), "(x) Add (p.");
}
