// Throughput and memory of vorlax from reading its two files to the end of the upload, on
// generated domains of about 1 and 8 MB: four structures with three fields each, and as many
// procedures as fill the size, each with an object and a number as parameters, three
// require and three ensure clauses. The goal's bound is 0, so the search makes no attempt;
// the solver is a script that only drains its input, so the run measures vorlax alone.
//   BM_Frontend           the built vorlax.
//   BM_FrontendReference  another vorlax binary given by VORLAX_REFERENCE_BIN (say, a build
//                         of an earlier commit), run side by side on the same files.
// Counters: bytes_per_second (domain text per second of wall time), MB_per_s (the same in
// 10^6 bytes), upload_bytes (text of the two dumps, which is what goes to the solver), and
// rss_per_input_byte: the largest resident memory of the vorlax process (wait4) minus that
// of a run on a tiny domain, divided by the size of the domain file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kStructs = 4;

// Writes a domain of at least `bytes` bytes of text to `os` and returns its size. It is
// written a procedure at a time: the benchmark itself never holds a large text, because a
// spawned child's largest resident memory (wait4) counts that of its parent at the start.
std::size_t writeDomain(std::ostream& os, std::size_t bytes) {
  std::string s = "-- generated: structures with fields, procedures with contracts\n";
  for (int k = 0; k < kStructs; ++k) {
    std::string f = "f" + std::to_string(k);
    s += "type S" + std::to_string(k) + " {\n  " + f + "_n : Int\n  " + f + "_m : Int\n  " + f +
         "_b : Bool\n}\n\n";
  }
  std::size_t size = 0;
  for (long i = 0; size + s.size() < bytes; ++i) {
    std::string k = std::to_string(i % kStructs), f = "a.f" + k, n = std::to_string(i);
    s += "p" + n + " (a : S" + k + ", v : Int)\n"
         "  require\n"
         "    big: " + f + "_n > v + " + n + "\n"
         "    flag: " + f + "_b or v = " + std::to_string(i % 7) + "\n"
         "    range: v >= 0 and v <= 1000\n"
         "  ensure\n"
         "    less: " + f + "_n = old(" + f + "_n) - v\n"
         "    flip: " + f + "_b = not old(" + f + "_b)\n"
         "    more: " + f + "_m = old(" + f + "_m) + 2 * v\n\n";
    os << s;
    size += s.size();
    s.clear();
  }
  os << s;
  return size + s.size();
}

const char* const kSerialText = "x : S0\nx.f0_n = 5\n@ 0\n-> x.f0_n = 1\n";

fs::path workDir() {
  static fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vorlax_frontend_bench_" + std::to_string(getpid()));
    fs::create_directories(d);
    std::ofstream(d / "sink.sh") << "#!/bin/sh\nexec cat >/dev/null\n";
    fs::permissions(d / "sink.sh", fs::perms::owner_all);
    return d;
  }();
  return dir;
}

// The domain and serialization files of about `bytes` bytes, written once.
struct Input {
  fs::path dom, ser;
  std::size_t domBytes = 0;
};
const Input& input(std::size_t bytes) {
  static std::map<std::size_t, Input> made;
  auto it = made.find(bytes);
  if (it != made.end()) return it->second;
  Input in;
  in.dom = workDir() / ("d" + std::to_string(bytes) + ".dom");
  in.ser = workDir() / ("d" + std::to_string(bytes) + ".ser");
  std::ofstream dom(in.dom);
  in.domBytes = writeDomain(dom, bytes);
  std::ofstream(in.ser) << kSerialText;
  return made.emplace(bytes, in).first->second;
}

struct Run {
  bool ok = false;
  double seconds = 0;
  long maxRssBytes = 0;
  std::string out;
};

// Runs `vorlax dom ser` with the sink as its solver; standard output into a file.
Run runOnce(const std::string& vorlax, const Input& in) {
  Run r;
  fs::path outFile = workDir() / "stdout.txt";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("YICES_EXE=", 0) != 0) env.emplace_back(*e);
  env.push_back("YICES_EXE=" + (workDir() / "sink.sh").string());
  std::vector<char*> envp, argv;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args{vorlax, in.dom.string(), in.ser.string()};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int rc = posix_spawn(&pid, vorlax.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return r;
  int status = 0;
  struct rusage ru {};
  while (wait4(pid, &status, 0, &ru) < 0) {
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.maxRssBytes = ru.ru_maxrss * 1024L;
  std::ifstream f(outFile);
  std::getline(f, r.out);
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && r.out == "Unsatisfiable";
  return r;
}

// The resident memory of a run on a tiny domain: the fixed base.
long baseRss(const std::string& vorlax) {
  static std::map<std::string, long> base;
  auto it = base.find(vorlax);
  if (it != base.end()) return it->second;
  long least = 0;
  for (int i = 0; i < 3; ++i) {
    Run r = runOnce(vorlax, input(1000));
    if (r.ok && (least == 0 || r.maxRssBytes < least)) least = r.maxRssBytes;
  }
  return base.emplace(vorlax, least).first->second;
}

void measure(benchmark::State& state, const std::string& vorlax) {
  if (vorlax.empty() || !fs::exists(vorlax)) {
    state.SkipWithError("no vorlax binary to run");
    return;
  }
  const Input& in = input(static_cast<std::size_t>(state.range(0)) << 20);
  const long base = baseRss(vorlax);
  double seconds = 0;
  long rss = 0;
  for (auto _ : state) {
    Run r = runOnce(vorlax, in);
    if (!r.ok) {
      state.SkipWithError(("vorlax failed: " + r.out).c_str());
      return;
    }
    seconds += r.seconds;
    rss = std::max(rss, r.maxRssBytes);
    state.SetIterationTime(r.seconds);
  }
  const double n = static_cast<double>(state.iterations());
  const double bytes = static_cast<double>(in.domBytes);
  std::error_code ec;
  const auto upload = fs::file_size(in.dom.string() + ".lisp", ec) + fs::file_size(in.ser.string() + ".lisp", ec);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes * n));
  state.counters["MB_per_s"] = bytes * n / seconds / 1e6;
  state.counters["upload_bytes"] = static_cast<double>(upload);
  state.counters["rss_per_input_byte"] = static_cast<double>(rss - base) / bytes;
  state.counters["max_rss_MB"] = static_cast<double>(rss) / 1e6;
}

void BM_Frontend(benchmark::State& state) { measure(state, VORLAX_BIN); }

void BM_FrontendReference(benchmark::State& state) {
  const char* ref = std::getenv("VORLAX_REFERENCE_BIN");
  if (!ref) {
    state.SkipWithError("not run: set VORLAX_REFERENCE_BIN to another vorlax binary (say, an older build) to compare with it");
    return;
  }
  measure(state, ref);
}

}  // namespace

BENCHMARK(BM_Frontend)->Arg(1)->Arg(8)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrontendReference)->Arg(1)->Arg(8)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(workDir(), ec);
  return 0;
}
