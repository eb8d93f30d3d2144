#include <gtest/gtest.h>

#include <cmath>

#include "ast.hpp"
#include "domain_support.hpp"
#include "fatal.hpp"
#include "parser.hpp"
#include "types.hpp"

using namespace vorlax;
using testing_support::outcome;

namespace {

std::string typeText(const Type& t) { return showType(t); }

Type S(std::string n, std::vector<Type> a = {}) { return structType(std::move(n), std::move(a)); }

}  // namespace

TEST(Types, TextForms) {
  struct Case {
    Type t;
    std::string want;
  } cases[] = {
      {IntType{}, "Int"},
      {DoubleType{}, "Double"},
      {BoolType{}, "Bool"},
      {VoidType{}, "NONE"},
      {NoType{}, "notype"},
      {S("S"), "S"},
      {S("List", {IntType{}, S("Pair", {BoolType{}, DoubleType{}})}), "List[Int,Pair[Bool,Double]]"},
  };
  for (const auto& c : cases) EXPECT_EQ(showType(c.t), c.want);
  EXPECT_EQ(showTypeList({}), "[]");
  EXPECT_EQ(showTypeList({IntType{}, S("A", {NoType{}})}), "[Int,A[notype]]");
}

TEST(Types, EqualityAndOrdering) {
  EXPECT_EQ(S("A"), S("A"));
  EXPECT_NE(S("A"), S("A", {IntType{}}));
  EXPECT_NE(S("A"), S("a"));
  EXPECT_NE(Type(IntType{}), Type(DoubleType{}));
  // each pair strictly ascending
  std::pair<Type, Type> less[] = {
      {S("Z"), IntType{}},
      {S("B"), S("a")},
      {S("A"), S("A", {IntType{}})},
      {S("A", {IntType{}}), S("A", {BoolType{}})},
      {S("ab"), S("abc")},
      {S("z"), S("\xE9")},  // bytes compare unsigned
      {IntType{}, DoubleType{}},
      {DoubleType{}, VoidType{}},
      {VoidType{}, NoType{}},
      {NoType{}, BoolType{}},
  };
  for (const auto& [a, b] : less) {
    EXPECT_LT(compareType(a, b), 0) << showType(a) << " < " << showType(b);
    EXPECT_GT(compareType(b, a), 0) << showType(b) << " > " << showType(a);
    EXPECT_EQ(compareType(a, a), 0);
  }
}

TEST(Types, IsBasic) {
  EXPECT_TRUE(isBasic(IntType{}));
  EXPECT_TRUE(isBasic(DoubleType{}));
  EXPECT_TRUE(isBasic(BoolType{}));
  EXPECT_FALSE(isBasic(S("Int")));
  EXPECT_FALSE(isBasic(VoidType{}));
  EXPECT_FALSE(isBasic(NoType{}));
}

TEST(Types, TypeParser) {
  struct Case {
    std::string input, want;
  } cases[] = {
      {"Map [ Int , List[Bool] ]", "ok Map[Int,List[Bool]] | "},
      {"Foo[]", "ok Foo | "},
      {"Intx", "ok Intx | "},
      {"int", "ok int | "},
      {"Int[Bool]", "ok Int | [Bool]"},
      {"Double {- c -} x", "ok Double | x"},
      {"5", "error \"t\" (line 1, column 1):\nunexpected \"5\"\nexpecting \"Int\", \"Bool\", \"Double\" or identifier"},
      {"", "error \"t\" (line 1, column 1):\nunexpected end of input\nexpecting \"Int\", \"Bool\", \"Double\" or identifier"},
      {"Void ", "error \"t\" (line 1, column 1):\nunexpected reserved word \"Void\"\nexpecting \"Int\", \"Bool\", \"Double\" or letter or digit"},
      {"List[Int,]", "error \"t\" (line 1, column 10):\nunexpected \"]\"\nexpecting \"Int\", \"Bool\", \"Double\" or identifier"},
      {"List[Int", "error \"t\" (line 1, column 9):\nunexpected end of input\nexpecting end of \"Int\", \",\" or \"]\""},
      {"List[Int ", "error \"t\" (line 1, column 10):\nunexpected end of input\nexpecting \",\" or \"]\""},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(parser::typeP, c.input, typeText), c.want) << c.input;
}

