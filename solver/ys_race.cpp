#include "ys_race.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>
#include <tuple>
#include <unordered_map>

#include <gmpxx.h>

#include "ys_session.hpp"

namespace vxsolver {

// ---------------------------------------------------------------- solvers

SolverConfig sideConfig() { return SolverConfig{2, 2, 0, 1}; }

// Two seeds of the simplex configuration, which decides the benchmark's linear searches
// fastest, and Z3's default arithmetic solver, which also decides products and quotients
// of unknowns (where the simplex one gives up) but does up to a twelfth as much work per
// unit of its count. Each solver more costs a Z3 context per check that lasts; on the
// benchmark, a third seed cost more than it won.
const std::vector<SolverConfig>& portfolioConfigs() {
  static const std::vector<SolverConfig> configs = {
      {2, 2, 0, 1},
      {2, 2, 1, 1},
      {6, 2, 0, 12},
  };
  return configs;
}

SideSolver::SideSolver(const SolverConfig& config, bool simple)
    : config(config), solver(simple ? z3::solver(ctx, z3::solver::simple()) : z3::solver(ctx)) {
  z3::params p(ctx);
  p.set("smt.arith.solver", config.arith);
  if (config.relevancy != 2) p.set("smt.relevancy", config.relevancy);
  if (config.seed != 0) p.set("random_seed", config.seed);
  solver.set(p);
  // Z3 builds the solver proper (its SMT kernel and theories, a few milliseconds) when
  // the solver is first used; a question that changes nothing has that done here, on
  // the thread that makes the solver, rather than at its first assertion.
  Z3_solver_get_num_scopes(ctx, solver);
}

void Prepared::release(std::function<void()> done) {
  // What has been freed is let go of; a thread that cannot be started frees here.
  freeing_.erase(std::remove_if(freeing_.begin(), freeing_.end(),
                                [](const std::future<void>& f) {
                                  return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
                                }),
                 freeing_.end());
  try {
    freeing_.push_back(std::async(std::launch::async, [done = std::move(done)]() mutable {
      done();
      done = nullptr;  // what it holds goes on this thread too
    }));
  } catch (const std::system_error&) {
    done();
  }
}

void Prepared::start() {
  try {
    made_.push_back(std::async(std::launch::async,
                               [config = config_, simple = simple_] { return std::make_unique<SideSolver>(config, simple); }));
  } catch (const std::system_error&) {
    // no thread: take() makes it
  }
}

bool Prepared::ready() const {
  return made_.empty() || made_.front().wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::unique_ptr<SideSolver> Prepared::take() {
  if (made_.empty()) return std::make_unique<SideSolver>(config_, simple_);
  auto f = std::move(made_.front());
  made_.pop_front();
  return f.get();
}

// Any check ends the interrupt; that of an empty simple solver costs a fraction of a
// millisecond, where the default solver sets up its tactics first.
void settleInterrupt(z3::context& ctx) { z3::solver(ctx, z3::solver::simple()).check(); }

// Z3 recurses over the terms it is given; its threads get a stack as large as the
// session's.
constexpr size_t kSolverStackBytes = size_t(1) << 30;

bool startSolverThread(pthread_t& thread, void* (*body)(void*), void* arg) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  bool started = pthread_attr_setstacksize(&attr, kSolverStackBytes) == 0 && pthread_create(&thread, &attr, body, arg) == 0;
  pthread_attr_destroy(&attr);
  return started;
}

namespace {

// Z3's count of the work done in the solver's context so far.
double resourceCount(z3::solver& s) {
  z3::stats st = s.statistics();
  for (unsigned i = 0; i < st.size(); ++i)
    if (st.key(i) == "rlimit count") return st.is_uint(i) ? st.uint_value(i) : st.double_value(i);
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- portfolio

namespace {

// Whether the model leaves none of the formulas false.
bool noneFalse(const z3::model& m, const z3::expr_vector& formulas) {
  for (unsigned i = 0; i < formulas.size(); ++i)
    if (m.eval(formulas[i], true).is_false()) return false;
  return true;
}

}  // namespace

Portfolio::Portfolio(size_t size) : entries_(size) {}

Portfolio::~Portfolio() = default;

void Portfolio::fill(size_t i, const z3::expr_vector& formulas) {
  z3::context& from = formulas.ctx();
  Entry& e = entries_[i];
  SideSolver& s = *e.s;
  e.formulas.emplace(s.ctx);
  for (unsigned k = 0; k < formulas.size() && !stop_; ++k) {
    z3::expr f(s.ctx, Z3_translate(from, formulas[k], s.ctx));
    s.solver.add(f);
    e.formulas->push_back(f);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  filled_ = std::max(filled_, i + 1);
  changed_.notify_all();
}

bool Portfolio::decided() {
  std::lock_guard<std::mutex> lock(mutex_);
  return decided_;
}

void Portfolio::widen() {
  std::lock_guard<std::mutex> lock(mutex_);
  wide_ = true;
  changed_.notify_all();
}

void Portfolio::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = true;
  interruptBusy();
  changed_.notify_all();
}

void Portfolio::interruptBusy() {
  for (auto& e : entries_)
    if (e.busy) e.s->ctx.interrupt();
}

bool Portfolio::decide() {
  if (decided_) return true;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].done && entries_[i].result == z3::unsat) {
      verdict_ = z3::unsat;
      decider_ = i;
      return decided_ = true;
    }
  // The finished model of the earliest round, least work and first place.
  std::optional<size_t> best;
  auto key = [&](size_t i) { return std::make_tuple(entries_[i].round, entries_[i].cost, i); };
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].done && entries_[i].result == z3::sat && (!best || key(i) < key(*best))) best = i;
  if (best) {
    // Every other solver must have used up that round's limit without a verdict.
    unsigned rounds = entries_[*best].round;
    for (const auto& e : entries_)
      if (!e.done && (e.busy ? e.round - 1 : e.round) < rounds) return false;
    verdict_ = z3::sat;
    decider_ = *best;
    return decided_ = true;
  }
  if (filled_ < entries_.size()) return false;
  for (const auto& e : entries_)
    if (!e.done) return false;
  // Every solver gave up: the model of an undecided check, if any, is that of the first.
  verdict_ = z3::unknown;
  bool allFailed = true;
  for (size_t i = 0; i < entries_.size(); ++i) {
    allFailed = allFailed && !entries_[i].failure.empty();
    if (entries_[i].failure.empty() && decider_ == size_t(-1)) decider_ = i;
  }
  if (allFailed && !entries_.empty()) failure_ = entries_[0].failure;
  return decided_ = true;
}

