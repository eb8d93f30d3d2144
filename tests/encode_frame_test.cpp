// Frame conditions of single procedures: which parameters are excluded and which fields stay
// bound for them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fatal.hpp"
#include "frame.hpp"
#include "yices.hpp"

namespace vorlax {
namespace {

namespace y = yices;
using tc::TExprP;

const Type kInt = IntType{};
const Type kBool = BoolType{};
const Type kA = structType("A");
const Type kB = structType("B");

TExprP var(const std::string& n, Type t) { return tc::mk(tc::Var{n, std::move(t)}); }
TExprP acc(TExprP x, const std::string& f, Type t) {
  return tc::mk(tc::Access{std::move(x), f, std::move(t)});
}
TExprP eq(TExprP l, TExprP r) {
  return tc::mk(tc::BinOpExpr{BinOp::rel(ROp::Eq), std::move(l), std::move(r), kBool});
}
TExprP old(TExprP x, Type t) { return tc::mk(tc::UnOpExpr{UnOp::Old, std::move(x), std::move(t)}); }
TExprP lit(int k) { return tc::mk(tc::LitInt{k}); }

// Structures as the domain lists them: B declared after A, so B first.
const std::vector<Struct> kStructs = {
    {"B", {{"c", kInt}, {"a", kInt}}},
    {"A", {{"y", kInt}, {"x", kInt}, {"b", kB}}},
};

tc::Procedure proc(std::vector<Decl> args, std::vector<TExprP> ens) {
  tc::Procedure p;
  p.prcdName = "p";
  p.prcdArgs = std::move(args);
  p.prcdResult = NoType{};
  for (auto& e : ens) p.prcdEns.push_back({"e", std::move(e)});
  return p;
}

std::string frame(const std::vector<Struct>& ss, const tc::Procedure& p) {
  return y::showExpY(*actionFrame(ss, p));
}

const char* const kFramePrefix = "(all-frames (lambda (obj::ALL_ref idx::int)(and ";

TEST(ActionFrame, ArgumentsAndFreedFields) {
  const TExprP a = var("a", kA), b = var("b", kA);
  const struct {
    const char* what;
    tc::Procedure p;
    const char* body;  // text after the common prefix
  } cases[] = {
      {"no parameters: nothing excluded, everything bound", proc({}, {}),
       "false (if (A_ref_wrap? obj) (and (= (b (A_ref_unwrap obj) idx) (b (A_ref_unwrap obj) "
       "(+ idx 1))) (= (x (A_ref_unwrap obj) idx) (x (A_ref_unwrap obj) (+ idx 1))) (= (y "
       "(A_ref_unwrap obj) idx) (y (A_ref_unwrap obj) (+ idx 1)))) (if (B_ref_wrap? obj) (and "
       "(= (a (B_ref_unwrap obj) idx) (a (B_ref_unwrap obj) (+ idx 1))) (= (c (B_ref_unwrap "
       "obj) idx) (c (B_ref_unwrap obj) (+ idx 1)))) true)))) idx)"},
      {"a structure and an integer parameter; x of A freed for both A arguments",
       proc({{"a", kA}, {"v", kInt}, {"b", kA}}, {eq(acc(a, "x", kInt), var("v", kInt))}),
       "(or (= obj (A_ref_wrap a)) false (= obj (A_ref_wrap b))) (if (A_ref_wrap? obj) (and "
       "(= (b (A_ref_unwrap obj) idx) (b (A_ref_unwrap obj) (+ idx 1))) (= (y (A_ref_unwrap "
       "obj) idx) (y (A_ref_unwrap obj) (+ idx 1)))) (if (B_ref_wrap? obj) (and (= (a "
       "(B_ref_unwrap obj) idx) (a (B_ref_unwrap obj) (+ idx 1))) (= (c (B_ref_unwrap obj) "
       "idx) (c (B_ref_unwrap obj) (+ idx 1)))) true)))) idx)"},
      {"a chain frees only its last field; a field read under old counts",
       proc({{"a", kA}},
            {eq(acc(acc(a, "b", kB), "c", kInt), old(acc(a, "y", kInt), kInt)),
             eq(acc(a, "x", kInt), lit(1)), eq(acc(a, "y", kInt), tc::mk(tc::LitBool{true}))}),
       "(or (= obj (A_ref_wrap a))) (if (A_ref_wrap? obj) (and (= (b (A_ref_unwrap obj) idx) "
       "(b (A_ref_unwrap obj) (+ idx 1)))) (if (B_ref_wrap? obj) (and (= (a (B_ref_unwrap obj) "
       "idx) (a (B_ref_unwrap obj) (+ idx 1)))) true)))) idx)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(frame(kStructs, c.p), std::string(kFramePrefix) + c.body) << c.what;
}

TEST(ActionFrame, AllFieldsAccessedAndNoStructures) {
  const TExprP b = var("b", kB);
  EXPECT_EQ(frame({kStructs[0]}, proc({{"b", kB}}, {eq(acc(b, "a", kInt), acc(b, "c", kInt))})),
            std::string(kFramePrefix) + "(or (= obj (B_ref_wrap b))) (if (B_ref_wrap? obj) true true))) idx)");
  EXPECT_EQ(frame({}, proc({{"v", kInt}}, {})),
            std::string(kFramePrefix) + "(or false) true)) idx)");
}

TEST(ActionFrame, FirstDeclarationOfARepeatedNameWins) {
  // Two structures named S (the later declaration first) and a field repeated inside one.
  const std::vector<Struct> ss = {{"S", {{"k", kInt}}}, {"S", {{"m", kInt}, {"m", kBool}}}};
  EXPECT_EQ(frame(ss, proc({}, {})),
            std::string(kFramePrefix) +
                "false (if (S_ref_wrap? obj) (and (= (k (S_ref_unwrap obj) idx) (k (S_ref_unwrap "
                "obj) (+ idx 1)))) true))) idx)");
}

// The structures are worked out once for a domain; what one procedure frees does not carry
// over to the next.
TEST(ActionFrame, OneSetOfFieldsServesEveryProcedure) {
  const FrameFields ff(kStructs);
  const TExprP a = var("a", kA);
  const tc::Procedure frees = proc({{"a", kA}}, {eq(acc(a, "x", kInt), lit(1))});
  const tc::Procedure keeps = proc({{"a", kA}}, {});
  for (const tc::Procedure* p : {&frees, &keeps, &frees, &keeps})
    EXPECT_EQ(y::showExpY(*actionFrame(ff, *p)), frame(kStructs, *p));
  EXPECT_NE(frame(kStructs, frees), frame(kStructs, keeps));
}

TEST(ActionFrame, ResultAndCastAreFrameErrors) {
  const struct {
    TExprP clause;
    const char* message;
  } cases[] = {
      {eq(tc::mk(tc::ResultVar{NoType{}}), lit(1)), "Frame error: ResultVar notype"},
      {eq(var("v", kInt), tc::mk(tc::Cast{lit(1), kInt})), "Frame error: Cast (LitInt 1) Int"},
  };
  for (const auto& c : cases) {
    try {
      frame(kStructs, proc({}, {c.clause}));
      ADD_FAILURE() << "expected " << c.message;
    } catch (const Fatal& e) {
      EXPECT_EQ(e.message, c.message);
    }
  }
}

TEST(ActionFrame, ReportsTheFirstErrorFromTheLastClause) {
  const auto p = proc({}, {eq(tc::mk(tc::ResultVar{IntType{}}), lit(1)),
                           eq(tc::mk(tc::ResultVar{BoolType{}}), lit(1))});
  try {
    frame(kStructs, p);
    ADD_FAILURE();
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message, "Frame error: ResultVar Bool");
  }
}

}  // namespace
}  // namespace vorlax