TEST(Types, DeeplyNestedTypeIsACleanFatal) {
  std::string t;
  for (int i = 0; i < 100000; ++i) t += "L[";
  try {
    (void)parsing::runParser(parser::typeP, "t", t);
    FAIL() << "no fatal error";
  } catch (const Fatal& f) {
    EXPECT_EQ(f.message, "input nests too deeply (more than 1000 levels)");
  }
}

TEST(Decls, TextAndMap) {
  std::vector<Decl> ds = {{"x", IntType{}}, {"y", BoolType{}}, {"x", DoubleType{}}};
  EXPECT_EQ(showDeclList({{"balance", IntType{}}, {"items", S("List", {IntType{}})}}),
            "[balance: Int,items: List[Int]]");
  DeclMap m = declsToMap(ds);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m.at("x"), Type(IntType{}));
  EXPECT_EQ(m.at("y"), Type(BoolType{}));
  EXPECT_TRUE(declsToMap({}).empty());
  // keys by byte value, a proper prefix first
  DeclMap order = declsToMap({{"b", IntType{}}, {"\xE9", IntType{}}, {"B", IntType{}}, {"ba", IntType{}}});
  std::string keys;
  for (const auto& [k, v] : order) keys += k + ",";
  EXPECT_EQ(keys, "B,b,ba,\xE9,");
}

TEST(Procedures, FindProc) {
  auto proc = [](std::string n, std::vector<Decl> args) {
    return ast::Procedure{std::move(n), std::move(args), NoType{}, {}, {}};
  };
  ast::Domain d;
  d.domProcs = {proc("deposit", {{"later", IntType{}}}), proc("deposit", {}), proc("withdraw", {})};
  d.domFuncs = {ast::Procedure{"balance", {}, IntType{}, {}, {}}};
  EXPECT_EQ(findProcUnsafe(d, "deposit").prcdArgs.size(), 1u);
  EXPECT_TRUE(findProc(d, "withdraw").has_value());
  for (std::string missing : {"Deposit", "depo", "balance", ""}) {
    EXPECT_FALSE(findProc(d, missing).has_value()) << missing;
    EXPECT_THROW((void)findProcUnsafe(d, missing), Fatal) << missing;
  }
}

TEST(Exprs, StructuralEquality) {
  using namespace ast;
  auto x = mk(Var{"x"});
  EXPECT_NE(*mk(Call{"f", {}}), *mk(Call{"f", {mk(LitNull{})}}));
  EXPECT_EQ(*mk(LitInt{5}), *mk(LitInt{5}));
  EXPECT_NE(*mk(UnOpExpr{UnOp::Not, x}), *mk(UnOpExpr{UnOp::Neg, x}));
  EXPECT_NE(*mk(Access{x, "a"}), *mk(Access{x, "b"}));
  EXPECT_EQ(*mk(Access{mk(Var{"x"}), "a"}), *mk(Access{x, "a"}));
  EXPECT_NE(*mk(LitDouble{NAN}), *mk(LitDouble{NAN}));
  EXPECT_EQ(*mk(LitDouble{0.0}), *mk(LitDouble{-0.0}));
  EXPECT_NE(*mk(LitInt{1}), *mk(LitBool{true}));
  EXPECT_NE(BinOp::rel(ROp::Lt), BinOp::rel(ROp::Lt, IntType{}));
  EXPECT_EQ(BinOp::rel(ROp::Lt), BinOp::rel(ROp::Lt));
  EXPECT_NE(BinOp{BinOp::Add}, BinOp{BinOp::Sub});
  EXPECT_EQ(*mk(Cast{IntType{}, x}), *mk(Cast{IntType{}, x}));
  EXPECT_NE(*mk(Cast{IntType{}, x}), *mk(Cast{BoolType{}, x}));
}

TEST(Exprs, UnbuildableAccessIsFatalOnUse) {
  ast::ExprP bad = parser::dotBinary(ast::mk(ast::Var{"p"}), ast::mk(ast::LitNull{}));
  const auto* acc = bad->as<ast::Access>();
  ASSERT_NE(acc, nullptr);
  EXPECT_THROW((void)ast::accessField(*acc), Fatal);
  EXPECT_THROW((void)ast::showExpr(*bad), Fatal);
  ast::ExprP good = parser::dotBinary(ast::mk(ast::Var{"p"}), ast::mk(ast::Var{"f"}));
  EXPECT_EQ(ast::accessField(*good->as<ast::Access>()), "f");
}
