// The solver program's input and its end: files that are not files, bytes that are not
// text, long commands in messages, and a solver whose parent is gone.
#include <gtest/gtest.h>
#include <signal.h>
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
#include "ys_reader.hpp"

namespace {

namespace fs = std::filesystem;
using vorlax::testing_support::slurp;
using vorlax::testing_support::running;

class SolverInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(VORLAX_SOLVER_BIN)) GTEST_SKIP() << "vorlax-solver is not built";
    char tmpl[] = "/tmp/vorlax-solver-input-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }
  // Runs the solver in the temp dir on the file argument; its status and standard error.
  std::pair<int, std::string> run(const std::string& file) {
    std::string cmd = "cd '" + dir + "' && '" + VORLAX_SOLVER_BIN + "' " + file +
                      " > out.txt 2> err.txt < /dev/null";
    int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir + "/err.txt")};
  }
  std::string dir;
};

TEST_F(SolverInput, WhatCannotBeReadAndWhatIsShown) {
  fs::create_directory(dir + "/d");
  write("inc.ys", "(include \"d\")\n");
  write("nul.ys", std::string("(define x::int)\n(assert (= x\0 1))\n", 34));
  std::string many;
  for (int i = 0; i < 60; ++i) many += " (= x " + std::to_string(i) + ")";
  write("long.ys", "(define x::int)\n(assert (and" + many + " (= y 1)))\n");
  write("tab.ys", "(define x::int)\n(assert\t(= x\001 1))\n");
  struct Case {
    const char* file;
    std::string err;
  };
  const Case cases[] = {
      {"d", "vorlax-solver: cannot read \"d\": it is a directory\n"},
      {"inc.ys", "vorlax-solver: input line 1: (include \"d\"): cannot read \"d\": it is a directory\n"},
      // the message is not cut at the NUL, and shows it
      {"nul.ys", "vorlax-solver: input line 2: (assert (= x\\x00: a NUL byte in the input\n"},
      // about 80 characters of the command, then "..."
      {"long.ys",
       "vorlax-solver: input line 2: (assert (and (= x 0) (= x 1) (= x 2) (= x 3) (= x 4) (= x 5) (= x 6) "
       "(= x 7) (= x ...: unknown name \"y\"\n"},
      {"tab.ys", "vorlax-solver: input line 2: (assert (= x\\x01 1)): unknown name \"x\\x01\"\n"},
  };
  for (const Case& c : cases) {
    auto [status, err] = run(c.file);
    EXPECT_EQ(status, 1) << c.file;
    EXPECT_EQ(err, c.err) << c.file;
  }
}

TEST_F(SolverInput, NestingIsBounded) {
  std::string nots;
  for (int i = 0; i < vxsolver::Reader::kMaxDepth; ++i) nots += "(not ";
  write("deep.ys", "(define p::bool)\n(assert " + nots + "p" + std::string(vxsolver::Reader::kMaxDepth + 1, ')') +
                       "\n(check)\n");
  auto [status, err] = run("deep.ys");
  EXPECT_EQ(status, 1);
  const std::string start = "vorlax-solver: input line 2: (assert (not (not (not";
  const std::string end = " ...: parentheses nested more than " + std::to_string(vxsolver::Reader::kMaxDepth) + " deep\n";
  EXPECT_EQ(err.rfind(start, 0), 0u) << err.substr(0, 200);
  ASSERT_GE(err.size(), end.size());
  EXPECT_EQ(err.substr(err.size() - end.size()), end);
  EXPECT_LE(err.size(), start.size() + 80 + end.size());
}

// The solver stops by itself, in the middle of reading, when the process that started it
// is killed: nothing closes its input, which the test still holds open.
TEST_F(SolverInput, EndsWhenItsParentIsKilled) {
  int input[2], output[2], report[2];
  ASSERT_EQ(::pipe(input), 0);
  ASSERT_EQ(::pipe(output), 0);
  ASSERT_EQ(::pipe(report), 0);
  pid_t parent = ::fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    pid_t solver = ::fork();
    if (solver == 0) {
      ::dup2(input[0], 0);
      ::dup2(output[1], 1);
      ::execl(VORLAX_SOLVER_BIN, VORLAX_SOLVER_BIN, "-i", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(output[1]);  // the solver's output ends with the solver
    (void)!::write(report[1], &solver, sizeof solver);
    ::pause();
    ::_exit(0);
  }
  ::close(input[0]);
  ::close(output[1]);
  ::close(report[1]);
  pid_t solver = -1;
  ASSERT_EQ(::read(report[0], &solver, sizeof solver), static_cast<ssize_t>(sizeof solver));
  ::close(report[0]);
  // Its first prompt: it has started and reads its input (a parent that is gone before
  // the solver has started cannot be told from its own).
  std::string prompt;
  char c;
  while (prompt.find("yices > ") == std::string::npos && ::read(output[0], &c, 1) == 1) prompt += c;
  ASSERT_NE(prompt.find("yices > "), std::string::npos) << "the solver did not start";
  ASSERT_TRUE(running(solver)) << "the solver did not start";
  ::kill(parent, SIGKILL);
  ::waitpid(parent, nullptr, 0);
  bool gone = false;
  // Reparented: not ours to reap, so poll. The kernel's teardown of a solver that holds
  // several Z3 contexts can take a while on a busy machine (the suite runs in parallel,
  // beside busy loops of the determinism test, and under the sanitizers).
  for (int i = 0; i < 500 && !gone; ++i) {
    gone = !running(solver);
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone) << "the solver outlived its parent by more than five seconds";
  if (!gone) ::kill(solver, SIGKILL);
  ::close(input[1]);
  ::close(output[0]);
}

}  // namespace