void* Portfolio::work(void* self) {
  static_cast<Portfolio*>(self)->workLoop();
  return nullptr;
}

void Portfolio::workLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (decided_ || stop_) return;
    // The filled solver furthest behind, the first of them in order.
    size_t pick = entries_.size();
    for (size_t i = 0; i < filled_; ++i) {
      const Entry& e = entries_[i];
      if (e.busy || e.done) continue;
      if (pick == entries_.size() || e.round < entries_[pick].round) pick = i;
    }
    if (pick == entries_.size()) {
      changed_.wait(lock);
      continue;
    }
    Entry& e = entries_[pick];
    SideSolver& s = *e.s;
    const double weight = s.config.weight;
    // Never less than the first limit: a check stopped very early, in Z3's preprocessing,
    // can leave its solver without some of its assertions.
    double want = double(kFirstLimit) * std::pow(kGrowth, std::min(e.round, 200u)) / weight;
    unsigned limit = static_cast<unsigned>(std::clamp(want, double(kFirstLimit), double(UINT_MAX)));
    e.busy = true;
    ++e.round;
    lock.unlock();
    z3::check_result r = z3::unknown;
    std::string failure;
    double before = 0, after = 0;
    try {
      before = resourceCount(s.solver);
      z3::params p(s.ctx);
      p.set("rlimit", limit);
      s.solver.set(p);
      r = s.solver.check();
      after = resourceCount(s.solver);
      // A model that leaves an assertion false comes from a solver that lost some of
      // them when an earlier round was stopped: it gives up.
      if (r == z3::sat && !noneFalse(s.solver.get_model(), *e.formulas)) r = z3::unknown, after = before;
    } catch (const z3::exception& ex) {
      failure = ex.msg();
    } catch (const std::exception& ex) {
      failure = ex.what();
    }
    lock.lock();
    e.busy = false;
    if (stop_) return;
    if (!failure.empty()) {
      e.done = true;
      e.failure = failure;
    } else if (r != z3::unknown) {
      e.done = true;
      e.result = r;
      e.cost = after * weight;
    } else if (after - before < limit) {
      e.done = true;  // gave up before its limit: an incomplete theory, say
    }
    if (decide()) interruptBusy();
    changed_.notify_all();
  }
}

