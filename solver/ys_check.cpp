// The protocol of a check (Session::check):
//
//  1. decideFirst: solver_ checks alone, under a resource limit. Its state depends on
//     the input alone as long as no clock has ever stopped it, so an answer within the
//     limit, and its model, are the same in every run. Most checks end here.
//  2. race: past the limit, this check and every later one of the session are races of
//     Z3 solvers on threads of their own. The first "unsat" wins and the others are
//     interrupted. With a model wanted, "sat" and the model are the portfolio's, whose
//     fresh solvers are chosen by Z3's count of their work, not by the clock.
//     - solver_ and the portfolio start at once;
//     - the side solvers (contexts of their own, following what the session gave
//       solver_) join once the check has lasted kSideDelay, the portfolio's source once
//       the portfolio has its assertions;
//     - once an incremental solver has a model, the others stop and leave the cores to
//       the portfolio;
//     - the losers are interrupted until they have stopped; a solver whose model broke
//       an assertion is made anew.
// While solver_ checks alone, the side solver that follows its indicators, once made,
// checks the same question beside it without being waited for: what it learns makes it
// ready for the races, and since it never gives a model, its timing changes no output.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <thread>

#include "ys_session.hpp"

namespace vxsolver {

// How long solver_ and the portfolio have a check to themselves.
constexpr auto kSideDelay = std::chrono::milliseconds(10);
// How often the session looks again at a race that runs on.
constexpr auto kPoll = std::chrono::milliseconds(5);

// One solver of a race. An incremental one is asked the check with its assumptions, and
// its "sat" counts only if its model leaves none of the formulas (the current
// assertions, in its context) false; the portfolio runs its own rounds.
struct Contender {
  z3::context* ctx = nullptr;  // none for the portfolio
  z3::solver* solver = nullptr;
  size_t side = size_t(-1);    // its place in Session::sides_, if a side solver
  std::optional<z3::expr_vector> assumptions, formulas;
  std::function<z3::check_result()> run;  // the portfolio's part
  bool refuted = false;      // its model broke an assertion: it has lost some of them
  bool interrupted = false;
  z3::check_result result = z3::unknown;
  std::string failure;       // what a Z3 exception said
  bool finished = false;
  bool launched = false;     // its check was begun (on a thread or here)
  pthread_t thread{};
  bool started = false;      // on a thread of its own
};

// What the threads of a race share. The portfolio stops later than the others when it
// is interrupted (its preprocessing looks at the interrupt seldom), so the race does not
// wait for it: its thread may outlive the race, and shares this with it.
struct RaceState {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Contender> contenders;  // complete before the first is launched
  std::unique_ptr<Portfolio> portfolio;
  // What the portfolio is given, in the context of a side solver; while it is being
  // given (filling), that context is the portfolio's thread's to read.
  std::optional<z3::expr_vector> source;
  bool filling = false;
};

// Runs f when it goes out of scope.
struct Finally {
  std::function<void()> f;
  ~Finally() { f(); }
};

struct ContenderCall {
  std::shared_ptr<RaceState> race;
  size_t index;
};

namespace {

z3::check_result checkIncremental(Contender& c) {
  z3::check_result r = c.assumptions->empty() ? c.solver->check() : c.solver->check(*c.assumptions);
  if (r == z3::sat && !noneFalse(c.solver->get_model(), *c.formulas)) {
    c.refuted = true;
    return z3::unknown;
  }
  return r;
}

void* runContender(void* p) {
  std::unique_ptr<ContenderCall> call(static_cast<ContenderCall*>(p));
  RaceState& st = *call->race;
  Contender& c = st.contenders[call->index];
  z3::check_result r = z3::unknown;
  std::string failure;
  try {
    r = c.run ? c.run() : checkIncremental(c);
  } catch (const z3::exception& e) {
    failure = e.msg();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  {
    std::lock_guard<std::mutex> lock(st.mutex);
    c.result = r;
    c.failure = failure;
    c.finished = true;
  }
  st.changed.notify_all();
  return nullptr;
}

// The cores this process may run on (at least one).
unsigned usableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

// The portfolio's part of a race: it is given the assertions, then checks them.
// However the giving ends, the source is let go as soon as it is done.
z3::check_result runPortfolio(RaceState& st, const std::function<std::unique_ptr<SideSolver>(size_t)>& supply) {
  bool released = false;
  auto release = [&st, &released] {
    if (released) return;
    released = true;
    {
      std::lock_guard<std::mutex> lock(st.mutex);
      st.source.reset();
      st.filling = false;
    }
    st.changed.notify_all();
  };
  Finally letGo{release};
  return st.portfolio->run(usableCores(), *st.source, release, supply);
}

}  // namespace

// The session's side of one race: who is in it, when each starts, the verdict, and the
// stopping of the others.
class Race {
 public:
  static constexpr size_t kNone = size_t(-1);
  explicit Race(bool withModel) : st_(std::make_shared<RaceState>()), withModel_(withModel) {
    st_->contenders.reserve(8);
  }
  const std::shared_ptr<RaceState>& state() const { return st_; }
  Contender& operator[](size_t i) { return st_->contenders[i]; }
  size_t size() const { return st_->contenders.size(); }
  size_t portfolio() const { return portfolio_; }

