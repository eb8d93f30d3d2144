// Every domain that bench/domains/MANIFEST lists (heavy ones aside), run as a user runs
// it, from copies in a temporary directory:
// - the script vorlax prints has the manifest's number of calls, and the solver, given
//   what vorlax itself sent it up to the last check plus one assertion per call of the
//   script, still finds the goal reachable: the script is a plan;
// - the same files print the same bytes on one core, on two, on all of them, and on all
//   of them beside a busy loop per core.
// Every run has a time limit: a hang is a failure with its domain named, never a hung test.
// Each setting runs once, all cores VORLAX_DETERMINISM_REPEAT times (by default 2, and 1
// in a sanitizer build).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "file_support.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vorlax::testing_support::slurp;
using Clock = std::chrono::steady_clock;

#ifdef VORLAX_SANITIZED
constexpr int kDefaultRepeat = 1;
// Under the sanitizers a search runs several times slower: the domains whose plans take
// ten calls or more (seconds each in an optimised build) are left to the other builds.
constexpr size_t kMostCalls = 9;
#else
constexpr int kDefaultRepeat = 2;
constexpr size_t kMostCalls = 1000;
#endif
// A run that takes longer hangs. A test ends within its budget, so that what hangs is
// named here rather than the whole test being ended by CTest's time limit (330 s).
constexpr std::chrono::seconds kRunLimit{150};
constexpr std::chrono::seconds kTestBudget{300};

// ---------------------------------------------------------------------------------------
// Processes

// The CPUs this test may run on.
std::vector<int> allowedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (::sched_getaffinity(0, sizeof set, &set) == 0)
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &set)) cpus.push_back(c);
  if (cpus.empty()) cpus.push_back(0);
  return cpus;
}

struct Command {
  std::vector<std::string> argv;  // argv[0] is a path
  fs::path dir;                   // working directory, where out.txt and err.txt go
  std::string input = "/dev/null";
  std::vector<std::string> env;  // NAME=value, over the test's own environment
  std::vector<int> cpus;         // empty: those of the test
  std::chrono::milliseconds limit = kRunLimit;
};

struct Outcome {
  bool started = false;
  bool timedOut = false;
  std::chrono::milliseconds limit{0};
  int status = 0;  // wait status
  std::string out, err;
  double seconds = 0;

  bool clean() const { return started && !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0 && err.empty(); }
  // How the run ended, when it did not end cleanly.
  std::string fault() const {
    std::ostringstream s;
    if (!started && limit.count() <= 0) s << "not run";
    else if (!started) s << "could not be started (exit status " << WEXITSTATUS(status) << ")";
    else if (timedOut)
      s << "still running after " << limit.count() / 1000.0 << " s: killed, with its solver"
        << (limit < kRunLimit ? " (what was left of the test's time budget)" : "");
    else if (WIFSIGNALED(status)) s << "ended by signal " << WTERMSIG(status);
    else if (WEXITSTATUS(status) != 0) s << "exit status " << WEXITSTATUS(status);
    else s << "exit status 0";
    if (!err.empty()) s << ", standard error: " << err;
    return s.str();
  }
};

