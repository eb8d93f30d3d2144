// The checks of a search race several Z3 solvers and interrupt the losers: what the
// interrupts leave behind must not change a later answer.
#include <gtest/gtest.h>

#include <gmpxx.h>

#include <functional>

#include <sstream>
#include <string>
#include <vector>

#include "solver_support.hpp"
#include "ys_session.hpp"

namespace {

using vxsolver::Options;
using vxsolver::Session;
using vxsolver::StringSource;

// Z3 keeps an interrupt that no check saw; until it is settled, what the context is given
// next is dropped or refused.
TEST(SettleInterrupt, LeavesTheContextWhole) {
  z3::context ctx;
  z3::solver s(ctx);
  z3::expr x = ctx.int_const("x");
  s.add(x > 0);
  ctx.interrupt();
  vxsolver::settleInterrupt(ctx);
  s.add(x < 0);  // an assertion that a pending interrupt would lose
  EXPECT_EQ(s.check(), z3::unsat);

  ctx.interrupt();
  vxsolver::settleInterrupt(ctx);
  EXPECT_NO_THROW(s.push());  // refused as "push canceled" under a pending interrupt
  EXPECT_NO_THROW(s.pop());
}

// What vorlax sends for a search of n attempts: per attempt a step, push, goal, check
// and pop; every goal before the last one is impossible (no deposit takes anything away).
std::string search(int attempts) {
  std::string s = vorlax::testing_support::accountCommands("0");
  for (int i = 0; i < attempts; ++i) {
    std::string n = std::to_string(i + 1);
    std::string goal = i + 1 < attempts ? "(< (balance acc " + n + ") 0)" : "(= (balance acc " + n + ") 40)";
    s += "(assert (actions all-frames " + std::to_string(i) + "))\n(push)\n(assert " + goal + ")\n(check)\n(pop)\n";
  }
  return s;
}

std::vector<std::string> verdicts(const std::string& out) {
  std::vector<std::string> v;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line == "sat" || line == "unsat" || line == "unknown") v.push_back(line);
  return v;
}

// The alone limits of the tests: every check a race; the first checks of the account
// search alone and the later ones races; every check alone.
constexpr unsigned kRaces = 0, kSwitching = 6000, kAlone = 1u << 30;

// Each check races solvers that keep their state, and the winner interrupts the others
// at any point of their work; repeated searches, with and without models, give the
// right verdict every time, also where the first checks were decided alone.
TEST(SessionRace, RepeatedSearchesKeepTheirVerdicts) {
  constexpr int kAttempts = 8;
  std::vector<std::string> want(kAttempts - 1, "unsat");
  want.push_back("sat");
  for (unsigned limit : {kRaces, kSwitching})
  for (bool evidence : {false, true})
    for (int run = 0; run < 4; ++run) {
      std::ostringstream out, err;
      Session session(out, err, Options{false, evidence, limit});
      StringSource src(search(kAttempts));
      ASSERT_EQ(session.run(src), 0) << err.str();
      EXPECT_EQ(verdicts(out.str()), want) << (evidence ? "with" : "without") << " models, limit " << limit
                                           << ", run " << run;
    }
}

// A refutation does not wait for the solver that would give the model to stop; a session
// that ends right after refutations still ends cleanly, with every verdict given.
TEST(SessionRace, EndsRightAfterRefutations) {
  std::string input = search(8);
  input = input.substr(0, input.rfind("(assert (actions"));  // without the satisfiable attempt
  for (int run = 0; run < 3; ++run) {
    std::ostringstream out, err;
    {
      Session session(out, err, Options{false, true, kRaces});
      StringSource src(input);
      ASSERT_EQ(session.run(src), 0) << err.str();
    }
    EXPECT_EQ(verdicts(out.str()), std::vector<std::string>(7, "unsat")) << "run " << run;
  }
}

// The model printed after a satisfiable race comes from a solver that is given the
// current assertions alone: a search that refuted shorter goals first prints the same
// model as a session that checks the final assertions once, however the races before it
// went.
TEST(SessionRace, ModelOfARaceDependsOnlyOnTheAssertions) {
  constexpr int kAttempts = 6;
  std::string direct = vorlax::testing_support::accountCommands("0");
  for (int i = 0; i < kAttempts; ++i) direct += "(assert (actions all-frames " + std::to_string(i) + "))\n";
  direct += "(push)\n(assert (= (balance acc " + std::to_string(kAttempts) + ") 40))\n(check)\n";
  auto modelOf = [](const std::string& input) {
    std::ostringstream out, err;
    Session session(out, err, Options{false, true, kRaces});
    StringSource src(input);
    EXPECT_EQ(session.run(src), 0) << err.str();
    std::string text = out.str();
    size_t sat = text.rfind("sat\n");
    return sat == std::string::npos ? std::string("no model: ") + text : text.substr(sat);
  };
  std::string want = modelOf(direct);
  ASSERT_NE(want.find("(= (Int_arg 2 0) "), std::string::npos) << want;
  for (int run = 0; run < 3; ++run) EXPECT_EQ(modelOf(search(kAttempts)), want) << "run " << run;
}

