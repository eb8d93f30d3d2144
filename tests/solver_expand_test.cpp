// Expanding definitions: applications of closures are remembered by the closure and the
// identities of the arguments, disjunctions give up the conjuncts that all their disjuncts
// share, and numerals fold exactly whatever their size.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ys_session.hpp"

using namespace vxsolver;

namespace {

struct Result {
  int status;
  std::string err, last;
};

Result run(const std::string& commands) {
  std::ostringstream out, err;
  Session s(out, err, Options{});
  StringSource src(commands);
  int status = s.run(src);
  return {status, err.str(), s.lastAssertion()};
}

struct Case {
  const char* what;
  std::string commands;
  const char* last;  // the last assertion as Z3 writes it
};

void expectAll(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    Result r = run(c.commands);
    EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
    EXPECT_EQ(r.last, c.last) << c.what;
  }
}

// (and (= (f 0) 1) (= (f 1) 2) ... ): true exactly when every application of f gives the
// value of its own argument plus `plus`.
std::string allApplications(const char* f, int count, int plus) {
  std::string s = "(assert (and";
  for (int k = 0; k < count; ++k) s += " (= (" + std::string(f) + " " + std::to_string(k) + ") " + std::to_string(k + plus) + ")";
  return s + "))\n";
}

const std::string kBools = "(define p::bool)(define q::bool)(define r::bool)(define s::bool)";

}  // namespace

TEST(SolverExpand, DisjunctionsGiveUpSharedConjuncts) {
  std::string twelve = "(assert (or";
  for (int k = 0; k < 11; ++k) twelve += " (and p q (= " + std::to_string(k) + " (ite r 1 2)))";
  std::string lastWithoutP = twelve + " (and q s)))";
  expectAll({
      {"one shared", kBools + "(assert (or (and p q) (and p r)))", "(and p (or q r))"},
      {"none shared", kBools + "(assert (or (and p q) (and p r) (and q r)))", "(or (and p q) (and p r) (and q r))"},
      {"two shared, in the order of the first disjunct", kBools + "(assert (or (and r p q) (and p r) (and q p r)))",
       "(and r p)"},
      {"a disjunct that is the shared conjunct", kBools + "(assert (or p (and p q)))", "p"},
  });
  // Every disjunct has q, all but the last have p: q moves out, p stays in.
  Result r = run(kBools + lastWithoutP);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string inner;
  for (int k = 0; k < 11; ++k) inner += "(and p (= " + std::to_string(k) + " (ite r 1 2)))\n               ";
  EXPECT_EQ(r.last, "(let ((a!1 (or " + inner.substr(0, inner.size() - 15) + "               s)))\n  (and q a!1))");
}

TEST(SolverExpand, NumeralsFoldExactly) {
  const std::string x = "(define x::int)(define y::real)";
  expectAll({
      {"beyond 64 bits", x + "(assert (= x (+ 9223372036854775807 1)))", "(= x 9223372036854775808)"},
      {"below 64 bits", x + "(assert (= x (- -9223372036854775807 2)))", "(= x (- 9223372036854775809))"},
      {"product beyond 64 bits", x + "(assert (= x (* 4294967296 4294967296)))", "(= x 18446744073709551616)"},
      {"fractions", x + "(assert (= y (+ 1/3 1/6)))", "(= y (/ 1.0 2.0))"},
      {"adding zero", x + "(assert (= x (+ x 0)))", "true"},
      {"zero added", x + "(assert (= y (+ 0 y)))", "true"},
      {"subtracting zero", x + "(assert (= x (- x 0 0)))", "true"},
      {"comparison of large numerals", x + "(assert (< 18446744073709551616 18446744073709551617))", "true"},
  });
}

TEST(SolverExpand, ApplicationsAreRememberedByClosureAndArguments) {
  const std::string f = "(define f::(-> int int) (lambda (a::int) (+ a 1)))";
  const std::string g = "(define g::(-> int int) (lambda (a::int) (+ a 2)))";
  const std::string h = "(define h::(-> (-> int int) int int) (lambda (k::(-> int int) a::int) (k a)))";
  // Enough applications that the memo grows several times over, then the same again.
  expectAll({
      {"many applications, twice", f + allApplications("f", 3000, 1) + allApplications("f", 3000, 1), "true"},
      {"two closures at the same arguments", f + g + allApplications("f", 700, 1) + allApplications("g", 700, 2),
       "true"},
      {"function arguments", f + g + h + "(assert (and (= (h f 5) 6) (= (h g 5) 7) (= (h f 5) 6)))", "true"},
      {"lambdas as arguments", h + "(assert (= (h (lambda (a::int) (* a 3)) 5) (h (lambda (a::int) (* a 4)) 5)))",
       "false"},
  });
}

TEST(SolverExpand, NothingRememberedSurvivesAPop) {
  // Inside the scope f is defined by an assertion; after the pop it is uninterpreted again,
  // and its applications are terms of their own.
  Result r = run(
      "(define f::(-> int int))(define x::int)(push)(assert (= f (lambda (a::int) (+ a 1))))"
      "(assert (= (f 1) x))(pop)(assert (= (f 1) x))");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.last, "(= (f 1) x)");
}