// Waits until no process of the group is left, for at most `patience`.
bool groupEnds(pid_t group, std::chrono::milliseconds patience) {
  for (auto until = Clock::now() + patience;;) {
    if (::kill(-group, 0) != 0 && errno == ESRCH) return true;
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Runs the command in a process group of its own, with standard output and error in
// out.txt and err.txt of its directory. At its time limit the whole group is killed;
// whatever the group holds after the command has ended (a solver, a tee) gets a moment to
// end by itself and is killed then. Nothing it started outlives the run, nor the test:
// the command dies with the thread that started it.
Outcome run(const Command& c) {
  // Everything the child needs is made before the fork; after it, only system calls.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = std::any_of(c.env.begin(), c.env.end(), [&](const std::string& v) { return v.rfind(name, 0) == 0; });
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), c.env.begin(), c.env.end());
  std::vector<char*> argv, envp;
  for (const auto& a : c.argv) argv.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  for (int cpu : c.cpus) CPU_SET(cpu, &cpus);
  const bool pinned = !c.cpus.empty();
  const std::string dir = c.dir.string(), out = (c.dir / "out.txt").string(), err = (c.dir / "err.txt").string();
  const pid_t parent = ::getpid();

  Outcome r;
  r.limit = c.limit;
  if (c.limit.count() <= 0) {
    r.err = "not run: the test's time budget is spent";
    return r;
  }
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(126);
    if (pinned && ::sched_setaffinity(0, sizeof cpus, &cpus) != 0) ::_exit(126);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    int i = ::open(c.input.c_str(), O_RDONLY);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (i < 0 || o < 0 || e < 0 || ::dup2(i, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid < 0) {
    r.err = "fork failed";
    return r;
  }
  r.started = true;
  ::setpgid(pid, pid);  // whichever side comes first
  // The child is waited for without being reaped, so that its group stays its own until
  // the group has been dealt with.
  for (;;) {
    siginfo_t info{};
    int got = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (got == 0 && info.si_pid == pid) break;
    if (got != 0 && errno != EINTR) break;
    if (Clock::now() - start >= c.limit) {
      r.timedOut = true;
      ::kill(-pid, SIGKILL);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  while (::waitpid(pid, &r.status, 0) < 0 && errno == EINTR) {
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!groupEnds(pid, std::chrono::seconds(3))) {
    ::kill(-pid, SIGKILL);
    groupEnds(pid, std::chrono::seconds(3));
  }
  // 126: the child could not set itself up; 127: the program could not be executed
  if (!r.timedOut && WIFEXITED(r.status) && (WEXITSTATUS(r.status) == 126 || WEXITSTATUS(r.status) == 127))
    r.started = false;
  r.out = slurp(out);
  r.err += slurp(err);
  return r;
}

// Runs job(i, slot) for i = 0 .. count-1 on `workers` threads; slot (0 .. workers-1)
// tells the threads apart.
void inParallel(size_t count, size_t workers, const std::function<void(size_t, size_t)>& job) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (size_t slot = 0; slot < std::min(count, workers); ++slot)
    threads.emplace_back([&, slot] {
      for (size_t i; (i = next++) < count;) job(i, slot);
    });
  for (auto& t : threads) t.join();
}

// Runs at the same time: half as many as there are CPUs, since a search races solvers on
// several of them.
size_t workers(const std::vector<int>& cpus) { return std::max<size_t>(1, cpus.size() / 2); }

// One spinning process per CPU, each on its own, for as long as the guard lives; they
// die with the test, too.
class BusyLoops {
 public:
  explicit BusyLoops(const std::vector<int>& cpus) {
    const pid_t parent = ::getpid();
    for (int cpu : cpus) {
      cpu_set_t set;
      CPU_ZERO(&set);
      CPU_SET(cpu, &set);
      pid_t pid = ::fork();
      if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(126);
        ::sched_setaffinity(0, sizeof set, &set);
        ::execl("/bin/sh", "sh", "-c", "while :; do :; done", static_cast<char*>(nullptr));
        ::_exit(127);
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyLoops() {
    for (pid_t pid : pids_) ::kill(pid, SIGKILL);
    for (pid_t pid : pids_)
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
  }
  BusyLoops(const BusyLoops&) = delete;
  BusyLoops& operator=(const BusyLoops&) = delete;
  size_t size() const { return pids_.size(); }

 private:
  std::vector<pid_t> pids_;
};

// ---------------------------------------------------------------------------------------
// The domains, the scripts and the transcripts

struct Domain {
  std::string name;
  size_t calls = 0;  // of the shortest plan; 0: none within the bound
};

// The domains of a manifest, without the heavy ones; a line that is not
// `name calls [heavy]` (after its comment is cut) is an error.
std::vector<Domain> readManifest(const fs::path& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path.string();
    return {};
  }
  std::vector<Domain> domains;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string name, calls, flag, extra;
    if (!(words >> name)) continue;
    bool ok = static_cast<bool>(words >> calls) && calls.size() <= 6 &&
              calls.find_first_not_of("0123456789") == std::string::npos;
    if (words >> flag && (flag != "heavy" || words >> extra)) ok = false;
    if (!ok) {
      error = path.string() + ":" + std::to_string(number) + ": not `name calls [heavy]`: " + line;
      return {};
    }
    if (flag != "heavy") domains.push_back({name, std::stoul(calls)});
  }
  if (domains.empty()) error = path.string() + " names no domain to run";
  return domains;
}

struct Call {
  std::string proc;
  std::vector<std::string> args;
};

// The calls of a printed plan: lines `name (a,b)` (`name ()` without arguments), then
// the empty line that ends the output.
bool readScript(const std::string& out, std::vector<Call>& calls) {
  static const std::regex call(R"(([^ ()]+) \(([^()]*)\))");
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) return in.peek() == std::char_traits<char>::eof() && out.back() == '\n';
    std::smatch m;
    if (!std::regex_match(line, m, call)) return false;
    Call c{m[1].str(), {}};
    if (m[2].length() > 0) {
      std::stringstream args(m[2].str() + ",");
      for (std::string a; std::getline(args, a, ',');) c.args.push_back(a);
    }
    calls.push_back(c);
  }
  return false;
}

