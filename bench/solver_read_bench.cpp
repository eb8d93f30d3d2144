// Reading, checking and translating the upload that vorlax sends for a large domain, in
// the solver program itself (no check, so no search).
//
// The input is what vorlax writes: a domain of `types` structures, each with an Int, a
// Bool and (but the first) a reference field, and `procs` procedures per structure, each
// with require and ensure clauses; the domain and serialization dumps that the built
// vorlax writes for it (run with bound 0, so that it only writes them), followed by the
// commands of the first step of the search (the step assertion, push, the goal).
// Two sizes: about 1 MB and 8 MB of commands.
//
//   BM_Read       the reader alone: every command read into its s-expression.
//   BM_Translate  a session over the text: reading, building and type checking every
//                 command and translating its formulas into Z3 terms. Starting the
//                 session and ending it are timed apart (setup_ms, teardown_ms): the
//                 solver program does them once per run, whatever its input.
//   BM_Program    the built vorlax-solver run on the text as a file: the whole process,
//                 with its start and its end, wall time. (No resident size: the one that
//                 wait4 reports for a child includes that of this process, where the child
//                 was started.)
//   BM_ProgramReference  the same with another vorlax-solver binary given by
//                 VORLAX_SOLVER_REFERENCE_BIN (say, a build of an earlier commit), run side
//                 by side on the same file.
// Counters: MB (decimal megabytes of input per second), input_MB, and for BM_Translate
// held_MB (heap in use while the session holds everything it read, above what was in
// use before) and maxrss_MB (the largest resident size of the process so far).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ys_session.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string domainText(int types, int procs) {
  std::string s;
  for (int t = 0; t < types; ++t) {
    std::string n = std::to_string(t);
    s += "type S" + n + " {\n  count" + n + " : Int\n  flag" + n + " : Bool\n";
    if (t > 0) s += "  next" + n + " : S" + std::to_string(t - 1) + "\n";
    s += "}\n\n";
  }
  for (int t = 0; t < types; ++t) {
    std::string n = std::to_string(t);
    for (int p = 0; p < procs; ++p) {
      s += "proc" + n + "_" + std::to_string(p) + " (s : S" + n + ", v : Int)\n  require\n    positive: v > " +
           std::to_string(p) + "\n    ready: s.flag" + n + "\n  ensure\n    added: s.count" + n + " = old(s.count" +
           n + ") + v\n    kept: s.flag" + n + " = not old(s.flag" + n + ")\n";
      if (t > 0) s += "    linked: s.next" + n + " = old(s.next" + n + ")\n";
      s += "\n";
    }
  }
  return s;
}

const char* kSerial = "x : S0\nx.count0 = 0\n@ 0\n-> x.count0 = 5\n";
// What vorlax sends for the first attempt of the search of kSerial (before its check).
const char* kFirstStep = "(assert (actions all-frames 0))\n(push)\n(assert (= (count0 x 1) 5))\n";

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  if (!in) throw std::runtime_error("cannot read " + p.string());
  return s.str();
}

