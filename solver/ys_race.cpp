#include "ys_race.hpp"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <tuple>
#include <unordered_map>

#include <gmpxx.h>

namespace vxsolver {

// ---------------------------------------------------------------- solvers

SolverConfig sideConfig() { return SolverConfig{2, 2, 0, 1}; }

SolverConfig defaultArithConfig(unsigned relevancy) { return SolverConfig{6, relevancy, 0, 1}; }

void configure(z3::solver& s, const SolverConfig& config) {
  z3::params p(s.ctx());
  p.set("smt.arith.solver", config.arith);
  if (config.relevancy != 2) p.set("smt.relevancy", config.relevancy);
  if (config.seed != 0) p.set("random_seed", config.seed);
  s.set(p);
}

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
  configure(solver, config);
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

double resourceCount(z3::solver& s) {
  z3::stats st = s.statistics();
  for (unsigned i = 0; i < st.size(); ++i)
    if (st.key(i) == "rlimit count") return st.is_uint(i) ? st.uint_value(i) : st.double_value(i);
  return 0;
}

void setResourceLimit(z3::solver& s, unsigned limit) {
  z3::params p(s.ctx());
  p.set("rlimit", limit);
  s.set(p);
}

// ---------------------------------------------------------------- portfolio

bool noneFalse(const z3::model& m, const z3::expr_vector& formulas) {
  for (unsigned i = 0; i < formulas.size(); ++i)
    if (m.eval(formulas[i], true).is_false()) return false;
  return true;
}

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
      setResourceLimit(s.solver, limit);
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

// A model may give numbers that nothing in the assertions asks for, such as
// 81994785318942739357/45226601361032812500 where 1 would do. Each such number is tried,
// in a fixed order, with the simplest of a few short values: the solver checks again
// with that value asserted (in a scope of its own, under a resource limit), and keeps it
// if the new model satisfies every assertion. The values kept hold for the later tries,
// in a scope that is closed at the end, so the solver is given nothing for good. Like
// the check before it, this depends on the solver's assertions alone.
z3::model shortenModel(z3::solver& s, const z3::expr_vector& assumptions, const z3::expr_vector& formulas,
                       z3::model best, double work, const std::atomic<bool>& stop) {
  z3::context& ctx = s.ctx();
  const unsigned limit = static_cast<unsigned>(std::clamp(work / 4, double(Portfolio::kFirstLimit) * 16, double(UINT_MAX)));
  const std::vector<z3::expr> terms = numberTerms(formulas);
  // Whether t has a long value in the best model so far (v).
  auto longValue = [&](const z3::expr& t, mpq_class& v) {
    return numeralOf(best.eval(t, true), v) && v.get_str().size() > kShortText;
  };
  mpq_class v;
  if (std::none_of(terms.begin(), terms.end(), [&](const z3::expr& t) { return longValue(t, v); })) return best;
  z3::expr_vector kept(ctx);
  s.push();
  for (const z3::expr& t : terms) {
    if (stop) break;
    if (!longValue(t, v)) continue;
    for (const mpq_class& c : shortCandidates(v)) {
      if (c.get_str().size() >= v.get_str().size()) continue;
      z3::expr value = t.is_int() ? ctx.int_val(c.get_num().get_str().c_str()) : ctx.real_val(c.get_str().c_str());
      s.push();
      s.add(t == value);
      setResourceLimit(s, limit);
      bool ok = false;
      try {
        if ((assumptions.empty() ? s.check() : s.check(assumptions)) == z3::sat) {
          z3::model m = s.get_model();
          ok = noneFalse(m, formulas) && noneFalse(m, kept) && m.eval(t == value, true).is_true();
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
  s.pop();
  setResourceLimit(s, 0);
  return best;
}

void Portfolio::shorten() {
  Entry& e = entries_[decider_];
  z3::solver& s = e.s->solver;
  e.shortened = shortenModel(s, z3::expr_vector(e.s->ctx), *e.formulas, s.get_model(), resourceCount(s), stop_);
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

}  // namespace vxsolver