std::string showScript(const std::vector<Call>& calls) {
  std::string s;
  for (const auto& c : calls) {
    s += c.proc + " (";
    for (size_t i = 0; i < c.args.size(); ++i) s += (i ? "," : "") + c.args[i];
    s += ")\n";
  }
  return s;
}

// How the encoding names a procedure's call at a step: its tag, and the argument
// function of each parameter ("Int_arg 2": (Int_arg 2 step) is the second argument).
struct ProcNaming {
  std::string tag;
  std::vector<std::string> args;
};

// What vorlax sent its solver, read back from the recording.
struct Transcript {
  std::string commands;    // up to the last check, without any check
  std::string begin, end;  // the echo commands that frame a check
  size_t checks = 0;       // the attempts: one check each
  std::map<std::string, ProcNaming> procs;
};

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// Reads the commands (one a line), and learns the naming from the procedures' definitions
// (each ends with `(= (tag_array idx) NAME_tag)`) and from `actions`, whose disjuncts are
// `(proc idx)` or `((proc (T_arg 1 idx) (U_arg 2 idx)) idx)`.
bool readTranscript(const std::string& text, Transcript& t, std::string& error) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::vector<size_t> checks;
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == "(check)") checks.push_back(i);
  t.checks = checks.size();
  if (checks.empty()) {
    error = "the transcript holds no check";
    return false;
  }
  const size_t last = checks.back();
  if (last == 0 || last + 1 >= lines.size() || !startsWith(lines[last - 1], "(echo ") ||
      !startsWith(lines[last + 1], "(echo ")) {
    error = "the transcript's last check is not framed by two echo commands";
    return false;
  }
  t.begin = lines[last - 1];
  t.end = lines[last + 1];
  std::vector<bool> skip(lines.size(), false);
  for (size_t c : checks) {
    skip[c] = true;
    if (c > 0 && lines[c - 1] == t.begin) skip[c - 1] = true;
    if (c + 1 < lines.size() && lines[c + 1] == t.end) skip[c + 1] = true;
  }
  for (size_t i = 0; i + 1 < last; ++i)
    if (!skip[i]) t.commands += lines[i] + "\n";

  static const std::regex withArgs(R"(\(\(([^ ()]+)((?: \([^ ()]+ [0-9]+ idx\))+)\) idx\))");
  static const std::regex withoutArgs(R"(\(([^ ()]+) idx\))");
  static const std::regex arg(R"(\(([^ ()]+ [0-9]+) idx\))");
  std::map<std::string, std::string> tags;
  std::string actions;
  const std::string tagged = "(= (tag_array idx) ";
  for (const auto& line : lines) {
    if (!startsWith(line, "(define ")) continue;
    auto colons = line.find("::");
    if (colons == std::string::npos) continue;
    std::string name = line.substr(8, colons - 8);
    if (name == "actions") actions = line;
    auto at = line.rfind(tagged);
    if (at != std::string::npos) {
      auto from = at + tagged.size();
      tags[name] = line.substr(from, line.find(')', from) - from);
    }
  }
  if (actions.empty()) {
    error = "the transcript defines no `actions`";
    return false;
  }
  auto learn = [&](const std::string& proc, std::vector<std::string> args) {
    auto tag = tags.find(proc);
    if (tag != tags.end()) t.procs[proc] = {tag->second, std::move(args)};
  };
  for (std::sregex_iterator m(actions.begin(), actions.end(), withArgs), e; m != e; ++m) {
    std::vector<std::string> args;
    std::string list = (*m)[2].str();
    for (std::sregex_iterator a(list.begin(), list.end(), arg); a != e; ++a) args.push_back((*a)[1].str());
    learn((*m)[1].str(), args);
  }
  for (std::sregex_iterator m(actions.begin(), actions.end(), withoutArgs), e; m != e; ++m) learn((*m)[1].str(), {});
  if (t.procs.empty()) {
    error = "no procedure could be learnt from `actions`: " + actions;
    return false;
  }
  return true;
}

