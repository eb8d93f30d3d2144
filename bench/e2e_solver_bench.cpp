// Time per search attempt with the bundled solver, on a domain whose goal needs k calls
// (k = 1, 5, 10, 20): a counter that must be raised from 0 to k by "incr", next to
// "decr" and "reset" and a field that no procedure changes. Attempts 0 .. k-1 are made,
// the last one succeeds.
//   BM_Vorlax        runs the built vorlax with YICES_EXE pointing at vorlax-solver.
//   BM_SolverDirect  drives vorlax-solver over pipes with the commands vorlax sends for
//                    the same domain (its domain dump, goal set-up and the per-attempt
//                    step, push, goal, check exchange and pop), so the solver's share
//                    can be measured on its own.
// Counters: attempts (k) and ms_per_attempt (wall time of a whole run divided by k).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const char* kDomainFile = R"(-- A counter that only "incr" raises by one.
type Counter {
  value : Int
  touched : Bool
}

incr (c : Counter)
  ensure
    up: c.value = old(c.value) + 1

decr (c : Counter)
  require
    positive: c.value > 0
  ensure
    down: c.value = old(c.value) - 1

reset (c : Counter)
  ensure
    zero: c.value = 0
)";

// What vorlax sends for kDomainFile, one command per line.
std::string domainCommands() {
  auto frame = [](const std::string& c) {
    return "(all-frames (lambda (obj::ALL_ref idx::int)(and (or (= obj (Counter_ref_wrap " + c +
           "))) (if (Counter_ref_wrap? obj) (and (= (touched (Counter_ref_unwrap obj) idx) (touched "
           "(Counter_ref_unwrap obj) (+ idx 1)))) true))) idx)";
  };
  auto proc = [&](const std::string& p, const std::string& clauses) {
    return "(define " + p + "::(-> Counter_ref (-> int bool)) (lambda (c::Counter_ref)(lambda (idx::int)(and " +
           clauses + " " + frame("c") + " (= (tag_array idx) " + p + "_tag)))))\n";
  };
  std::string s =
      "(define-type proc_tag (scalar reset_tag decr_tag incr_tag))\n"
      "(define tag_array::(-> int proc_tag))\n"
      "(define-type Counter_ref (scalar null_Counter Counter_obj1 Counter_obj2 Counter_obj3 Counter_obj4))\n"
      "(define-type ALL_ref (datatype (Counter_ref_wrap Counter_ref_unwrap::Counter_ref)))\n"
      "(define Int_arg::(-> int int int))\n"
      "(define Counter_arg::(-> int int Counter_ref))\n"
      "(define-type exclude_type (-> ALL_ref int bool))\n"
      "(define-type frame_type (-> exclude_type int bool))\n"
      "(define value::(-> Counter_ref int int))\n"
      "(define touched::(-> Counter_ref int bool))\n"
      "(define Counter_eq::(-> Counter_ref int bool) (lambda (obj::Counter_ref idx::int)(and (= (value obj (+ idx "
      "1)) (value obj idx)) (= (touched obj (+ idx 1)) (touched obj idx)))))\n"
      "(define Counter_frame_single::(-> Counter_ref exclude_type int bool) (lambda (obj::Counter_ref "
      "exclude_pred::exclude_type idx::int)(=> (not (exclude_pred (Counter_ref_wrap obj) idx)) (Counter_eq obj "
      "idx))))\n"
      "(define Counter_frame_all::(-> exclude_type int bool) (lambda (exclude_pred::exclude_type idx::int)(and "
      "(Counter_frame_single null_Counter exclude_pred idx) (Counter_frame_single Counter_obj1 exclude_pred idx) "
      "(Counter_frame_single Counter_obj2 exclude_pred idx) (Counter_frame_single Counter_obj3 exclude_pred idx) "
      "(Counter_frame_single Counter_obj4 exclude_pred idx))))\n"
      "(define all-frames::(-> exclude_type int bool) (lambda (exclude_pred::exclude_type idx::int)(and "
      "(Counter_frame_all exclude_pred idx))))\n";
  s += proc("reset", "(= (value c (+ idx 1)) 0)");
  s += proc("decr", "(> (value c idx) 0) (= (value c (+ idx 1)) (- (value c idx) 1))");
  s += proc("incr", "(= (value c (+ idx 1)) (+ (value c idx) 1))");
  s += "(define actions::(-> frame_type int bool) (lambda (frm::frame_type idx::int)(or ((reset (Counter_arg 1 "
       "idx)) idx) ((decr (Counter_arg 1 idx)) idx) ((incr (Counter_arg 1 idx)) idx))))\n";
  s += "(define c::Counter_ref)\n(assert (= (value c 0) 0))\n";
  return s;
}

struct Child {
  pid_t pid = -1;
  int in = -1, out = -1;
};

// Starts a program with its standard input and output on pipes (standard error to
// /dev/null) and YICES_EXE set to the solver.
Child start(const char* path, std::vector<std::string> args) {
  int in[2], out[2];
  Child c;
  if (pipe(in) != 0 || pipe(out) != 0) return c;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&fa, fd);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("YICES_EXE=", 0) != 0) env.emplace_back(*e);
  env.push_back(std::string("YICES_EXE=") + VORLAX_SOLVER_BIN);
  std::vector<char*> envp, argv;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  args.insert(args.begin(), path);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&c.pid, path, &fa, nullptr, argv.data(), envp.data()) != 0) c.pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  c.in = in[1];
  c.out = out[0];
  return c;
}

bool sendAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = write(fd, s.data() + done, s.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int finish(Child& c) {
  if (c.in >= 0) close(c.in);
  if (c.out >= 0) close(c.out);
  int ws = 0;
  if (c.pid > 0) waitpid(c.pid, &ws, 0);
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
}

fs::path workDir() {
  static fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vorlax_solver_bench_" + std::to_string(getpid()));
    fs::create_directories(d);
    std::ofstream(d / "counter.dom") << kDomainFile;
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
  fs::path dom = workDir() / "counter.dom";
  fs::path ser = workDir() / ("counter" + std::to_string(k) + ".ser");
  std::ofstream(ser) << "c : Counter\nc.value = 0\n@ " << k << "\n-> c.value = " << k << "\n";
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
    for (size_t p = 0; (p = out.find("incr (", p)) != std::string::npos; ++p) ++calls;
    if (status != 0 || calls != k) {
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
  const std::string setup = domainCommands();
  const std::string exchange = "(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")\n(check)\n(echo \"\\n_![<[END_OUTPUT]>]!_\")\n";
  double seconds = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    Child c = start(VORLAX_SOLVER_BIN, {"-i", "-e"});
    std::string pending, verdict;
    bool ok = c.pid > 0 && sendAll(c.in, setup);
    for (long i = 0; ok && i < k; ++i) {
      ok = sendAll(c.in, "(assert (actions all-frames " + std::to_string(i) + "))\n(push)\n(assert (= (value c " +
                             std::to_string(i + 1) + ") " + std::to_string(k) + "))\n" + exchange);
      verdict = ok ? readAnswer(c.out, pending) : "";
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
}

}  // namespace

BENCHMARK(BM_Vorlax)->Arg(1)->Arg(5)->Arg(10)->Arg(20)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SolverDirect)->Arg(1)->Arg(5)->Arg(10)->Arg(20)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
