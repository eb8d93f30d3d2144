// No solver outlives vorlax: not after a normal end, not after a fatal error, not when
// vorlax is interrupted, terminated or hung up on in the middle of a check. At a normal end
// the solver first gets all of its input and the end of it, and a moment to end by itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include "file_support.hpp"
#include "process_support.hpp"

namespace {

namespace fs = std::filesystem;
using vorlax::testing_support::slurp;
using vorlax::testing_support::running;
using Clock = std::chrono::steady_clock;

// The running processes whose environment holds the text `mark`.
int processesMarked(const std::string& mark) {
  int n = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (slurp(entry.path() / "environ").find(mark) == std::string::npos) continue;
    if (running(std::stoi(name))) ++n;
  }
  return n;
}

class SolverEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorlax-end-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
    write("c.dom", "type C {\n  v : Int\n}\n\ninc (c : C)\n  ensure\n    up: c.v = old(c.v) + 1\n");
    write("c.ser", "c : C\nc.v = 0\n@ 3\n-> c.v = 2\n");
    write("int.ser", "c : C\nc.v = 0\n@ 3\n-> c.v + 2\n");
    write("zero.ser", "c : C\nc.v = 0\n@ 0\n-> c.v = 2\n");
    write("unsat.ser", "c : C\nc.v = 0\n@ 3\n-> c.v = 7\n");
    // A solver that records its process and then never answers.
    script("hang.sh", "#!/bin/sh\necho $$ > solver.pid\nexec sleep 60\n");
  }
  void TearDown() override {
    if (pid > 0 && running(pid)) ::kill(pid, SIGKILL);
    fs::remove_all(dir);
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }
  void script(const std::string& name, const std::string& text) {
    write(name, text);
    ::chmod((dir + "/" + name).c_str(), 0755);
  }
  // Starts vorlax on c.dom and the serialization file with the solver (a path, or a
  // script of the test directory).
  pid_t start(const std::string& ser, const std::string& solver,
              const std::string& dom = "c.dom") {
    pid_t child = ::fork();
    if (child == 0) {
      if (::chdir(dir.c_str()) != 0) ::_exit(127);
      for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);  // even under a shell's "&"
      ::setenv("YICES_EXE", (solver[0] == '/' ? solver : dir + "/" + solver).c_str(), 1);
      ::setenv("VORLAX_TEST_MARK", dir.c_str(), 1);  // inherited by the solver
      (void)!::freopen("out.txt", "w", stdout);
      (void)!::freopen("err.txt", "w", stderr);
      ::execl(VORLAX_BIN, VORLAX_BIN, dom.c_str(), ser.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return child;
  }
  // The solver's process, once its script has recorded it.
  pid_t solverPid() {
    for (auto until = Clock::now() + std::chrono::seconds(10); Clock::now() < until;) {
      std::string text = slurp(dir + "/solver.pid");
      if (!text.empty() && text.back() == '\n') return std::stoi(text);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  // Waits for vorlax; its wait status.
  int finish(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
  }
  // vorlax's wait status and how long it ran.
  std::pair<int, Clock::duration> timedRun(const std::string& dom, const std::string& ser,
                                           const std::string& solver) {
    auto begin = Clock::now();
    int status = finish(start(ser, solver, dom));
    return {status, Clock::now() - begin};
  }
  // Whether every process that vorlax started has ended within a few seconds (the kernel
  // may take a while to tear down a killed solver on a busy machine).
  bool endsSoon() {
    const std::string mark = "VORLAX_TEST_MARK=" + dir;
    for (auto until = Clock::now() + std::chrono::seconds(5); Clock::now() < until;) {
      if (processesMarked(mark) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return processesMarked(mark) == 0;
  }
  std::string dir;
  pid_t pid = -1;
};

TEST_F(SolverEnd, AfterANormalEndOrAFatalError) {
  struct Case {
    const char* ser;
    int status;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"c.ser", 0, "inc (c)\ninc (c)\n\n", ""},
      // the goal is checked when the first attempt is made, with the solver running
      {"int.ser", 1, "", "vorlax: the goal has type Int, not Bool\n"},
  };
  for (const Case& c : cases) {
    pid_t child = start(c.ser, VORLAX_SOLVER_BIN);
    int status = finish(child);
    ASSERT_TRUE(WIFEXITED(status)) << c.ser;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.ser;
    EXPECT_EQ(slurp(dir + "/out.txt"), c.out) << c.ser;
    EXPECT_EQ(slurp(dir + "/err.txt"), c.err) << c.ser;
    EXPECT_TRUE(endsSoon()) << c.ser;
  }
}

// What one attempt of the search sends after the dumps, for c.dom: the step, the goal
// c.v = value after the calls so far, the check, and the pop of a goal that failed.
std::string attempt(int step, int value, bool popped) {
  return "(assert (actions all-frames " + std::to_string(step) + "))\n(push)\n" +
         "(assert (= (v c " + std::to_string(step + 1) + ") " + std::to_string(value) +
         "))\n(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")\n(check)\n"
         "(echo \"\\n_![<[END_OUTPUT]>]!_\")\n" +
         (popped ? "(pop)\n" : "");
}

// The solver is a recorder in front of the bundled solver: it must have been sent every
// command, the ones still buffered when the run ends included, and then the end of its
// input, whether the search ran no attempt, refuted every one, found a plan, or failed.
TEST_F(SolverEnd, TheSolverGetsAllItsInputAndItsEnd) {
  script("record.sh", "#!/bin/sh\n{ tee '" + dir + "/rec.txt'; echo EOF > '" + dir +
                          "/eof.txt'; } | '" VORLAX_SOLVER_BIN "' \"$@\"\n");
  struct Case {
    const char* ser;
    int status;
    const char* out;
    const char* err;
    std::string attempts;  // what follows the two dumps
  };
  const Case cases[] = {
      {"zero.ser", 0, "Unsatisfiable\n", "", ""},
      // the pop after the last check is still buffered when the search ends
      {"unsat.ser", 0, "Unsatisfiable\n", "",
       attempt(0, 7, true) + attempt(1, 7, true) + attempt(2, 7, true)},
      {"c.ser", 0, "inc (c)\ninc (c)\n\n", "", attempt(0, 2, true) + attempt(1, 2, false)},
      // the first goal fails to be made after its step and push are buffered
      {"int.ser", 1, "", "vorlax: the goal has type Int, not Bool\n",
       "(assert (actions all-frames 0))\n(push)\n"},
  };
  for (const Case& c : cases) {
    fs::remove(dir + "/rec.txt");
    fs::remove(dir + "/eof.txt");
    int status = finish(start(c.ser, "record.sh"));
    ASSERT_TRUE(WIFEXITED(status)) << c.ser;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.ser;
    EXPECT_EQ(slurp(dir + "/out.txt"), c.out) << c.ser;
    EXPECT_EQ(slurp(dir + "/err.txt"), c.err) << c.ser;
    bool ended = false;
    for (auto until = Clock::now() + std::chrono::seconds(10); !ended && Clock::now() < until;) {
      ended = slurp(dir + "/eof.txt") == "EOF\n";
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ended) << c.ser << ": the recorder never saw the end of its input";
    const std::string dumps = slurp(dir + "/c.dom.lisp") + slurp(dir + "/" + c.ser + ".lisp");
    ASSERT_FALSE(dumps.empty()) << c.ser;
    EXPECT_EQ(slurp(dir + "/rec.txt"), dumps + c.attempts) << c.ser;
    EXPECT_TRUE(endsSoon()) << c.ser;
  }
}

// A solver that does not end when its input does is killed about a second after vorlax is
// done, and vorlax's output and exit status are those of the run.
TEST_F(SolverEnd, ASolverThatIgnoresTheEndIsKilled) {
  // an upload that fills the pipe with more still buffered, so that the last flush cannot
  // finish (more than the pipe and the buffer hold together would stop the run itself)
  std::string fields;
  for (int i = 0; i < 650; ++i) fields += "  f" + std::to_string(i) + " : Int\n";
  write("big.dom", "type C {\n" + fields +
                       "  v : Int\n}\n\ninc (c : C)\n  ensure\n    up: c.v = old(c.v) + 1\n");
  script("deaf.sh", "#!/bin/sh\ntrap '' INT TERM HUP\nexec sleep 60\n");
  script("reads.sh", "#!/bin/sh\ntrap '' INT TERM HUP\ncat > /dev/null\nexec sleep 60\n");
  struct Case {
    const char* what;
    const char* dom;
    const char* ser;
    const char* solver;
    int status;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"never reads", "c.dom", "zero.ser", "deaf.sh", 0, "Unsatisfiable\n", ""},
      {"reads to the end, then sleeps", "c.dom", "zero.ser", "reads.sh", 0, "Unsatisfiable\n",
       ""},
      {"never reads, after a fatal error", "c.dom", "int.ser", "deaf.sh", 1, "",
       "vorlax: the goal has type Int, not Bool\n"},
      {"never reads a pipe full of input", "big.dom", "zero.ser", "deaf.sh", 0,
       "Unsatisfiable\n", ""},
  };
  for (const Case& c : cases) {
    auto [status, took] = timedRun(c.dom, c.ser, c.solver);
    ASSERT_TRUE(WIFEXITED(status)) << c.what;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.what;
    EXPECT_EQ(slurp(dir + "/out.txt"), c.out) << c.what;
    EXPECT_EQ(slurp(dir + "/err.txt"), c.err) << c.what;
    EXPECT_LT(took, std::chrono::seconds(10)) << c.what;
    EXPECT_TRUE(endsSoon()) << c.what;
  }
  // the big upload is more than the pipe or the buffer holds alone, less than both together
  EXPECT_GT(slurp(dir + "/big.dom.lisp").size(), std::size_t{80000});
  EXPECT_LT(slurp(dir + "/big.dom.lisp").size(), std::size_t{120000});
}

TEST_F(SolverEnd, WhenVorlaxIsSignalledDuringACheck) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    fs::remove(dir + "/solver.pid");
    pid_t child = start("c.ser", "hang.sh");
    pid = solverPid();
    ASSERT_GT(pid, 0) << sig;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // into the first check
    ::kill(child, sig);
    int status = finish(child);
    // vorlax ends as the signal ends a program, after ending its solver
    ASSERT_TRUE(WIFSIGNALED(status)) << sig;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_TRUE(endsSoon()) << "signal " << sig;
  }
}

}  // namespace