  // Enters an incremental solver (side solver `side`, if one), asked with assumptions,
  // its model checked against the formulas (both in its context); its index.
  size_t enter(z3::solver& s, z3::expr_vector assumptions, z3::expr_vector formulas, size_t side = kNone) {
    Contender& c = st_->contenders.emplace_back();
    c.ctx = &s.ctx();
    c.solver = &s;
    c.side = side;
    c.assumptions = std::move(assumptions);
    c.formulas = std::move(formulas);
    return size() - 1;
  }
  size_t enterPortfolio(std::function<z3::check_result()> run) {
    st_->contenders.emplace_back().run = std::move(run);
    return portfolio_ = size() - 1;
  }

  // Starts a thread for each; one whose thread could not start runs here, after the
  // others have started.
  void launch(const std::vector<size_t>& which) {
    std::vector<ContenderCall*> here;
    for (size_t i : which) {
      Contender& c = st_->contenders[i];
      c.launched = true;
      auto* call = new ContenderCall{st_, i};
      c.started = startSolverThread(c.thread, runContender, call);
      if (!c.started) here.push_back(call);
    }
    for (auto* call : here) runContender(call);
  }

  // Waits for the verdict. The side solvers (later) join once the check has lasted
  // kSideDelay, the portfolio's source (afterFill) once the portfolio has its
  // assertions; once an incremental solver has a model, the others are interrupted.
  z3::check_result await(const std::vector<size_t>& later, const std::vector<size_t>& afterFill) {
    std::unique_lock<std::mutex> lock(st_->mutex);
    std::optional<z3::check_result> verdict;
    auto known = [&] { return (verdict = decided()).has_value(); };
    auto join = [&](const std::vector<size_t>& which) {
      if (verdict || satSeen() || which.empty()) return;
      lock.unlock();
      launch(which);
      lock.lock();
    };
    if (!st_->changed.wait_for(lock, kSideDelay, known)) {
      join(later);
      st_->changed.wait(lock, [&] { return known() || !st_->filling; });
      join(afterFill);
    }
    while (!known()) {
      if (satSeen()) {
        interrupt(false);
        if (st_->portfolio) st_->portfolio->widen();
      }
      st_->changed.wait_for(lock, kPoll);
    }
    return *verdict;
  }

  // Stops the portfolio once, without waiting for it, and interrupts the incremental
  // solvers until they have stopped: an interrupt that comes before a check has begun
  // is not seen by it, so it is repeated. Then their threads are joined and the
  // interrupts they saw ended (settleInterrupt).
  void stop() {
    {
      std::unique_lock<std::mutex> lock(st_->mutex);
      if (portfolio_ != kNone) interruptOne(portfolio_);
      while (interrupt(false)) st_->changed.wait_for(lock, kPoll);
    }
    for (size_t i = 0; i < size(); ++i) {
      Contender& c = st_->contenders[i];
      if (i == portfolio_) continue;
      if (c.started) pthread_join(c.thread, nullptr);
      if (c.interrupted) settleInterrupt(*c.ctx);
    }
  }

