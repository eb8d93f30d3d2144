// Text form, type and equality of typed expressions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "typecheck.hpp"

namespace vorlax::tc {
namespace {

const Type kInt = IntType{};
const Type kBool = BoolType{};
const Type kNo = NoType{};
const Type kS = structType("S");
const Type kListInt = structType("List", {IntType{}});

TExprP var(std::string n, Type t) { return mk(Var{std::move(n), std::move(t)}); }
TExprP lit(std::int32_t i) { return mk(LitInt{i}); }
TExprP rel(ROp r, TExprP l, TExprP rt, Type t = BoolType{}) {
  BinOp op = BinOp::rel(r);
  return mk(BinOpExpr{std::move(op), std::move(l), std::move(rt), std::move(t)});
}

struct ShowCase {
  const char* what;
  TExprP e;
  std::string text;
};

TEST(TExprShow, EveryConstructorAndField) {
  const ShowCase cases[] = {
      {"access under an addition",
       mk(BinOpExpr{BinOp{BinOp::Add}, mk(Access{var("a", kS), "v", kInt}), lit(1), kInt}),
       "BinOpExpr Add (Access (Var \"a\" S) \"v\" Int) (LitInt 1) Int"},
      {"call in a relation",
       rel(ROp::Lte, mk(Call{"f", {var("a", kInt), var("b", kInt)}, kInt}), lit(10)),
       "BinOpExpr (RelOp Lte notype) (Call \"f\" [Var \"a\" Int,Var \"b\" Int] Int) (LitInt 10) Bool"},
      {"old compared with null",
       rel(ROp::Eq, mk(UnOpExpr{UnOp::Old, var("l", kListInt), kListInt}), mk(LitNull{kListInt})),
       "BinOpExpr (RelOp Eq notype) (UnOpExpr Old (Var \"l\" List[Int]) List[Int]) (LitNull List[Int]) Bool"},
      {"null against null", rel(ROp::Eq, mk(LitNull{VoidType{}}), mk(LitNull{VoidType{}})),
       "BinOpExpr (RelOp Eq notype) (LitNull NONE) (LitNull NONE) Bool"},
      {"relation carrying a type", mk(BinOpExpr{BinOp::rel(ROp::Gt, kListInt), lit(1), lit(2), kBool}),
       "BinOpExpr (RelOp Gt List[Int]) (LitInt 1) (LitInt 2) Bool"},
      {"negative literal", lit(-5), "LitInt (-5)"},
      {"negative literal as a field", mk(UnOpExpr{UnOp::Neg, lit(-5), kInt}),
       "UnOpExpr Neg (LitInt (-5)) Int"},
      {"smallest literal", lit(std::numeric_limits<std::int32_t>::min()), "LitInt (-2147483648)"},
      {"zero", lit(0), "LitInt 0"},
      {"true", mk(LitBool{true}), "LitBool True"},
      {"boolean as a field", mk(UnOpExpr{UnOp::Not, mk(LitBool{false}), kBool}),
       "UnOpExpr Not (LitBool False) Bool"},
      {"call without arguments", mk(Call{"f", {}, kInt}), "Call \"f\" [] Int"},
      {"negative literal as an argument", mk(Call{"f", {lit(-1), lit(2)}, kInt}),
       "Call \"f\" [LitInt (-1),LitInt 2] Int"},
      {"nested call as an argument", mk(Call{"f", {mk(Call{"g", {}, kS})}, kInt}),
       "Call \"f\" [Call \"g\" [] S] Int"},
      {"result in a procedure", mk(ResultVar{kNo}), "ResultVar notype"},
      {"result in a Bool function", mk(ResultVar{kBool}), "ResultVar Bool"},
      {"type with arguments", var("m", structType("Map", {IntType{}, BoolType{}})),
       "Var \"m\" Map[Int,Bool]"},
      {"nested type arguments", mk(LitNull{structType("L", {structType("P", {DoubleType{}})})}),
       "LitNull L[P[Double]]"},
      {"apostrophe", var("x'", kInt), "Var \"x'\" Int"},
      {"quote and backslash", var("a\"b\\c", kInt), "Var \"a\\\"b\\\\c\" Int"},
      {"access field escaped", mk(Access{var("a", kS), "f\n", kInt}),
       "Access (Var \"a\" S) \"f\\n\" Int"},
      {"cast", mk(Cast{var("x", kInt), DoubleType{}}), "Cast (Var \"x\" Int) Double"},
      {"double", mk(LitDouble{1.5}), "LitDouble 1.5"},
      {"negative double", mk(LitDouble{-1.5}), "LitDouble (-1.5)"},
      {"negative zero", mk(LitDouble{-0.0}), "LitDouble (-0.0)"},
      {"chain of relations",
       rel(ROp::Neq, rel(ROp::Lt, lit(1), lit(2)), mk(LitBool{true})),
       "BinOpExpr (RelOp Neq notype) (BinOpExpr (RelOp Lt notype) (LitInt 1) (LitInt 2) Bool) "
       "(LitBool True) Bool"},
      {"every operator name",
       mk(BinOpExpr{BinOp{BinOp::Implies},
                    mk(BinOpExpr{BinOp{BinOp::Or}, var("p", kBool), var("q", kBool), kBool}),
                    mk(BinOpExpr{BinOp{BinOp::ArrayIndex}, var("a", kS), lit(0), kNo}), kBool}),
       "BinOpExpr Implies (BinOpExpr Or (Var \"p\" Bool) (Var \"q\" Bool) Bool) "
       "(BinOpExpr ArrayIndex (Var \"a\" S) (LitInt 0) notype) Bool"},
  };
  for (const auto& c : cases) EXPECT_EQ(showTExpr(*c.e), c.text) << c.what;
}

TEST(TExprShow, ListForm) {
  EXPECT_EQ(showTExprList({}), "[]");
  EXPECT_EQ(showTExprList({var("x", kInt), mk(ResultVar{kNo})}), "[Var \"x\" Int,ResultVar notype]");
  EXPECT_EQ(showTExprList({lit(-3)}), "[LitInt (-3)]");
}

// Names are quoted strings with escapes in every constructor that holds one; reals take
// their shortest form, negative ones in parentheses.
TEST(TExprShow, NamesAndRealsInsideNodes) {
  const ShowCase cases[] = {
      {"call name", mk(Call{std::string("\xe9") + "1", {}, kInt}), "Call \"\\233\\&1\" [] Int"},
      {"field name", mk(Access{var("a", kS), "\x7f", kInt}), "Access (Var \"a\" S) \"\\DEL\" Int"},
      {"variable name", var(std::string("\x0e") + "H", kInt), "Var \"\\SO\\&H\" Int"},
      {"empty name", var("", kInt), "Var \"\" Int"},
      {"small real", mk(LitDouble{0.01}), "LitDouble 1.0e-2"},
      {"large real", mk(LitDouble{12345678.0}), "LitDouble 1.2345678e7"},
      {"fixed real", mk(LitDouble{1234567.0}), "LitDouble 1234567.0"},
      {"zero", mk(LitDouble{0.0}), "LitDouble 0.0"},
      {"negative real as a field", mk(Cast{mk(LitDouble{-2.5e-3}), kInt}),
       "Cast (LitDouble (-2.5e-3)) Int"},
  };
  for (const auto& c : cases) EXPECT_EQ(showTExpr(*c.e), c.text) << c.what;
}

TEST(TExprType, StoredTypeOrLiteralType) {
  const std::pair<TExprP, Type> cases[] = {
      {lit(-7), kInt},
      {mk(LitBool{false}), kBool},
      {mk(LitDouble{std::nan("")}), DoubleType{}},
      // The stored type counts even where the operands say otherwise.
      {mk(BinOpExpr{BinOp{BinOp::Add}, lit(1), lit(2), kNo}), kNo},
      {mk(Cast{var("x", kInt), kListInt}), kListInt},
      {mk(LitNull{VoidType{}}), VoidType{}},
      {mk(ResultVar{kNo}), kNo},
      {mk(Call{"f", {}, kS}), kS},
      {mk(Access{var("a", kS), "v", kBool}), kBool},
      {mk(UnOpExpr{UnOp::Old, var("a", kS), kInt}), kInt},
  };
  for (const auto& [e, t] : cases) EXPECT_EQ(texprType(*e), t) << showTExpr(*e);
}

TEST(TExprEquality, FieldByField) {
  auto sum = [](Type t) { return mk(BinOpExpr{BinOp{BinOp::Add}, lit(1), var("x", kInt), t}); };
  EXPECT_TRUE(*sum(kInt) == *sum(kInt));
  EXPECT_TRUE(*sum(kInt) != *sum(kNo));  // only the stored type differs
  EXPECT_TRUE(*rel(ROp::Eq, lit(1), lit(1)) != *rel(ROp::Neq, lit(1), lit(1)));
  EXPECT_TRUE(*mk(BinOpExpr{BinOp::rel(ROp::Eq, kInt), lit(1), lit(1), kBool}) !=
              *rel(ROp::Eq, lit(1), lit(1)));
  EXPECT_TRUE(*mk(Call{"f", {lit(1)}, kInt}) != *mk(Call{"f", {lit(1), lit(1)}, kInt}));
  EXPECT_TRUE(*mk(Call{"f", {lit(1)}, kInt}) == *mk(Call{"f", {lit(1)}, kInt}));
  EXPECT_TRUE(*var("x", kInt) != *var("y", kInt));
  EXPECT_TRUE(*mk(LitNull{kInt}) != *mk(ResultVar{kInt}));
  EXPECT_TRUE(*mk(LitDouble{0.0}) == *mk(LitDouble{-0.0}));
  TExprP nan = mk(LitDouble{std::nan("")});
  EXPECT_TRUE(*nan != *nan);
  EXPECT_TRUE(*mk(UnOpExpr{UnOp::Old, nan, DoubleType{}}) != *mk(UnOpExpr{UnOp::Old, nan, DoubleType{}}));
}

// A long left spine: printing, comparing and releasing it must not recurse per level.
TEST(TExprDeep, LongChainPrintsComparesAndReleases) {
  constexpr int n = 200000;
  auto chain = [&] {
    TExprP e = lit(0);
    for (int i = 0; i < n; ++i) e = mk(BinOpExpr{BinOp{BinOp::Add}, e, lit(1), kInt});
    return e;
  };
  TExprP a = chain();
  TExprP b = chain();
  EXPECT_TRUE(*a == *b);
  std::string text = showTExpr(*a);
  EXPECT_EQ(text.size(), static_cast<std::size_t>(n) * 31 + 8);
  EXPECT_EQ(text.substr(0, 28), "BinOpExpr Add (BinOpExpr Add");
  EXPECT_NE(text.find("(BinOpExpr Add (LitInt 0) (LitInt 1) Int) (LitInt 1) Int)"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 32), ") (LitInt 1) Int) (LitInt 1) Int");
  a.reset();
  b.reset();

  TExprP calls = lit(0);
  for (int i = 0; i < n; ++i) calls = mk(Call{"f", {calls}, kInt});
  EXPECT_EQ(showTExpr(*calls).size(), static_cast<std::size_t>(n) * 15 + 8);
}

}  // namespace
}  // namespace vorlax::tc