// The text an echo command prints, without its line breaks.
std::string echoed(const std::string& echo) {
  auto from = echo.find('"'), to = echo.rfind('"');
  std::string s = from < to ? echo.substr(from + 1, to - from - 1) : echo;
  for (size_t at; (at = s.find("\\n")) != std::string::npos;) s.erase(at, 2);
  return s;
}

// The solver's verdict when every call of the script is pinned at its step on top of the
// transcript: "sat" when the script is a plan; otherwise "unsat", what the solver printed,
// or why no check could be made.
std::string pinnedVerdict(const Transcript& t, const std::vector<Call>& script, const fs::path& dir) {
  if (script.size() != t.checks)
    return "no check: the script has " + std::to_string(script.size()) + " calls, the transcript " +
           std::to_string(t.checks) + " steps";
  static const std::regex value(R"([A-Za-z0-9_'/-]+)");
  std::string pins;
  for (size_t step = 0; step < script.size(); ++step) {
    const Call& c = script[step];
    auto naming = t.procs.find(c.proc);
    if (naming == t.procs.end()) return "no check: no procedure " + c.proc + " in the transcript";
    if (naming->second.args.size() != c.args.size())
      return "no check: " + c.proc + " takes " + std::to_string(naming->second.args.size()) + " arguments";
    const std::string at = " " + std::to_string(step) + ")";
    pins += "(assert (= (tag_array" + at + " " + naming->second.tag + "))\n";
    for (size_t i = 0; i < c.args.size(); ++i) {
      if (!std::regex_match(c.args[i], value)) return "no check: not a value: " + c.args[i];
      pins += "(assert (= (" + naming->second.args[i] + at + " " + c.args[i] + "))\n";
    }
  }
  std::ofstream(dir / "pinned.txt", std::ios::binary) << t.commands << pins << t.begin << "\n(check)\n" << t.end << "\n";
  Command check{{VORLAX_SOLVER_BIN, "-i", "-e"}, dir, (dir / "pinned.txt").string(), {}, {}};
  Outcome r = run(check);
  if (!r.clean()) return "the solver, " + r.fault();
  const std::string begin = echoed(t.begin), end = echoed(t.end);
  auto from = r.out.rfind(begin);
  auto to = from == std::string::npos ? std::string::npos : r.out.find(end, from);
  if (to == std::string::npos) return "no framed answer in: " + r.out;
  std::istringstream words(r.out.substr(from + begin.size(), to - from - begin.size()));
  for (std::string w; words >> w;)
    if (w != "yices" && w != ">") return w;
  return "an empty answer";
}