  // What the incremental solvers were asked belongs to their contexts: it goes before
  // any of them is made anew.
  void forget() {
    for (auto& c : st_->contenders) c.assumptions.reset(), c.formulas.reset();
  }

  // A failure of Z3 that left the check undecided, reported rather than taken for
  // "unknown": the portfolio's when a model was wanted, else the first one's.
  std::optional<std::string> failure() {
    std::lock_guard<std::mutex> lock(st_->mutex);
    if (withModel_) {
      const Contender& p = st_->contenders[portfolio_];
      if (p.finished && !st_->portfolio->failure().empty()) return st_->portfolio->failure();
      return std::nullopt;
    }
    for (const auto& c : st_->contenders)
      if (!c.failure.empty()) return c.failure;
    return std::nullopt;
  }

 private:
  // The verdict, once one is known: the first "unsat"; with a model wanted, "sat" only
  // from the portfolio. A contender not launched (a side solver of a check decided
  // before it was due) takes no part. With a model wanted, a check that the portfolio
  // could not decide is "unknown" even where an incremental solver found a model: which
  // one would have depends on timing. Under the mutex.
  std::optional<z3::check_result> decided() const {
    bool allDone = true, anySat = false;
    for (size_t i = 0; i < size(); ++i) {
      const Contender& c = st_->contenders[i];
      if (!c.launched) continue;
      allDone = allDone && c.finished;
      if (!c.finished) continue;
      if (c.result == z3::unsat) return z3::unsat;
      if (c.result == z3::sat) {
        if (!withModel_ || i == portfolio_) return z3::sat;
        anySat = true;
      }
    }
    if (allDone) return anySat && !withModel_ ? z3::sat : z3::unknown;
    return std::nullopt;
  }
  // Whether an incremental solver has found a model. Under the mutex.
  bool satSeen() const {
    for (size_t i = 0; i < size(); ++i)
      if (i != portfolio_ && st_->contenders[i].finished && st_->contenders[i].result == z3::sat) return true;
    return false;
  }
  // Interrupts the incremental solvers (or the portfolio) that still run; whether any
  // did. Under the mutex.
  bool interrupt(bool portfolio) {
    bool running = false;
    for (size_t i = 0; i < size(); ++i)
      if ((i == portfolio_) == portfolio) running = interruptOne(i) || running;
    return running;
  }
  bool interruptOne(size_t i) {
    Contender& c = st_->contenders[i];
    if (!c.launched || c.finished) return false;
    c.interrupted = true;
    if (i == portfolio_) st_->portfolio->stop();
    else c.ctx->interrupt();
    return true;
  }