// The commands vorlax sends for the generated domain, up to the first check.
std::string upload(int types, int procs) {
  fs::path dir = fs::temp_directory_path() / ("solver_read_bench." + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path dom = dir / "gen.dom", ser = dir / "gen.ser";
  std::ofstream(dom) << domainText(types, procs);
  std::ofstream(ser) << kSerial;
  std::string solverEnv = std::string("YICES_EXE=") + VORLAX_SOLVER_BIN;
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("YICES_EXE=", 0) != 0) envp.push_back(*e);
  envp.push_back(solverEnv.data());
  envp.push_back(nullptr);
  std::string bin = VORLAX_BIN, d = dom.string(), s = ser.string();
  std::vector<char*> argv{bin.data(), d.data(), s.data(), nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, bin.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  if (rc == 0) waitpid(pid, &status, 0);
  std::string text;
  if (rc == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
    text = readFile(dir / "gen.dom.lisp") + readFile(dir / "gen.ser.lisp") + kFirstStep;
  fs::remove_all(dir);
  if (text.empty()) throw std::runtime_error("vorlax did not write the dumps of the generated domain");
  return text;
}

// The input of a size; nullptr (and the benchmark skipped) if vorlax could not write it.
const std::string* input(benchmark::State& state) {
  static std::string small, large, failure;
  static bool made = false;
  if (!made) {
    made = true;
    try {
      small = upload(20, 10);  // about 1 MB
      large = upload(40, 20);  // about 8 MB
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return nullptr;
  }
  return state.range(0) == 1 ? &small : &large;
}

void rateCounters(benchmark::State& state, const std::string& text) {
  double mb = static_cast<double>(text.size()) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["MB"] = benchmark::Counter(static_cast<double>(state.iterations()) * mb, benchmark::Counter::kIsRate);
  state.counters["input_MB"] = mb;
}

size_t heapInUse() {
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

void BM_Read(benchmark::State& state) {
  const std::string* in = input(state);
  if (!in) return;
  const std::string& text = *in;
  size_t commands = 0;
  for (auto _ : state) {
    commands = vxsolver::readAll(text).size();
    benchmark::DoNotOptimize(commands);
  }
  rateCounters(state, text);
  state.counters["commands"] = static_cast<double>(commands);
}

void BM_Translate(benchmark::State& state) {
  const std::string* in = input(state);
  if (!in) return;
  const std::string& text = *in;
  double held = 0, setup = 0, teardown = 0;
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  for (auto _ : state) {
    // Starting the session (its Z3 contexts) and ending it are not part of reading the
    // input; they are timed on their own.
    state.PauseTiming();
    std::ostringstream out, err;
    size_t before = heapInUse();
    auto t0 = Clock::now();
    auto session = std::make_unique<vxsolver::Session>(out, err, vxsolver::Options{});
    setup = ms(Clock::now() - t0);
    vxsolver::StringSource src(text);
    state.ResumeTiming();
    int status = session->runHere(src);
    state.PauseTiming();
    held = static_cast<double>(heapInUse() - before) / 1e6;
    t0 = Clock::now();
    session.reset();
    teardown = ms(Clock::now() - t0);
    state.ResumeTiming();
    if (status != 0 || !out.str().empty()) {
      state.SkipWithError(("the solver complained: " + err.str() + out.str()).c_str());
      break;
    }
  }
  rateCounters(state, text);
  state.counters["held_MB"] = held;
  state.counters["setup_ms"] = setup;
  state.counters["teardown_ms"] = teardown;
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  state.counters["maxrss_MB"] = static_cast<double>(ru.ru_maxrss) / 1e3;
}

// The input of the benchmark's size in a file, written once per size.
const std::string& inputFile(benchmark::State& state, const std::string& text) {
  static std::string files[2];
  std::string& f = files[state.range(0) == 1 ? 0 : 1];
  if (f.empty()) {
    f = (fs::temp_directory_path() / ("solver_read_bench." + std::to_string(getpid()) + "." +
                                      std::to_string(state.range(0)) + ".ys")).string();
    std::ofstream(f, std::ios::binary) << text;
    std::atexit([] {
      std::error_code ec;
      for (const auto& g : files)
        if (!g.empty()) fs::remove(g, ec);
    });
  }
  return f;
}

void measureProgram(benchmark::State& state, const std::string& solver) {
  const std::string* in = input(state);
  if (!in) return;
  const std::string& file = inputFile(state, *in);
  for (auto _ : state) {
    std::string bin = solver, arg = file;
    std::vector<char*> argv{bin.data(), arg.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = -1;
    int rc = posix_spawn(&pid, bin.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    if (rc == 0)
      while (waitpid(pid, &status, 0) < 0) {
      }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError(("the solver program failed: " + solver).c_str());
      return;
    }
  }
  rateCounters(state, *in);
}

void BM_Program(benchmark::State& state) { measureProgram(state, VORLAX_SOLVER_BIN); }

void BM_ProgramReference(benchmark::State& state) {
  const char* ref = std::getenv("VORLAX_SOLVER_REFERENCE_BIN");
  if (!ref) {
    state.SkipWithError(
        "not run: set VORLAX_SOLVER_REFERENCE_BIN to another vorlax-solver binary (say, an older build) to compare with it");
    return;
  }
  measureProgram(state, ref);
}

}  // namespace

// Argument: 1 for the input of about 1 MB, 8 for the one of about 8 MB.
BENCHMARK(BM_Read)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Translate)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program)->Arg(1)->Arg(8)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramReference)->Arg(1)->Arg(8)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