// ---------------------------------------------------------------------------------------
// The runs

const std::string kSolver = VORLAX_SOLVER_BIN;

class BenchmarkDomains : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorlax-determinism-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root = tmpl;
    // Written before any thread forks, so that no child holds it open for writing when
    // it is executed. The solver is the process vorlax started; tee is its child.
    recorder = root / "record-solver";
    std::ofstream(recorder, std::ios::binary)
        << "#!/bin/bash\n# Records what vorlax sends its solver in transcript.txt of the working directory.\n"
        << "exec '" << kSolver << "' \"$@\" < <(exec tee transcript.txt)\n";
    fs::permissions(recorder, fs::perms::owner_all);
    std::string error;
    domains = readManifest(fs::path(VORLAX_BENCH_DOMAINS) / "MANIFEST", error);
    ASSERT_EQ(error, "");
    std::erase_if(domains, [](const Domain& d) { return d.calls > kMostCalls; });
  }
  void TearDown() override { fs::remove_all(root); }

  // A fresh directory for one run with copies of the domain's two files, which keep
  // their names (the dumps are written next to them).
  fs::path prepare(const std::string& name, const std::string& run) {
    fs::path dir = root / name / run;
    fs::create_directories(dir);
    for (const char* ext : {".dom", ".ser"}) fs::copy_file(fs::path(VORLAX_BENCH_DOMAINS) / (name + ext), dir / (name + ext));
    return dir;
  }
  // A run of vorlax, for at most kRunLimit and at most until the deadline.
  Outcome vorlax(const fs::path& dir, const std::string& name, const std::string& solver, std::vector<int> cpus = {},
                 std::optional<Clock::time_point> deadline = {}) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.value_or(started + kTestBudget) - Clock::now());
    return run({{VORLAX_BIN, name + ".dom", name + ".ser"}, dir, "/dev/null", {"YICES_EXE=" + solver}, std::move(cpus),
                std::min<std::chrono::milliseconds>(kRunLimit, left)});
  }

  // Runs the domain with the recording solver; "" when its script is a shortest plan,
  // otherwise what is wrong.
  std::string checkPlan(const Domain& d) {
    fs::path dir = prepare(d.name, "recorded");
    Outcome r = vorlax(dir, d.name, recorder.string());
    if (!r.clean()) return "vorlax: " + r.fault() + "\nstandard output:\n" + r.out;
    if (d.calls == 0) return r.out == "Unsatisfiable\n" ? "" : "printed, where no plan exists:\n" + r.out;
    std::vector<Call> script;
    if (!readScript(r.out, script)) return "printed no script:\n" + r.out;
    if (script.size() != d.calls)
      return "printed " + std::to_string(script.size()) + " calls, where the shortest plan has " +
             std::to_string(d.calls) + ":\n" + r.out;
    Transcript t;
    std::string error;
    if (!readTranscript(slurp(dir / "transcript.txt"), t, error)) return error;
    if (t.checks != d.calls)
      return "the plan came from attempt " + std::to_string(t.checks) + ", not " + std::to_string(d.calls);
    std::string verdict = pinnedVerdict(t, script, dir);
    return verdict == "sat" ? "" : "the script is no plan (the pinned check gives " + verdict + "):\n" + r.out;
  }

  Clock::time_point started = Clock::now();
  fs::path root, recorder;
  std::vector<Domain> domains;
};

