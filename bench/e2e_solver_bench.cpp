// Time per search attempt with the bundled solver, on a domain whose goal needs k calls
// (k = 1, 5, 10, 20): a task whose stage must go from 0 to k, where procedure step<i>
// moves it from stage i-1 to stage i. Attempts 0 .. k-1 are made, the last succeeds.
//   BM_Vorlax        runs the built vorlax with YICES_EXE pointing at vorlax-solver.
//   BM_SolverDirect  drives vorlax-solver over pipes with the commands vorlax sends for
//                    the same domain (its domain dump, goal set-up and the per-attempt
//                    step, push, goal, check exchange and pop), so that the solver's
//                    share is measured on its own.
// Counters: attempts (k) and ms_per_attempt (wall time of a whole run divided by k);
// BM_SolverDirect also gives the slowest attempt and the last (satisfiable) one.
// The refutations of the early attempts grow with k: the solver must rule out every
// shorter sequence. What it learns about the steps in one attempt stays for the next
// (only the goal is popped), so k = 20 takes some 5 s per run, most of it in the
// unsatisfiable attempts 15 to 18.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "e2e_child.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string domainFile(long k) {
  std::string s = "-- A task that goes through its stages one by one.\ntype Task {\n  stage : Int\n}\n";
  for (long i = 1; i <= k; ++i)
    s += "\nstep" + std::to_string(i) + " (t : Task)\n  require\n    ready: t.stage = " + std::to_string(i - 1) +
         "\n  ensure\n    done: t.stage = " + std::to_string(i) + "\n";
  return s;
}

std::string serialFile(long k) {
  return "t : Task\nt.stage = 0\n@ " + std::to_string(k) + "\n-> t.stage = " + std::to_string(k) + "\n";
}

// What vorlax sends for domainFile(k) and serialFile(k) before the first attempt.
std::string domainCommands(long k) {
  std::string tags, s;
  for (long i = k; i >= 1; --i) tags += " step" + std::to_string(i) + "_tag";
  s = "(define-type proc_tag (scalar" + tags + "))\n"
      "(define tag_array::(-> int proc_tag))\n"
      "(define-type Task_ref (scalar null_Task Task_obj1 Task_obj2 Task_obj3 Task_obj4))\n"
      "(define-type ALL_ref (datatype (Task_ref_wrap Task_ref_unwrap::Task_ref)))\n"
      "(define Int_arg::(-> int int int))\n"
      "(define Task_arg::(-> int int Task_ref))\n"
      "(define-type exclude_type (-> ALL_ref int bool))\n"
      "(define-type frame_type (-> exclude_type int bool))\n"
      "(define stage::(-> Task_ref int int))\n"
      "(define Task_eq::(-> Task_ref int bool) (lambda (obj::Task_ref idx::int)(and (= (stage obj (+ idx 1)) "
      "(stage obj idx)))))\n"
      "(define Task_frame_single::(-> Task_ref exclude_type int bool) (lambda (obj::Task_ref "
      "exclude_pred::exclude_type idx::int)(=> (not (exclude_pred (Task_ref_wrap obj) idx)) (Task_eq obj idx))))\n"
      "(define Task_frame_all::(-> exclude_type int bool) (lambda (exclude_pred::exclude_type idx::int)(and "
      "(Task_frame_single null_Task exclude_pred idx) (Task_frame_single Task_obj1 exclude_pred idx) "
      "(Task_frame_single Task_obj2 exclude_pred idx) (Task_frame_single Task_obj3 exclude_pred idx) "
      "(Task_frame_single Task_obj4 exclude_pred idx))))\n"
      "(define all-frames::(-> exclude_type int bool) (lambda (exclude_pred::exclude_type idx::int)(and "
      "(Task_frame_all exclude_pred idx))))\n";
  std::string actions;
  for (long i = k; i >= 1; --i) {
    std::string p = "step" + std::to_string(i);
    s += "(define " + p + "::(-> Task_ref (-> int bool)) (lambda (t::Task_ref)(lambda (idx::int)(and (= (stage t "
         "idx) " + std::to_string(i - 1) + ") (= (stage t (+ idx 1)) " + std::to_string(i) +
         ") (all-frames (lambda (obj::ALL_ref idx::int)(and (or (= obj (Task_ref_wrap t))) (if (Task_ref_wrap? "
         "obj) true true))) idx) (= (tag_array idx) " + p + "_tag)))))\n";
    actions += " ((" + p + " (Task_arg 1 idx)) idx)";
  }
  s += "(define actions::(-> frame_type int bool) (lambda (frm::frame_type idx::int)(or" + actions + ")))\n";
  s += "(define t::Task_ref)\n(assert (= (stage t 0) 0))\n";
  return s;
}