// A model of a check decided alone comes from solver_, whose state is that of the checks
// before it: the same search prints the same model in every run, whether every check
// was decided alone or the search went on with races after its first checks (and the
// side solver checked beside solver_ meanwhile).
TEST(SessionAlone, SameModelInEveryRun) {
  auto modelOf = [](unsigned limit) {
    std::ostringstream out, err;
    Session session(out, err, Options{false, true, limit});
    StringSource src(search(8));
    EXPECT_EQ(session.run(src), 0) << err.str();
    std::string text = out.str();
    size_t sat = text.rfind("sat\n");
    return sat == std::string::npos ? std::string("no model: ") + text : text.substr(sat);
  };
  for (unsigned limit : {kAlone, kSwitching}) {
    std::string want = modelOf(limit);
    ASSERT_NE(want.find("(= (Int_arg 2 0) "), std::string::npos) << want;
    for (int run = 0; run < 3; ++run) EXPECT_EQ(modelOf(limit), want) << "limit " << limit << ", run " << run;
  }
}

// The simplex arithmetic gives up on products of unknowns before its limit; Z3's default
// arithmetic then takes over and decides the check alone, its model a real one; checks
// after it keep the new solver and what it was given.
TEST(SessionAlone, ProductsOfUnknownsAreDecided) {
  std::ostringstream out, err;
  Session session(out, err, Options{false, true, kAlone});
  StringSource src(
      "(define x::real)\n(define y::real)\n(assert (= (* x y) 6))\n(assert (> x 4))\n(check)\n"
      "(push)\n(assert (> y 2))\n(check)\n(pop)\n(check)\n");
  ASSERT_EQ(session.run(src), 0) << err.str();
  EXPECT_EQ(verdicts(out.str()), (std::vector<std::string>{"sat", "unsat", "sat"})) << out.str();
  // Each model gives x and y values whose product is 6.
  std::istringstream in(out.str());
  int models = 0;
  mpq_class x, y;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("(= x ", 0) == 0) x = mpq_class(line.substr(5, line.size() - 6));
    if (line.rfind("(= y ", 0) == 0) {
      y = mpq_class(line.substr(5, line.size() - 6));
      x.canonicalize(), y.canonicalize();
      EXPECT_EQ(x * y, 6) << out.str();
      EXPECT_GT(x, 4) << out.str();
      ++models;
    }
  }
  EXPECT_EQ(models, 2) << out.str();
}

// The solver that gives the printed model is filled from a side solver's context rather
// than the session's: a term translated through another context is the term translated
// directly, down to the ids of its nodes, sorts and declarations, for the kinds of terms
// the session makes (enumerations, datatypes, tuples, uninterpreted sorts and functions,
// quantifiers, if-then-else), even where the other context made other terms before.
TEST(SessionRace, TranslationThroughAnotherContextGivesTheSameTerms) {
  z3::context a;
  const char* colours[] = {"red", "green"};
  z3::func_decl_vector cs(a), ts(a);
  z3::sort colour = a.enumeration_sort("colour", 2, colours, cs, ts);
  const char* fields[] = {"n", "c"};
  z3::sort fieldSorts[] = {a.int_sort(), colour};
  z3::func_decl_vector proj(a);
  z3::func_decl pair = a.tuple_sort("pair", 2, fields, fieldSorts, proj);
  Z3_symbol accessor = Z3_mk_string_symbol(a, "unwrap");
  Z3_sort accessorSort = colour;
  unsigned accessorRef = 0;
  Z3_constructor wrap = Z3_mk_constructor(a, Z3_mk_string_symbol(a, "wrap"), Z3_mk_string_symbol(a, "wrap?"), 1,
                                          &accessor, &accessorSort, &accessorRef);
  z3::sort wrapped(a, Z3_mk_datatype(a, Z3_mk_string_symbol(a, "wrapped"), 1, &wrap));
  Z3_del_constructor(a, wrap);
  z3::sort u = a.uninterpreted_sort("U");
  z3::func_decl f = a.function("f", u, a.int_sort(), a.int_sort());
  z3::func_decl g = a.function("g", a.int_sort(), pair.range());
  z3::func_decl h = a.function("h", wrapped, a.bool_sort());
  z3::expr o = a.constant("o", u), i = a.int_const("i"), b = a.bool_const("b"), w = a.constant("w", wrapped);
  std::vector<z3::expr> formulas = {
      z3::forall(i, z3::implies(i > 0, f(o, i) > proj[0](g(i)))),
      z3::exists(i, f(o, i) == 2 * i + 1),
      proj[1](g(1)) == cs[1](),
      z3::implies(b, z3::ite(h(w), f(o, 3), f(o, 4)) == 7),
      h(w) || z3::func_decl(a, Z3_get_datatype_sort_constructor(a, wrapped, 0))(cs[0]()) == w,
  };
  z3::context side;
  z3::expr before = side.int_const("made_before") + 5;  // ids there differ from a's
  std::vector<z3::expr> inSide;
  for (const auto& e : formulas) inSide.push_back(z3::expr(side, Z3_translate(a, e, side)));
  std::function<void(const z3::expr&, std::vector<unsigned>&)> ids = [&](const z3::expr& e, std::vector<unsigned>& v) {
    v.push_back(e.id());
    v.push_back(e.get_sort().id());
    if (e.is_app()) {
      v.push_back(e.decl().id());
      for (unsigned k = 0; k < e.num_args(); ++k) ids(e.arg(k), v);
    } else if (e.is_quantifier()) {
      ids(e.body(), v);
    }
  };
  z3::context direct, through;
  for (size_t k = 0; k < formulas.size(); ++k) {
    z3::expr d(direct, Z3_translate(a, formulas[k], direct));
    z3::expr t(through, Z3_translate(side, inSide[k], through));
    std::vector<unsigned> di, ti;
    ids(d, di);
    ids(t, ti);
    EXPECT_EQ(di, ti) << d;
    EXPECT_EQ(d.to_string(), t.to_string());
  }
}

}  // namespace
