// No solver outlives vorlax: not after a normal end, not after a fatal error, not when
// vorlax is interrupted, terminated or hung up on in the middle of a check.
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
  pid_t start(const std::string& ser, const std::string& solver) {
    pid_t child = ::fork();
    if (child == 0) {
      if (::chdir(dir.c_str()) != 0) ::_exit(127);
      for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);  // even under a shell's "&"
      ::setenv("YICES_EXE", (solver[0] == '/' ? solver : dir + "/" + solver).c_str(), 1);
      ::setenv("VORLAX_TEST_MARK", dir.c_str(), 1);  // inherited by the solver
      (void)!::freopen("out.txt", "w", stdout);
      (void)!::freopen("err.txt", "w", stderr);
      ::execl(VORLAX_BIN, VORLAX_BIN, "c.dom", ser.c_str(), static_cast<char*>(nullptr));
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
  // Whether every process that vorlax started has ended within a second.
  bool endsWithinASecond() {
    const std::string mark = "VORLAX_TEST_MARK=" + dir;
    for (auto until = Clock::now() + std::chrono::seconds(1); Clock::now() < until;) {
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
    EXPECT_TRUE(endsWithinASecond()) << c.ser;
  }
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
    EXPECT_TRUE(endsWithinASecond()) << "signal " << sig;
  }
}

}  // namespace