  std::shared_ptr<RaceState> st_;
  bool withModel_;
  size_t portfolio_ = kNone;
};

namespace {

// Gives the portfolio of a race to freer, to be freed on a thread of its own once its
// thread has ended.
void freePortfolioLater(Prepared& freer, std::shared_ptr<RaceState> st, size_t index) {
  freer.release([st = std::move(st), index] {
    Contender& c = st->contenders[index];
    std::unique_lock<std::mutex> lock(st->mutex);
    while (c.launched && !c.finished) {
      st->portfolio->stop();
      st->changed.wait_for(lock, kPoll);
    }
    lock.unlock();
    if (c.started) pthread_join(c.thread, nullptr);
  });
}

}  // namespace

// ---------------------------------------------------------------- the solvers of a race

void Session::Side::renew() {  // after awaitFill
  plain.clear();  // before the context that holds them goes
  pending.release([old = std::shared_ptr<SideSolver>(std::move(s))]() mutable { old.reset(); });
  pending.start();
  seen = 0;
}

void Session::makeSides() {
  awaitFill();
  sides_.clear();
  // The one that follows solver_'s indicators searches unlike solver_: Z3's default
  // arithmetic without relevancy filtering, which refutes the attempts of some deep
  // searches markedly faster; the other is the portfolio's source.
  sides_.emplace_back(false, defaultArithConfig(0));
  sides_.emplace_back(true, sideConfig());
}

void Session::prepareFresh() {
  for (const auto& config : portfolioConfigs()) nextFresh_.emplace_back(config, true);
  for (auto& p : nextFresh_) p.start();
}

z3::expr_vector Session::currentAssertions() {
  z3::expr_vector fs(ctx_);
  for (const auto& a : g_.cur.assertions) fs.push_back(a);
  return fs;
}

// Gives the side solver what the session has given solver_ since the last time, on this
// thread (the translations read the session's context, which solver_ uses once the
// race is on); the check's assumptions and the current assertions in its context.
std::pair<z3::expr_vector, z3::expr_vector> Session::catchUp(Side& side, const z3::expr_vector& assumptions) {
  z3::context& c = side.solver().ctx;
  z3::solver& solver = side.s->solver;
  auto here = [&](const z3::expr& e) { return z3::expr(c, Z3_translate(ctx_, e, c)); };
  for (; side.seen < given_.size(); ++side.seen) {
    const Given& g = given_[side.seen];
    if (g.kind == Given::Assert) {
      z3::expr p = here(g.plain);
      side.plain.emplace(g.plain.id(), p);
      // guarded is (=> scope plain), unless it is plain
      solver.add(side.pushPop || eq(g.guarded, g.plain) ? p : z3::implies(here(g.guarded.arg(0)), p));
    } else if (!side.pushPop) {
      if (g.kind == Given::Pop) solver.add(here(g.guarded));
    } else if (g.kind == Given::Push) {
      solver.push();
    } else {
      solver.pop();
    }
  }
  z3::expr_vector av(c), fs(c);
  if (!side.pushPop)
    for (unsigned i = 0; i < assumptions.size(); ++i) av.push_back(here(assumptions[i]));
  for (const auto& a : g_.cur.assertions) {
    auto it = side.plain.find(a.id());
    fs.push_back(it != side.plain.end() ? it->second : here(a));
  }
  return {av, fs};
}

// ---------------------------------------------------------------- the check

bool Session::decideFirst(const z3::expr_vector& assumptions, z3::check_result& res, std::optional<z3::model>& model) {
  const z3::expr_vector formulas = currentAssertions();
  for (;;) {
    std::optional<Race> beside;
    if (!sides_.empty() && sides_[0].ready()) {
      beside.emplace(false);
      auto [av, fs] = catchUp(sides_[0], assumptions);
      beside->launch({beside->enter(sides_[0].s->solver, av, fs, 0)});
    }
    const double before = resourceCount(solver_);
    z3::check_result r = z3::unknown;
    try {
      setResourceLimit(solver_, opt_.aloneLimit);
      r = assumptions.empty() ? solver_.check() : solver_.check(assumptions);
      setResourceLimit(solver_, 0);
      if (r == z3::sat && !noneFalse(solver_.get_model(), formulas)) {
        renewMain();  // it has lost part of what it was given
        r = z3::unknown;
      }
    } catch (const z3::exception&) {
      setResourceLimit(solver_, 0);
      r = z3::unknown;  // the race reports what keeps failing
    }
    const double work = resourceCount(solver_) - before;
    if (beside) {
      beside->stop();
      beside->forget();
      renewRefuted(*beside);
    }
    if (r == z3::unknown && work < opt_.aloneLimit && mainConfig_.arith != defaultArithConfig().arith) {
      // It gave up on its own (the simplex solver on products of unknowns, say): Z3's
      // default arithmetic takes its place, and checks again.
      mainConfig_ = defaultArithConfig();
      renewMain();
      continue;
    }
    if (r == z3::unknown) {
      alone_ = false;
      return false;
    }
    prepare(work);
    res = r;
    if (r == z3::sat && opt_.evidence) {
      const std::atomic<bool> never{false};
      model = shortenModel(solver_, assumptions, formulas, solver_.get_model(), work, never);
    }
    return true;
  }
}

void Session::prepare(double work) {
  if (work < opt_.aloneLimit / 8) return;
  if (sides_.empty()) makeSides();
  sides_[0].begin();
  if (work < opt_.aloneLimit / 2) return;
  for (auto& side : sides_) side.begin();
  if (opt_.evidence && nextFresh_.empty()) prepareFresh();
}

z3::check_result Session::race(const z3::expr_vector& assumptions, std::optional<z3::model>& model) {
  awaitFill();
  if (sides_.empty()) makeSides();
  const bool withModel = opt_.evidence;
  Race race(withModel);

  // Who is in it, and who starts when: solver_ and, with a model wanted, the portfolio at
  // once; the side solvers whose contexts are made later (the portfolio's source, always
  // in, once the portfolio has its assertions).
  std::vector<size_t> first{race.enter(solver_, assumptions, currentAssertions())}, later, afterFill;
  enterSides(race, assumptions, later, afterFill);
  if (withModel) first.push_back(enterPortfolio(race, *race[afterFill.at(0)].formulas));
  Finally freeLater{[&] {
    if (race.portfolio() != Race::kNone) freePortfolioLater(nextFresh_[0], race.state(), race.portfolio());
  }};

  // The check.
  race.launch(first);
  const z3::check_result verdict = race.await(later, afterFill);
  race.stop();
  awaitFill_ = [weak = std::weak_ptr<RaceState>(race.state())] {
    if (auto st = weak.lock()) {  // else its thread has ended
      std::unique_lock<std::mutex> lock(st->mutex);
      st->changed.wait(lock, [&] { return !st->filling; });
    }
  };
  race.forget();
  renewRefuted(race);

  if (verdict == z3::unknown)
    if (auto failure = race.failure()) throw z3::exception(failure->c_str());
  // The model: that of the portfolio's winner; for "unknown", that of the first of its
  // solvers that has one. A verdict other than "unsat" comes when it has finished.
  if (verdict != z3::unsat && withModel) model = race.state()->portfolio->model(ctx_);
  return verdict;
}

void Session::enterSides(Race& race, const z3::expr_vector& assumptions, std::vector<size_t>& later,
                         std::vector<size_t>& afterFill) {
  for (size_t k = 0; k < sides_.size(); ++k) {
    Side& side = sides_[k];
    side.begin();
    const bool source = opt_.evidence && side.pushPop;
    if (!side.ready() && !source) continue;  // still being made: it sits this check out
    auto [av, fs] = catchUp(side, assumptions);
    (source ? afterFill : later).push_back(race.enter(side.s->solver, av, fs, k));
  }
}

// A solver whose model broke what it was given has lost part of it: it is made anew, and
// learns again from the next check on.
void Session::renewRefuted(Race& race) {
  for (size_t i = 0; i < race.size(); ++i) {
    if (!race[i].refuted) continue;
    if (race[i].solver == &solver_) {
      renewMain();
    } else if (race[i].side != Race::kNone) {
      awaitFill();
      sides_[race[i].side].renew();
    }
  }
}

// The portfolio's entry in a race: it is given the current assertions on its own thread
// while solver_ runs, from the side solver that follows Z3's push and pop, which has them
// as they are, in the same order, and is idle until it joins the race (it waits for
// this). The terms are those that a translation from the session's context would give
// (a translation copies the terms as they are, names and sharing too, and makes the
// copies in the same order), so its models are too. A race decided before the
// portfolio has all its assertions stops giving them.
size_t Session::enterPortfolio(Race& race, const z3::expr_vector& source) {
  if (nextFresh_.empty()) prepareFresh();  // a model asked for only now
  // A solver taken is made anew for the next check at once. Those the portfolio takes
  // itself it takes while it fills, before it lets go of the source (which the next
  // check waits for), so that no two threads use one queue at a time.
  auto supply = [this](size_t i) {
    std::unique_ptr<SideSolver> s = nextFresh_[i].take();
    nextFresh_[i].start();
    return s;
  };
  RaceState* st = race.state().get();
  st->portfolio = std::make_unique<Portfolio>(nextFresh_.size());
  st->source = source;
  st->filling = true;
  return race.enterPortfolio([st, supply] { return runPortfolio(*st, supply); });
}

}  // namespace vxsolver
