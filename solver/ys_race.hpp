// The solvers that a check races, each in a Z3 context of its own, and the portfolio of
// fresh solvers whose winner's model is the one printed.
//
// Refutations race by the clock: an "unsat" is the same whichever solver finds it. A
// model is chosen by Z3's own count of the work it has done (its resource count), which
// depends on the assertions alone: the fresh solvers of the portfolio check in rounds of
// a doubling resource limit, and the winner is the one that finished in the earliest
// round with the least work, ties going by a fixed order. So the printed model depends
// on the input alone, while the time follows the fastest of them.
#pragma once
#include <z3++.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vxsolver {

// How a solver is set up: the arithmetic solver (2: simplex, 6: Z3's default), relevancy
// filtering (0: off, 2: Z3's default), the random seed; and, for the portfolio, how much
// one unit of its resource count weighs against the others' (about the time it takes).
struct SolverConfig {
  unsigned arith = 2;
  unsigned relevancy = 2;
  unsigned seed = 0;
  double weight = 1;
};

// The configuration of the side solvers (and of the portfolio's first fresh solver):
// relevancy filtering and the simplex-based arithmetic solver, which on sums of bounded
// steps refutes deep searches several times faster than the default one.
SolverConfig sideConfig();

// Z3's default arithmetic solver, with or without (0) relevancy filtering.
SolverConfig defaultArithConfig(unsigned relevancy = 2);

// Sets s up as the configuration says.
void configure(z3::solver& s, const SolverConfig& config);

// The fresh solvers of the portfolio, in their fixed order.
const std::vector<SolverConfig>& portfolioConfigs();

// A Z3 solver in a context of its own, so that it can run on a thread of its own. A
// fresh solver (simple) is Z3's SMT kernel alone, which keeps what it has learned from
// one round of the portfolio to the next; otherwise it is Z3's default solver.
struct SideSolver {
  explicit SideSolver(const SolverConfig& config = sideConfig(), bool simple = false);
  SolverConfig config;
  z3::context ctx;
  z3::solver solver;
};

// SideSolvers made on threads of their own: creating a Z3 context takes several
// milliseconds, which a check need not wait for when its solver was made while the
// session did other things.
class Prepared {
 public:
  explicit Prepared(SolverConfig config = sideConfig(), bool simple = false) : config_(config), simple_(simple) {}
  // Begins making one more solver.
  void start();
  // Runs done (which frees what is done with) on a thread of its own.
  void release(std::function<void()> done);
  // The first solver begun and not yet taken (made here if none was begun, or if no
  // thread could be started for it).
  std::unique_ptr<SideSolver> take();
  // Whether take() would not wait.
  bool ready() const;

 private:
  SolverConfig config_;
  bool simple_;
  std::deque<std::future<std::unique_ptr<SideSolver>>> made_;
  std::vector<std::future<void>> freeing_;  // the last of them may still run
};

// An interrupt that comes when no check runs, or as one ends, stays with the context
// until its next check: until then Z3 drops what it is given (an assertion added then is
// lost, and a later check may answer "sat" without it) and refuses push and pop. This
// ends such an interrupt; it is called on every context that a race has interrupted.
void settleInterrupt(z3::context& ctx);

// Z3's count of the work done in the solver's context so far.
double resourceCount(z3::solver& s);
// Limits each later check of s to `limit` more units of that count (0: no limit).
void setResourceLimit(z3::solver& s, unsigned limit);
// Whether the model leaves none of the formulas false.
bool noneFalse(const z3::model& m, const z3::expr_vector& formulas);

// The model m of the last check of s (which the assumptions were given to, and which
// took `work` units of the resource count), with its numbers of more than kShortText
// characters made short where the formulas allow it (see ys_race.cpp); s ends with the
// assertions it had. Tries no more once stop is set.
z3::model shortenModel(z3::solver& s, const z3::expr_vector& assumptions, const z3::expr_vector& formulas,
                       z3::model m, double work, const std::atomic<bool>& stop);