TEST_F(BenchmarkDomains, PrintShortestValidPlans) {
  std::vector<std::string> faults(domains.size());
  inParallel(domains.size(), workers(allowedCpus()), [&](size_t i, size_t) { faults[i] = checkPlan(domains[i]); });
  for (size_t i = 0; i < domains.size(); ++i)
    if (!faults[i].empty()) ADD_FAILURE() << domains[i].name << ": " << faults[i];
}

// The pinned check tells plans from scripts that are not: on a small tank, the script
// vorlax prints and another plan pass, each kind of altered pin (procedure, Int, Bool,
// Double, object, order) fails, and scripts that do not fit the transcript make no check.
TEST_F(BenchmarkDomains, PinnedCheckRejectsAlteredScripts) {
  fs::path dir = root / "tank";
  fs::create_directories(dir);
  std::ofstream(dir / "tank.dom") << "type Tank {\n  level : Int\n  open : Bool\n  heat : Double\n}\n\n"
                                     "set_valve (t : Tank, o : Bool)\n  ensure\n    set: t.open = o\n\n"
                                     "fill (t : Tank, litres : Int)\n  require\n    flowing: t.open\n    some: litres > 0\n"
                                     "  ensure\n    poured: t.level = old(t.level) + litres\n\n"
                                     "warm (t : Tank, by : Double)\n  require\n    up: by + by > by\n"
                                     "  ensure\n    warmer: t.heat = old(t.heat) + by\n\n"
                                     "wait ()\n  ensure\n    nothing: True\n";
  std::ofstream(dir / "tank.ser") << "tank : Tank\ntank /= null\ntank.level = 4\nnot tank.open\n@ 3\n"
                                     "-> tank.level = 10 and tank.heat > old(tank.heat)\n";
  Outcome r = run({{VORLAX_BIN, "tank.dom", "tank.ser"}, dir, "/dev/null", {"YICES_EXE=" + recorder.string()}, {}});
  ASSERT_TRUE(r.clean()) << r.fault();
  std::vector<Call> printed;
  ASSERT_TRUE(readScript(r.out, printed)) << r.out;
  Transcript t;
  std::string error;
  ASSERT_TRUE(readTranscript(slurp(dir / "transcript.txt"), t, error)) << error;
  ASSERT_EQ(t.checks, 3u);

  const std::string open = "set_valve (tank,true)\n", fill = "fill (tank,6)\n", warm = "warm (tank,1/4)\n";
  const struct {
    std::string script, verdict;
  } cases[] = {
      {showScript(printed), "sat"},
      {open + fill + warm, "sat"},
      {open + "fill (tank,5)\n" + warm, "unsat"},
      {"set_valve (tank,false)\n" + fill + warm, "unsat"},
      {open + fill + "warm (tank,-1/4)\n", "unsat"},
      {"set_valve (null_Tank,true)\n" + fill + warm, "unsat"},
      {fill + open + warm, "unsat"},
      {"wait ()\n" + fill + warm, "unsat"},
      {open + fill, "no check: the script has 2 calls, the transcript 3 steps"},
      {open + fill + "cool (tank,1)\n", "no check: no procedure cool in the transcript"},
      {open + fill + "warm (tank)\n", "no check: warm takes 2 arguments"},
  };
  for (const auto& c : cases) {
    std::vector<Call> script;
    ASSERT_TRUE(readScript(c.script + "\n", script)) << c.script;
    EXPECT_EQ(pinnedVerdict(t, script, dir), c.verdict) << c.script;
  }
}

struct Setting {
  const char* name;
  size_t cores;  // 0: all
  bool busy;     // beside a busy loop per core
  bool repeated;  // run repeat() times, the others once
};
const Setting kSettings[] = {
    {"one core", 1, false, false},
    {"two cores", 2, false, false},
    {"all cores", 0, false, true},
    {"all cores, busy", 0, true, false},
};

int repeat() {
  const char* text = std::getenv("VORLAX_DETERMINISM_REPEAT");
  if (text == nullptr || *text == '\0') return kDefaultRepeat;
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  return *end == '\0' && n >= 1 && n <= 100 ? static_cast<int>(n) : -1;
}