z3::check_result Portfolio::run(unsigned threads, const z3::expr_vector& source, const std::function<void()>& filled,
                                const std::function<std::unique_ptr<SideSolver>(size_t)>& supply) {
  threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(entries_.size())));
  std::vector<pthread_t> started;
  auto startUpTo = [&](unsigned n) {
    while (started.size() < n) {
      pthread_t t;
      if (!startSolverThread(t, &Portfolio::work, this)) break;
      started.push_back(t);
    }
  };
  startUpTo(1);
  for (size_t i = 0; i < entries_.size() && !stop_; ++i) {
    if (i == 1) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, kJoinAfter, [&] { return decided_ || stop_; });
    }
    if (i > 0 && decided()) break;
    entries_[i].s = supply(i);
    fill(i, source);
  }
  filled();
  if (started.empty()) {
    workLoop();  // no thread could start: the rounds run here
  } else {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, kWidenAfter, [&] { return decided_ || stop_ || wide_; })) wide_ = true;
    if (!decided_ && !stop_) {
      lock.unlock();
      startUpTo(threads);
      lock.lock();
    }
    changed_.wait(lock, [&] { return decided_ || stop_; });
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }
  for (pthread_t t : started) pthread_join(t, nullptr);
  if (stop_ && !decided_) return z3::unknown;
  if (verdict_ == z3::sat) shorten();
  return verdict_;
}

namespace {

// The ground applications of uninterpreted functions and constants of integer or real
// sort in the formulas, in the order a walk over them first meets them.
std::vector<z3::expr> numberTerms(const z3::expr_vector& formulas) {
  std::vector<z3::expr> terms;
  std::unordered_map<unsigned, bool> ground;  // by id
  std::vector<std::pair<z3::expr, bool>> stack;  // a term, and whether its arguments are done
  for (unsigned i = 0; i < formulas.size(); ++i) {
    stack.emplace_back(formulas[i], false);
    while (!stack.empty()) {
      auto [e, expanded] = stack.back();
      stack.pop_back();
      if (ground.count(e.id())) continue;
      if (!e.is_app()) {  // a bound variable or a quantifier
        if (e.is_quantifier() && !expanded) stack.emplace_back(e.body(), false);
        ground.emplace(e.id(), false);
        continue;
      }
      if (!expanded) {
        stack.emplace_back(e, true);
        for (unsigned k = e.num_args(); k-- > 0;) stack.emplace_back(e.arg(k), false);
        continue;
      }
      bool g = true;
      for (unsigned k = 0; k < e.num_args() && g; ++k) {
        auto it = ground.find(e.arg(k).id());
        g = it != ground.end() && it->second;
      }
      ground.emplace(e.id(), g);
      if (g && e.decl().decl_kind() == Z3_OP_UNINTERPRETED && (e.is_int() || e.is_real())) terms.push_back(e);
    }
  }
  return terms;
}

// Shorter values to try for v, the simplest first: the nearest integers, then the
// nearest fractions with a small denominator.
std::vector<mpq_class> shortCandidates(const mpq_class& v) {
  std::vector<mpq_class> c;
  auto add = [&](const mpq_class& q) {
    if (q != v && std::find(c.begin(), c.end(), q) == c.end()) c.push_back(q);
  };
  mpz_class fl, ce;
  mpz_fdiv_q(fl.get_mpz_t(), v.get_num_mpz_t(), v.get_den_mpz_t());
  mpz_cdiv_q(ce.get_mpz_t(), v.get_num_mpz_t(), v.get_den_mpz_t());
  if (v - mpq_class(fl) <= mpq_class(ce) - v) {
    add(mpq_class(fl));
    add(mpq_class(ce));
  } else {
    add(mpq_class(ce));
    add(mpq_class(fl));
  }
  for (long den : {2L, 4L, 10L, 100L}) {
    mpz_class n;
    mpq_class scaled = v * den;
    mpz_fdiv_q(n.get_mpz_t(), scaled.get_num_mpz_t(), scaled.get_den_mpz_t());
    mpq_class q(n, den);
    q.canonicalize();
    add(q);
  }
  return c;
}

bool numeralOf(const z3::expr& v, mpq_class& q) {
  if (!v.is_numeral()) return false;
  std::string text = Z3_get_numeral_string(v.ctx(), v);
  return q.set_str(text, 10) == 0 && (q.canonicalize(), true);
}

}  // namespace