constexpr size_t kShortText = 6;

// Runs body on a thread with a stack as large as Z3's recursion over big terms needs;
// false (and nothing run) if no such thread could be started.
bool startSolverThread(pthread_t& thread, void* (*body)(void*), void* arg);

// The fresh solvers of one check. They are given the same assertions, then check in
// rounds: in round r each solver that has not finished checks again with a resource
// limit of kFirstLimit * kGrowth^r / weight units more. The result is decided once some
// solver has finished and every other one has finished too or has used up the limit of
// that round: "unsat" if any said so; else the "sat" of the earliest round, least
// weighted count and first in order; "unknown" if every solver gave up. Nothing of this
// depends on how the threads are scheduled, how many cores there are or the clock.
class Portfolio {
 public:
  // Room for solvers of portfolioConfigs(), given with give() or, while run fills them,
  // by its supply.
  explicit Portfolio(size_t size);
  ~Portfolio();
  Portfolio(const Portfolio&) = delete;
  Portfolio& operator=(const Portfolio&) = delete;

  // Runs the rounds on at most `threads` threads of its own; the verdict, or unknown if
  // stopped. The solvers, taken from supply, are given the source's formulas one after
  // the other (only this thread reads its context meanwhile), each taking part as soon
  // as it has them; then filled is called. The first is taken at once, the others once
  // the check has lasted kJoinAfter: most checks of a search are refutations that an
  // incremental solver finds sooner, and need not wait for solvers to be made. Returns
  // once none of its threads runs any more.
  z3::check_result run(unsigned threads, const z3::expr_vector& source, const std::function<void()>& filled,
                       const std::function<std::unique_ptr<SideSolver>(size_t)>& supply);
  static constexpr std::chrono::milliseconds kJoinAfter{10};
  // Ends a run from any thread: what is still checking is interrupted.
  void stop();
  // Lets a run use all its threads from now on (from any thread). Until then, or until
  // it has run for kWidenAfter, it runs on one: most checks of a search are refutations,
  // which the incremental solvers find sooner, and a check's verdict and model do not
  // depend on the number of threads.
  void widen();
  static constexpr std::chrono::milliseconds kWidenAfter{1000};

  // After run: the model of the solver whose verdict decided ("sat": the winner, its
  // long numbers made short where it could; "unknown": the first that has a model), in
  // the context to; none if there is none.
  std::optional<z3::model> model(z3::context& to);
  // What a Z3 exception said, when every solver failed.
  const std::string& failure() const { return failure_; }

  static constexpr unsigned kFirstLimit = 1u << 16;
  static constexpr double kGrowth = 1.25;

 private:
  struct Entry {
    std::unique_ptr<SideSolver> s;
    std::optional<z3::expr_vector> formulas;  // what it was given, in its context
    unsigned round = 0;    // rounds begun
    bool busy = false;     // checking on some thread
    bool done = false;     // finished (sat, unsat) or gave up
    z3::check_result result = z3::unknown;
    double cost = 0;       // weighted resource count when it finished
    std::string failure;
    std::optional<z3::model> shortened;  // the winner's model after shorten()
  };
  // Gives solver i the formulas, translated from their context; stops early once stop()
  // was called.
  void fill(size_t i, const z3::expr_vector& formulas);
  bool decide();  // under mutex_
  bool decided();
  // Gives the winner's long numbers short values where the assertions allow it.
  void shorten();
  void interruptBusy();  // under mutex_
  static void* work(void* self);
  void workLoop();

  std::vector<Entry> entries_;
  size_t filled_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> stop_{false};
  bool decided_ = false;
  bool wide_ = false;
  z3::check_result verdict_ = z3::unknown;
  size_t decider_ = size_t(-1);
  std::string failure_;
};

}  // namespace vxsolver