using vorlax_bench::Child;
using vorlax_bench::finish;
using vorlax_bench::sendAll;
using vorlax_bench::start;

fs::path workDir() {
  static fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vorlax_solver_bench_" + std::to_string(getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void BM_Vorlax(benchmark::State& state) {
  const long k = state.range(0);
  if (!fs::exists(VORLAX_BIN) || !fs::exists(VORLAX_SOLVER_BIN)) {
    state.SkipWithError("vorlax or vorlax-solver is not built");
    return;
  }
  fs::path dom = workDir() / ("task" + std::to_string(k) + ".dom");
  fs::path ser = workDir() / ("task" + std::to_string(k) + ".ser");
  std::ofstream(dom) << domainFile(k);
  std::ofstream(ser) << serialFile(k);
  double seconds = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    Child c = start(VORLAX_BIN, {dom.string(), ser.string()});
    if (c.pid < 0) {
      state.SkipWithError("vorlax cannot be started");
      return;
    }
    close(c.in);
    c.in = -1;
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(c.out, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    int status = finish(c);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    long calls = 0;
    for (size_t p = 0; (p = out.find(" (t)", p)) != std::string::npos; ++p) ++calls;
    if (status != 0 || calls != k || out.find("step" + std::to_string(k) + " (t)") == std::string::npos) {
      state.SkipWithError(("vorlax did not find the " + std::to_string(k) + " calls: " + out.substr(0, 200)).c_str());
      return;
    }
  }
  state.counters["attempts"] = static_cast<double>(k);
  state.counters["ms_per_attempt"] = 1000.0 * seconds / static_cast<double>(state.iterations()) / static_cast<double>(k);
}

// Reads the output up to the end-marker line; returns the first answer line.
std::string readAnswer(int fd, std::string& pending) {
  std::string verdict;
  bool begun = false;
  for (;;) {
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::string l = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (l == "_![<[END_OUTPUT]>]!_") return verdict;
      if (l == "_![<[BEGIN_OUTPUT]>]!_") {
        begun = true;
        continue;
      }
      if (l.rfind("yices > ", 0) == 0) l = l.substr(8);
      if (begun && verdict.empty() && !l.empty()) verdict = l;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 120000) <= 0) return "timeout";
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return "eof";
    pending.append(buf, static_cast<size_t>(n));
  }
}

void BM_SolverDirect(benchmark::State& state) {
  const long k = state.range(0);
  if (!fs::exists(VORLAX_SOLVER_BIN)) {
    state.SkipWithError("vorlax-solver is not built");
    return;
  }
  const std::string setup = domainCommands(k);
  const std::string exchange = "(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")\n(check)\n(echo \"\\n_![<[END_OUTPUT]>]!_\")\n";
  double seconds = 0, slowest = 0, last = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    Child c = start(VORLAX_SOLVER_BIN, {"-i", "-e"});
    std::string pending, verdict;
    bool ok = c.pid > 0 && sendAll(c.in, setup);
    for (long i = 0; ok && i < k; ++i) {
      auto a0 = std::chrono::steady_clock::now();
      ok = sendAll(c.in, "(assert (actions all-frames " + std::to_string(i) + "))\n(push)\n(assert (= (stage t " +
                             std::to_string(i + 1) + ") " + std::to_string(k) + "))\n" + exchange);
      verdict = ok ? readAnswer(c.out, pending) : "";
      last = std::chrono::duration<double>(std::chrono::steady_clock::now() - a0).count();
      slowest = std::max(slowest, last);
      if (verdict == "sat") break;
      ok = ok && verdict == "unsat" && sendAll(c.in, "(pop)\n");
    }
    finish(c);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (verdict != "sat") {
      state.SkipWithError(("the solver did not answer sat at attempt " + std::to_string(k - 1) + ": " + verdict).c_str());
      return;
    }
  }
  state.counters["attempts"] = static_cast<double>(k);
  state.counters["ms_per_attempt"] = 1000.0 * seconds / static_cast<double>(state.iterations()) / static_cast<double>(k);
  state.counters["ms_slowest_attempt"] = 1000.0 * slowest;
  state.counters["ms_last_attempt"] = 1000.0 * last;
}

}  // namespace

BENCHMARK(BM_Vorlax)->Arg(1)->Arg(5)->Arg(10)->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SolverDirect)->Arg(1)->Arg(5)->Arg(10)->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