// The winner's model may give numbers that nothing in the assertions asks for, such as
// 81994785318942739357/45226601361032812500 where 1 would do. Each such number is tried,
// in a fixed order, with the simplest of a few short values: the winner checks again
// with that value asserted (in a scope of its own, under a resource limit), and keeps it
// if the new model satisfies every assertion. Like the rounds, this depends on the
// assertions alone.
void Portfolio::shorten() {
  Entry& e = entries_[decider_];
  z3::solver& s = e.s->solver;
  z3::model best = s.get_model();
  const double count = resourceCount(s);
  const unsigned limit = static_cast<unsigned>(std::clamp(count / 4, double(kFirstLimit) * 16, double(UINT_MAX)));
  z3::expr_vector kept(e.s->ctx);
  for (const z3::expr& t : numberTerms(*e.formulas)) {
    if (stop_) break;
    mpq_class v;
    if (!numeralOf(best.eval(t, true), v) || v.get_str().size() <= kShortText) continue;
    for (const mpq_class& c : shortCandidates(v)) {
      if (c.get_str().size() >= v.get_str().size()) continue;
      z3::expr value = t.is_int() ? e.s->ctx.int_val(c.get_num().get_str().c_str())
                                  : e.s->ctx.real_val(c.get_str().c_str());
      s.push();
      s.add(t == value);
      z3::params p(e.s->ctx);
      p.set("rlimit", limit);
      s.set(p);
      bool ok = false;
      try {
        if (s.check() == z3::sat) {
          z3::model m = s.get_model();
          ok = noneFalse(m, *e.formulas) && noneFalse(m, kept) && m.eval(t == value, true).is_true();
          if (ok) best = m;
        }
      } catch (const z3::exception&) {
      }
      s.pop();
      if (ok) {
        kept.push_back(t == value);
        s.add(t == value);  // the values kept so far hold for the next tries
        break;
      }
    }
  }
  e.shortened = best;
}

std::optional<z3::model> Portfolio::model(z3::context& to) {
  if (decider_ >= entries_.size()) return std::nullopt;
  Entry& e = entries_[decider_];
  try {
    z3::model m = e.shortened ? *e.shortened : e.s->solver.get_model();
    return z3::model(m, to, z3::model::translate());
  } catch (const z3::exception&) {
    return std::nullopt;  // an undecided check may come without a model
  }
}

// ---------------------------------------------------------------- the race