// Each domain in each setting; the runs without a busy loop first (the one or two cores of
// a run apart from those of the runs beside it), then the busy ones.
TEST_F(BenchmarkDomains, PrintTheSameOutputOnAnyCoresAtAnyLoad) {
  const int times = repeat();
  ASSERT_GT(times, 0) << "VORLAX_DETERMINISM_REPEAT must be a number from 1 to 100";
  const std::vector<int> cpus = allowedCpus();
  struct Job {
    size_t domain;
    const Setting* setting;
    int round;
    Outcome outcome;
  };
  std::vector<Job> calm, busy;
  for (const Setting& s : kSettings)
    for (int round = 1; round <= (s.repeated ? times : 1); ++round)
      for (size_t d = 0; d < domains.size(); ++d) (s.busy ? busy : calm).push_back({d, &s, round, {}});
  // The longest runs first: the longer plans, and of one plan the fewer cores.
  auto longerFirst = [&](const Job& a, const Job& b) {
    auto cores = [&](const Job& j) { return j.setting->cores == 0 ? cpus.size() : j.setting->cores; };
    if (domains[a.domain].calls != domains[b.domain].calls) return domains[a.domain].calls > domains[b.domain].calls;
    return cores(a) < cores(b);
  };
  std::stable_sort(calm.begin(), calm.end(), longerFirst);
  std::stable_sort(busy.begin(), busy.end(), longerFirst);
  Clock::time_point deadline;
  auto runAll = [&](std::vector<Job>& jobs) {
    inParallel(jobs.size(), workers(cpus), [&](size_t i, size_t slot) {
      Job& job = jobs[i];
      const std::string& name = domains[job.domain].name;
      std::vector<int> mine;
      if (job.setting->cores != 0 && job.setting->cores < cpus.size())
        for (size_t k = 0; k < job.setting->cores; ++k) mine.push_back(cpus[(slot * job.setting->cores + k) % cpus.size()]);
      fs::path dir = prepare(name, std::string(job.setting->busy ? "busy" : "calm") + "-" + std::to_string(i));
      job.outcome = vorlax(dir, name, kSolver, mine, deadline);
    });
  };
  // The busy runs keep the last third of the budget for themselves, so that calm runs
  // which hang or crawl cannot use it up.
  deadline = started + kTestBudget * 2 / 3;
  runAll(calm);
  deadline = started + kTestBudget;
  {
    BusyLoops loops(cpus);
    ASSERT_EQ(loops.size(), cpus.size()) << "could not start the busy loops";
    runAll(busy);
  }

  for (size_t d = 0; d < domains.size(); ++d) {
    // the distinct results, each with the runs that gave it
    std::vector<std::pair<std::string, std::string>> results;
    size_t runs = 0;
    bool clean = true;
    for (const auto* jobs : {&calm, &busy})
      for (const Job& job : *jobs) {
        if (job.domain != d) continue;
        ++runs;
        const Outcome& o = job.outcome;
        clean = clean && o.clean();
        std::string result = o.clean() ? o.out : "(" + o.fault() + ")\n" + o.out;
        std::ostringstream label;
        label << job.setting->name << " #" << job.round << " (" << std::fixed << std::setprecision(1) << o.seconds << " s)";
        auto same = std::find_if(results.begin(), results.end(), [&](const auto& r) { return r.first == result; });
        if (same == results.end()) results.push_back({result, label.str()});
        else same->second += ", " + label.str();
      }
    if (results.size() == 1 && clean) continue;
    std::ostringstream report;
    report << domains[d].name << ": " << results.size() << " different result(s) of " << runs << " runs";
    for (const auto& [result, labels] : results) report << "\n  " << labels << ":\n" << result;
    ADD_FAILURE() << report.str();
  }
}

}  // namespace
