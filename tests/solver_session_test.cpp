// The checks of a search race several Z3 solvers and interrupt the losers: what the
// interrupts leave behind must not change a later answer.
#include <gtest/gtest.h>

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

// Each check races solvers that keep their state, and the winner interrupts the others
// at any point of their work; repeated searches, with and without models, give the
// right verdict every time.
TEST(SessionRace, RepeatedSearchesKeepTheirVerdicts) {
  constexpr int kAttempts = 8;
  std::vector<std::string> want(kAttempts - 1, "unsat");
  want.push_back("sat");
  for (bool evidence : {false, true})
    for (int run = 0; run < 4; ++run) {
      std::ostringstream out, err;
      Session session(out, err, Options{false, evidence});
      StringSource src(search(kAttempts));
      ASSERT_EQ(session.run(src), 0) << err.str();
      EXPECT_EQ(verdicts(out.str()), want) << (evidence ? "with" : "without") << " models, run " << run;
    }
}

}  // namespace