namespace {

// How long solver_ and the portfolio have a check to themselves.
constexpr auto kSideDelay = std::chrono::milliseconds(10);

struct Contender {
  z3::context* ctx = nullptr;  // none for the portfolio
  bool interrupted = false;
  std::function<z3::check_result()> run;
  z3::check_result result = z3::unknown;
  std::string failure;  // what a z3::exception said
  bool finished = false;
  bool inRace = true;     // it takes part in this check
  bool launched = false;  // its check was begun (on a thread or here)
  pthread_t thread{};
  bool started = false;   // on a thread of its own
};

// What the threads of a race share. The portfolio stops later than the others when it
// is interrupted (its preprocessing looks at the interrupt seldom), so the race does not
// wait for it: its thread may outlive the race, and shares this with it.
struct RaceState {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Contender> contenders;
  std::unique_ptr<Portfolio> portfolio;
  // What the portfolio is given, in the context of a side solver; while it is being
  // given (filling), that context is the portfolio's thread's to read.
  std::optional<z3::expr_vector> source;
  bool filling = false;
};

struct ContenderCall {
  std::shared_ptr<RaceState> race;
  size_t index;
};

void* runContender(void* p) {
  std::unique_ptr<ContenderCall> call(static_cast<ContenderCall*>(p));
  RaceState& st = *call->race;
  Contender& c = st.contenders[call->index];
  z3::check_result r = z3::unknown;
  std::string failure;
  try {
    r = c.run();
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
  struct Guard {
    std::function<void()> f;
    ~Guard() { f(); }
  } guard{release};
  return st.portfolio->run(usableCores(), *st.source, release, supply);
}

// A check of an incremental solver whose "sat" counts only when its model satisfies the
// formulas; otherwise it is "unknown" and the solver is marked refuted.
z3::check_result checkedSat(z3::solver& s, const z3::expr_vector& assumptions, const z3::expr_vector& formulas,
                            bool& refuted) {
  z3::check_result r = assumptions.empty() ? s.check() : s.check(assumptions);
  if (r == z3::sat && !noneFalse(s.get_model(), formulas)) {
    refuted = true;
    return z3::unknown;
  }
  return r;
}

}  // namespace

void Session::Side::renew() {  // after awaitFill
  plain.clear();  // before the context that holds them goes
  pending.release([old = std::shared_ptr<SideSolver>(std::move(s))]() mutable { old.reset(); });
  pending.start();
  seen = 0;
}

void Session::makeSides() {
  awaitFill();
  sides_.clear();
  for (bool pushPop : {false, true}) sides_.emplace_back(pushPop);
}

void Session::prepareFresh() {
  for (const auto& config : portfolioConfigs()) nextFresh_.emplace_back(config, true);
  for (auto& p : nextFresh_) p.start();
}

// Runs the check on solver_, the side solvers and (when a model is wanted) the
// portfolio at once. The verdict is the first "unsat"; with a model wanted, "sat" is the
// portfolio's, whose winner's model is returned translated into the session's context.
z3::check_result Session::race(const z3::expr_vector& assumptions, std::optional<z3::model>& model) {
  // Bring the side solvers up to date, on this thread: the translations read the
  // session's context, which solver_ uses once the race is on.
  // A side solver whose context is still being made sits this check out (the first of a
  // session, mostly), except the one that the portfolio is given its assertions from.
  awaitFill();
  const bool withFresh = opt_.evidence;
  std::vector<z3::expr_vector> sideAssumptions, sideFormulas;
  std::vector<char> present;
  for (auto& side : sides_) {
    present.push_back(side.s || side.pending.ready() || (withFresh && side.pushPop));
    if (!present.back()) {
      sideAssumptions.emplace_back(ctx_);
      sideFormulas.emplace_back(ctx_);
      continue;
    }
    z3::context& c = side.solver().ctx;
    z3::solver& solver = side.s->solver;
    for (; side.seen < given_.size(); ++side.seen) {
      const Given& g = given_[side.seen];
      if (g.kind == Given::Assert) {
        z3::expr p(c, Z3_translate(ctx_, g.plain, c));
        side.plain.emplace(g.plain.id(), p);
        if (side.pushPop || eq(g.guarded, g.plain)) {
          solver.add(p);
        } else {
          // guarded is (=> scope plain)
          solver.add(z3::implies(z3::expr(c, Z3_translate(ctx_, g.guarded.arg(0), c)), p));
        }
      } else if (!side.pushPop) {
        if (g.kind == Given::Pop) solver.add(z3::expr(c, Z3_translate(ctx_, g.guarded, c)));
      } else if (g.kind == Given::Push) {
        solver.push();
      } else {
        solver.pop();
      }
    }
    z3::expr_vector av(c);
    if (!side.pushPop)
      for (unsigned i = 0; i < assumptions.size(); ++i) av.push_back(z3::expr(c, Z3_translate(ctx_, assumptions[i], c)));
    sideAssumptions.push_back(av);
    z3::expr_vector fs(c);
    for (const auto& a : g_.cur.assertions) {
      auto it = side.plain.find(a.id());
      fs.push_back(it != side.plain.end() ? it->second : z3::expr(c, Z3_translate(ctx_, a, c)));
    }
    sideFormulas.push_back(fs);
  }
  z3::expr_vector mainFormulas(ctx_);
  for (const auto& a : g_.cur.assertions) mainFormulas.push_back(a);

  auto st = std::make_shared<RaceState>();
  // solver_ first, then the side solvers, then the portfolio.
  const size_t kMain = 0, kFresh = 1 + sides_.size();
  st->contenders.resize(kFresh + (withFresh ? 1 : 0));
  std::vector<char> refuted(kFresh, 0);
  st->contenders[kMain].ctx = &ctx_;
  st->contenders[kMain].run = [&] {
    bool r = false;
    z3::check_result res = checkedSat(solver_, assumptions, mainFormulas, r);
    refuted[kMain] = r;
    return res;
  };
  for (size_t k = 0; k < sides_.size(); ++k) {
    if (!present[k]) {
      st->contenders[1 + k].inRace = false;
      continue;
    }
    st->contenders[1 + k].ctx = &sides_[k].s->ctx;
    st->contenders[1 + k].run = [&, k] {
      bool r = false;
      z3::check_result res = checkedSat(sides_[k].s->solver, sideAssumptions[k], sideFormulas[k], r);
      refuted[1 + k] = r;
      return res;
    };
  }
  // The portfolio is given the current assertions on its own thread while solver_
  // runs, from the side solver that follows Z3's push and pop, which has them as they
  // are, in the same order, and is idle until the side solvers start (they wait for
  // this). The terms are those that a translation from the session's context would give
  // (a translation copies the terms as they are, names and sharing too, and makes the
  // copies in the same order), so its models are too. A race decided before the
  // portfolio has all its assertions stops giving them.
  if (withFresh) {
    if (nextFresh_.empty()) prepareFresh();  // a model asked for only now
    // A solver taken is made anew for the next check at once. Those the portfolio
    // takes itself it takes while it fills, before it lets go of the source (which the
    // next check waits for), so that no two threads use one queue at a time.
    auto supply = [this](size_t i) {
      std::unique_ptr<SideSolver> s = nextFresh_[i].take();
      nextFresh_[i].start();
      return s;
    };
    st->portfolio = std::make_unique<Portfolio>(nextFresh_.size());
    st->source = sideFormulas[sides_[0].pushPop ? 0 : 1];
    st->filling = true;
    st->contenders[kFresh].run = [s = st.get(), supply] { return runPortfolio(*s, supply); };
  }
  // The portfolio goes back to be freed, once its thread has ended, on a thread of its
  // own, whichever way the race ends.
  struct NextFresh {
    Session& session;
    std::shared_ptr<RaceState> st;
    size_t index;
    ~NextFresh() {
      if (!st->portfolio) return;
      session.nextFresh_[0].release([st = std::move(st), index = index] {
          Contender& c = st->contenders[index];
          std::unique_lock<std::mutex> lock(st->mutex);
          while (c.launched && !c.finished) {
            st->portfolio->stop();
            st->changed.wait_for(lock, std::chrono::milliseconds(5));
          }
          lock.unlock();
          if (c.started) pthread_join(c.thread, nullptr);
        });
    }
  } nextFresh{*this, st, kFresh};

  // Starts a thread for each of the contenders; one whose thread could not start runs
  // here, after the others have started.
  auto launch = [&](const std::vector<size_t>& which) {
    std::vector<ContenderCall*> here;
    for (size_t i : which) {
      Contender& c = st->contenders[i];
      c.launched = true;
      auto* call = new ContenderCall{st, i};
      c.started = startSolverThread(c.thread, runContender, call);
      if (!c.started) here.push_back(call);
    }
    for (auto* call : here) runContender(call);
  };
  // The side solvers join later; the one whose context the portfolio reads once it has
  // been given its assertions.
  std::vector<size_t> first{kMain}, later, afterFill;
  if (withFresh) first.push_back(kFresh);
  for (size_t k = 0; k < sides_.size(); ++k)
    if (present[k]) (st->filling && sides_[k].pushPop ? afterFill : later).push_back(1 + k);
  launch(first);

  auto& cs = st->contenders;
  // The verdict, once one is known; and whether the race is over. A contender that was
  // never launched (the side solvers of a check decided before they were due) takes no
  // part.
  auto decided = [&]() -> std::optional<z3::check_result> {
    bool allDone = true, anySat = false;
    for (size_t i = 0; i < cs.size(); ++i) {
      const Contender& c = cs[i];
      if (!c.inRace || !c.launched) continue;
      allDone = allDone && c.finished;
      if (!c.finished) continue;
      if (c.result == z3::unsat) return z3::unsat;
      if (c.result == z3::sat) {
        if (!withFresh || i == kFresh) return z3::sat;
        anySat = true;
      }
    }
    // With a model wanted, the verdict of a check that the portfolio could not decide
    // is "unknown" even where an incremental solver found a model: which one would have
    // depends on timing.
    if (allDone) return anySat && !withFresh ? z3::sat : z3::unknown;
    return std::nullopt;
  };
  // Whether an incremental solver has found a model, so that only the portfolio's is
  // awaited.
  auto satSeen = [&] {
    for (size_t i = 0; i < kFresh; ++i)
      if (cs[i].finished && cs[i].result == z3::sat) return true;
    return false;
  };
  auto interrupt = [&](size_t from, size_t to) {
    bool running = false;
    for (size_t i = from; i < to; ++i) {
      Contender& c = cs[i];
      if (c.launched && !c.finished) {
        running = true;
        c.interrupted = true;
        if (i == kFresh) st->portfolio->stop();
        else c.ctx->interrupt();
      }
    }
    return running;
  };
  std::optional<z3::check_result> verdict;
  {
    std::unique_lock<std::mutex> lock(st->mutex);
    // Most checks of a search are decided by solver_ within a few milliseconds; the
    // side solvers join a check that takes longer (the portfolio's source once the
    // portfolio has its assertions).
    auto sidesWait = [&] { return (verdict = decided()).has_value(); };
    auto join = [&](const std::vector<size_t>& which) {
      if (verdict || satSeen() || which.empty()) return;
      lock.unlock();
      launch(which);
      lock.lock();
    };
    if (!st->changed.wait_for(lock, kSideDelay, sidesWait)) {
      join(later);
      st->changed.wait(lock, [&] { return sidesWait() || !st->filling; });
      join(afterFill);
    }
    // Once an incremental solver has a model, the others stop and leave the machine to
    // the portfolio.
    while (!(verdict = decided())) {
      if (satSeen()) {
        interrupt(0, kFresh);
        if (withFresh) st->portfolio->widen();
      }
      st->changed.wait_for(lock, std::chrono::milliseconds(5));
    }
    // The losers are interrupted until they have stopped: an interrupt that comes before
    // a check has begun is not seen by it, so it is repeated. The portfolio is stopped
    // once here and not waited for, nor is its letting go of the side solver's context:
    // the next use of that context waits for that (awaitFill).
    if (withFresh) interrupt(kFresh, kFresh + 1);
    while (interrupt(0, kFresh)) st->changed.wait_for(lock, std::chrono::milliseconds(5));
  }
  awaitFill_ = [weak = std::weak_ptr<RaceState>(st)] {
    if (auto st = weak.lock()) {  // else its thread has ended
      std::unique_lock<std::mutex> lock(st->mutex);
      st->changed.wait(lock, [&] { return !st->filling; });
    }
  };
  for (size_t i = 0; i < kFresh; ++i) {
    Contender& c = cs[i];
    if (c.started) pthread_join(c.thread, nullptr);
    if (c.interrupted) settleInterrupt(*c.ctx);
  }

  // A solver whose model contradicts what it was given has lost part of it: it is made
  // anew, and learns again from the next check on.
  sideAssumptions.clear();  // they belong to the contexts of the side solvers
  sideFormulas.clear();
  if (refuted[kMain]) renewMain();
  for (size_t k = 0; k < sides_.size(); ++k)
    if (refuted[1 + k]) {
      awaitFill();
      sides_[k].renew();
    }
  if (*verdict == z3::unknown) {
    // No solver decided; a failure of Z3 is reported rather than taken for "unknown".
    std::lock_guard<std::mutex> lock(st->mutex);
    if (withFresh && cs[kFresh].finished && !st->portfolio->failure().empty())
      throw z3::exception(st->portfolio->failure().c_str());
    if (!withFresh)
      for (const auto& c : cs)
        if (!c.failure.empty()) throw z3::exception(c.failure.c_str());
  }
  if (*verdict == z3::unsat) return z3::unsat;
  if (!opt_.evidence) return *verdict;
  // The model: that of the portfolio's winner; for "unknown", that of the first of its
  // solvers that has one. A verdict other than "unsat" comes when the portfolio has
  // finished.
  model = st->portfolio->model(ctx_);
  return *verdict;
}

}  // namespace vxsolver
