#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver.hpp"
#include "fatal.hpp"
#include "search.hpp"
#include "file_support.hpp"
#include "tree_support.hpp"

using namespace vorlax;
namespace fs = std::filesystem;
namespace y = vorlax::yices;

namespace {

using vorlax::testing_support::proc;
using vorlax::testing_support::slurp;


// A scripted solver in a private directory: its n-th check gets reply(n, ...) or "unsat".
class FakeSolver {
 public:
  FakeSolver() {
    std::string tmpl = (fs::temp_directory_path() / "vorlax-search-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    launcher_ = (dir_ / "solver").string();
    std::ofstream(launcher_) << "#!/bin/sh\nexec /bin/sh '" << VORLAX_FIXTURES
                             << "/search/scripted.sh' '" << dir_.string() << "' \"$@\"\n";
    fs::permissions(launcher_, fs::perms::owner_all);
  }
  ~FakeSolver() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const std::string& path() const { return launcher_; }
  void reply(int check, const std::string& lines) {
    std::ofstream(dir_ / ("reply" + std::to_string(check))) << lines;
  }
  void dieAt(int check) { std::ofstream(dir_ / ("die" + std::to_string(check))) << ""; }

  // Flushes what is still buffered, tells the solver to exit and waits until it has logged
  // everything; returns the log without the final "(exit)".
  std::string finish(const y::YicesPipe& p) {
    y::exitY(p);
    const std::string end = "(exit)\n";
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string log;
    for (;;) {
      log = slurp(dir_ / "log");
      if (log.size() >= end.size() && log.compare(log.size() - end.size(), end.size(), end) == 0)
        break;
      if (std::chrono::steady_clock::now() > limit) {
        ADD_FAILURE() << "solver did not finish; log so far:\n" << log;
        return log;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    waitpid(p.process, nullptr, 0);
    return log.substr(0, log.size() - end.size());
  }
  // Everything logged up to the end of the last check exchange.
  std::string logThroughLastCheck() const {
    std::string log = slurp(dir_ / "log");
    auto at = log.rfind("END_OUTPUT");
    return at == std::string::npos ? "" : log.substr(0, log.find('\n', at) + 1);
  }
  std::string args() const { return slurp(dir_ / "args"); }

 private:
  fs::path dir_;
  std::string launcher_;
};


ast::Domain bank() {
  ast::Domain d;
  d.domStructs = {Struct{"Account", {Decl{"balance", IntType{}}}}};
  d.domProcs = {proc("reset", {}),
                proc("deposit", {Decl{"a", structType("Account")}, Decl{"n", IntType{}}})};
  return d;
}

// acc: Account, goal acc.balance = 10
SerialGoal bankGoal(const mpz_class& bound) {
  SerialGoal g;
  g.vars = {Decl{"acc", structType("Account")}};
  g.goalSteps = bound;
  g.goalExpr = ast::mk(ast::BinOpExpr{
      BinOp::rel(ROp::Eq), ast::mk(ast::Access{ast::mk(ast::Var{"acc"}), "balance"}),
      ast::mk(ast::LitInt{10})});
  return g;
}

// What attempt i sends, with "(pop)" when its verdict was negative.
std::string attempt(int i, bool popped) {
  std::string s = "(assert (actions all-frames " + std::to_string(i) + "))\n(push)\n" +
                  "(assert (= (balance acc " + std::to_string(i + 1) + ") 10))\n" +
                  "(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")\n(check)\n" +
                  "(echo \"\\n_![<[END_OUTPUT]>]!_\")\n";
  return popped ? s + "(pop)\n" : s;
}
std::string attempts(int n, bool lastPopped) {
  std::string s;
  for (int i = 0; i < n; ++i) s += attempt(i, i + 1 < n || lastPopped);
  return s;
}

const std::string oneCallModel =
    "yices > sat\n(= acc Account_obj1)\n(= (tag_array 0) deposit_tag)\n"
    "(= (Account_arg 1 0) Account_obj1)\n(= (Int_arg 2 0) 10)\n";
const std::string threeCallModel =
    "sat\n(= (tag_array 2) reset_tag)\n(= (tag_array 0) deposit_tag)\n"
    "(= (tag_array 1) deposit_tag)\n(= (Account_arg 1 0) acc)\n(= (Int_arg 2 0) 4)\n"
    "(= (Account_arg 1 1) Account_obj2)\n(= (Int_arg 2 1) 6)\n";

struct SearchCase {
  const char* name;
  std::string bound;
  bool debug;
  std::vector<std::pair<int, std::string>> replies;  // check number -> reply lines
  std::string out;
  std::string log;  // everything the solver received
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class Search : public testing::TestWithParam<SearchCase> {};

TEST_P(Search, SendsAttemptsAndPrintsOutcome) {
  const SearchCase& c = GetParam();
  FakeSolver solver;
  for (const auto& [n, text] : c.replies) solver.reply(n, text);
  y::YicesPipe p = y::createYicesPipe(solver.path(), {});
  std::ostringstream out;
  searchUpTo(out, c.debug, p, mpz_class(c.bound), bank(), bankGoal(mpz_class(c.bound)));
  EXPECT_EQ(out.str(), c.out);
  EXPECT_EQ(solver.finish(p), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, Search,
    testing::Values(
        SearchCase{"SatAtFirstAttempt", "5", false, {{1, oneCallModel}},
                   "deposit (acc,10)\n\n", attempts(1, false)},
        SearchCase{"SatAtThirdAttempt", "3", false, {{3, threeCallModel}},
                   "deposit (acc,4)\ndeposit (Account_obj2,6)\nreset ()\n\n",
                   attempts(3, false)},
        SearchCase{"SatWithModelLines", "1", true, {{1, oneCallModel}},
                   "(= acc Account_obj1)\n(= (tag_array 0) deposit_tag)\n"
                   "(= (Account_arg 1 0) Account_obj1)\n(= (Int_arg 2 0) 10)\n\n"
                   "deposit (acc,10)\n\n",
                   attempts(1, false)},
        SearchCase{"SatWithEmptyModel", "2", true, {{1, "sat\n"}}, "\n\n", attempts(1, false)},
        SearchCase{"UnsatUpToBound", "3", false, {}, "Unsatisfiable\n", attempts(3, true)},
        SearchCase{"UnknownAtFirstAttempt", "4", false, {{1, "unknown\n(= (tag_array 0) reset_tag)\n"}},
                   "Unknown\nreset ()\n\n", attempts(1, false)},
        SearchCase{"UnknownWithModelLines", "4", true,
                   {{2, "yices > unknown\n(= (tag_array 1) reset_tag)\n(= (tag_array 0) reset_tag)\n"}},
                   "Unknown\n(= (tag_array 1) reset_tag)\n(= (tag_array 0) reset_tag)\n\n"
                   "reset ()\nreset ()\n\n",
                   attempts(2, false)},
        // any other first answer line counts as a negative verdict
        SearchCase{"OtherAnswersArePopped", "3", false,
                   {{1, "Error: something went wrong\n"}, {2, "unsat\nunsat core ids: x y\n"},
                    {3, oneCallModel}},
                   "deposit (acc,10)\n\n", attempts(3, false)},
        SearchCase{"BoundZero", "0", true, {{1, oneCallModel}}, "Unsatisfiable\n", ""},
        SearchCase{"BoundNegative", "-7", false, {{1, oneCallModel}}, "Unsatisfiable\n", ""},
        SearchCase{"BoundBeyondMachineWords", "100000000000000000000000000000", false,
                   {{2, oneCallModel}}, "deposit (acc,10)\n\n", attempts(2, false)}),
    [](const testing::TestParamInfo<SearchCase>& i) { return std::string(i.param.name); });

TEST(SearchFailure, ModelThatDoesNotParse) {
  for (const char* verdict : {"sat", "unknown"}) {
    SCOPED_TRACE(verdict);
    FakeSolver solver;
    solver.reply(1, std::string(verdict) + "\n(= (tag_array 0)\n");
    y::YicesPipe p = y::createYicesPipe(solver.path(), {});
    std::ostringstream out;
    EXPECT_THROW(searchUpTo(out, true, p, 2, bank(), bankGoal(2)), Fatal);
    // "Unknown" is out before the model is read; a satisfiable verdict prints nothing
    EXPECT_EQ(out.str(), std::string(verdict) == "sat" ? "" : "Unknown\n");
    solver.finish(p);
  }
}

TEST(SearchFailure, GoalTypeErrorAtFirstAttempt) {
  FakeSolver solver;
  SerialGoal goal = bankGoal(3);
  goal.goalExpr = ast::mk(ast::Var{"nope"});
  y::YicesPipe p = y::createYicesPipe(solver.path(), {});
  std::ostringstream out;
  try {
    searchUpTo(out, false, p, goal.goalSteps, bank(), goal);
    FAIL() << "no failure";
  } catch (const Fatal& f) {
    EXPECT_EQ(f.message, "nope not found in declarations");
  }
  EXPECT_EQ(out.str(), "");
  // the step assertion and the push went out before the goal was checked; no check
  EXPECT_EQ(solver.finish(p), "(assert (actions all-frames 0))\n(push)\n");
}

TEST(SearchFailure, GoalTypeErrorNeverCheckedWithoutAttempts) {
  FakeSolver solver;
  SerialGoal goal = bankGoal(0);
  goal.goalExpr = ast::mk(ast::Var{"nope"});
  y::YicesPipe p = y::createYicesPipe(solver.path(), {});
  std::ostringstream out;
  searchUpTo(out, false, p, goal.goalSteps, bank(), goal);
  EXPECT_EQ(out.str(), "Unsatisfiable\n");
  solver.finish(p);
}

TEST(SearchFailure, SolverDiesDuringCheck) {
  FakeSolver solver;
  solver.dieAt(2);
  y::YicesPipe p = y::createYicesPipe(solver.path(), {});
  std::ostringstream out;
  EXPECT_THROW(searchUpTo(out, false, p, 5, bank(), bankGoal(5)), Fatal);
  EXPECT_EQ(out.str(), "");
  waitpid(p.process, nullptr, 0);
}

TEST(OneShot, SearchAllAndInterpResult) {
  struct Case {
    std::string reply;
    std::string out;
  };
  const std::vector<Case> cases = {
      {oneCallModel,
       "(= acc Account_obj1)\n(= (tag_array 0) deposit_tag)\n"
       "(= (Account_arg 1 0) Account_obj1)\n(= (Int_arg 2 0) 10)\n\ndeposit (acc,10)\n\n"},
      {"unknown\n(= (tag_array 0) reset_tag)\n", "Unknown\n"},
      {"unsat\n", "Unsat\n"},
      {"yices > Error: bad\nline two\n", "Error: bad\nline two\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    FakeSolver solver;
    solver.reply(1, c.reply);
    y::YicesPipe p = y::createYicesPipe(solver.path(), {});
    std::ostringstream out;
    searchAll(out, p, 2, bank(), bankGoal(2));
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(solver.finish(p),
              "(assert (actions all-frames 0))\n(assert (actions all-frames 1))\n"
              "(assert (= (balance acc 2) 10))\n(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")\n"
              "(check)\n(echo \"\\n_![<[END_OUTPUT]>]!_\")\n");
  }
}

TEST(OneShot, NoStepsAssertsOnlyTheGoal) {
  FakeSolver solver;
  y::YicesPipe p = y::createYicesPipe(solver.path(), {});
  std::ostringstream out;
  searchAll(out, p, -1, bank(), bankGoal(0));
  EXPECT_EQ(out.str(), "Unsat\n");
  EXPECT_EQ(solver.logThroughLastCheck(),
            "(assert (= (balance acc -1) 10))\n(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")\n"
            "(check)\n(echo \"\\n_![<[END_OUTPUT]>]!_\")\n");
  solver.finish(p);
}

// ---- the whole solver run ----

std::string domainCmds() {
  return showCmds({y::mkC(y::DEFINE{{"x", y::mkT(y::VarT{"int"})}, std::nullopt}),
                   y::mkC(y::DEFINE{{"acc", y::mkT(y::VarT{"Account_ref"})}, std::nullopt})});
}
std::string goalCmds() { return showCmds({y::mkC(y::ASSERT{y::mkE(y::VarE{"x"})})}); }

// digits, optionally "." and 1 to 12 digits not ending in 0, then "s" and a line end
bool isElapsedLine(const std::string& s) {
  auto digits = [&](std::size_t from) {
    std::size_t i = from;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i;
  };
  std::size_t i = digits(0);
  if (i == 0) return false;
  if (i < s.size() && s[i] == '.') {
    std::size_t j = digits(i + 1);
    if (j == i + 1 || j - i - 1 > 12 || s[j - 1] == '0') return false;
    i = j;
  }
  return s.substr(i) == "s\n";
}

EnvLookup solverAt(const std::string& path) {
  return [path](const std::string& name) -> std::optional<std::string> {
    if (name == "YICES_EXE") return path;
    return std::nullopt;
  };
}

TEST(RunCommands, UploadsBothListsThenSearches) {
  for (bool debug : {false, true}) {
    SCOPED_TRACE(debug);
    FakeSolver solver;
    solver.reply(2, oneCallModel);
    std::ostringstream out;
    runCommands(out, solverAt(solver.path()), debug, domainCmds(), goalCmds(), bank(),
                bankGoal(4));
    EXPECT_EQ(solver.args(), "-i -e\n");
    EXPECT_EQ(solver.logThroughLastCheck(),
              "(define x::int)\n(define acc::Account_ref)\n(assert x)\n" + attempts(2, false));
    const std::string script = "deposit (acc,10)\n\n";
    std::string text = out.str();
    if (!debug) {
      EXPECT_EQ(text, script);
      continue;
    }
    // model, script, then the elapsed time as the last line
    const std::string model =
        "(= acc Account_obj1)\n(= (tag_array 0) deposit_tag)\n"
        "(= (Account_arg 1 0) Account_obj1)\n(= (Int_arg 2 0) 10)\n\n";
    ASSERT_EQ(text.compare(0, model.size() + script.size(), model + script), 0) << text;
    std::string last = text.substr(model.size() + script.size());
    EXPECT_TRUE(isElapsedLine(last)) << last;
  }
}

TEST(RunCommands, BoundZeroStillStartsTheSolver) {
  FakeSolver solver;
  std::ostringstream out;
  runCommands(out, solverAt(solver.path()), false, domainCmds(), goalCmds(), bank(),
              bankGoal(0));
  EXPECT_EQ(out.str(), "Unsatisfiable\n");
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (solver.args().empty() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(solver.args(), "-i -e\n");
}

TEST(RunCommands, SolverPathUnset) {
  std::ostringstream out;
  try {
    runCommands(out, [](const std::string&) { return std::optional<std::string>(); }, true,
                domainCmds(), goalCmds(), bank(), bankGoal(3));
    FAIL() << "no failure";
  } catch (const Fatal& f) {
    EXPECT_EQ(f.message, "YICES_EXE: getEnv: does not exist (no environment variable)");
  }
  EXPECT_EQ(out.str(), "");
}

TEST(Elapsed, SecondsText) {
  using ps = std::chrono::duration<long long, std::pico>;
  const std::vector<std::pair<long long, std::string>> cases = {
      {2500000000000LL, "2.5s"},       {0, "0s"},
      {3000000000000LL, "3s"},         {1, "0.000000000001s"},
      {123000450000000LL, "123.00045s"}, {-500000000000LL, "-0.5s"},
      {-2000000000000LL, "-2s"},       {999999999999LL, "0.999999999999s"},
  };
  for (const auto& [picos, text] : cases) EXPECT_EQ(showElapsed(ps(picos)), text) << picos;
}

}  // namespace
