// The vorlax-solver executable over pipes, driven the way vorlax drives it: commands
// are answered as they arrive (the input stays open), each check is framed by echoed
// markers that stand on lines of their own, and the model holds the entries from which
// the call script is rebuilt.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "solver_support.hpp"

extern char** environ;

namespace {

const char* kBegin = "_![<[BEGIN_OUTPUT]>]!_";
const char* kEnd = "_![<[END_OUTPUT]>]!_";

// The domain commands of an account with a balance and a deposit procedure.
const std::string kDomain = vorlax::testing_support::accountCommands("0");

const char* kExchange = "(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")\n(check)\n(echo \"\\n_![<[END_OUTPUT]>]!_\")\n";

class Solver {
 public:
  explicit Solver(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&fa, fd);
    args.insert(args.begin(), "vorlax-solver");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, VORLAX_SOLVER_BIN, &fa, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~Solver() {
    closeInput();
    if (out_ >= 0) close(out_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  void send(const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
      ssize_t n = write(in_, s.data() + done, s.size() - done);
      if (n <= 0) throw std::runtime_error("write");
      done += static_cast<size_t>(n);
    }
  }
  void closeInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }
  // One line of output; false at the end of the output. Fails after 30 s of silence.
  bool line(std::string& l) {
    l.clear();
    for (;;) {
      size_t nl = buf_.find('\n');
      if (nl != std::string::npos) {
        l = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return true;
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) throw std::runtime_error("the solver did not answer");
      char b[4096];
      ssize_t n = read(out_, b, sizeof b);
      if (n <= 0) {
        l = buf_;
        buf_.clear();
        return !l.empty();
      }
      buf_.append(b, static_cast<size_t>(n));
    }
  }
  // The answer lines of one check exchange, prompts stripped and empty lines dropped.
  std::vector<std::string> exchange() {
    send(kExchange);
    std::vector<std::string> lines;
    std::string l;
    bool begun = false;
    while (line(l)) {
      if (l == kEnd) return lines;
      if (l == kBegin) {
        begun = true;
        continue;
      }
      if (!begun) continue;
      if (l.rfind("yices > ", 0) == 0) l = l.substr(8);
      if (!l.empty()) lines.push_back(l);
    }
    throw std::runtime_error("the output ended before the end marker");
  }
  int wait() {
    int ws = 0;
    waitpid(pid_, &ws, 0);
    pid_ = -1;
    return WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string buf_;
};

std::string valueOf(const std::vector<std::string>& model, const std::string& left) {
  std::string prefix = "(= " + left + " ";
  for (const auto& l : model)
    if (l.rfind(prefix, 0) == 0) return l.substr(prefix.size(), l.size() - prefix.size() - 1);
  return "";
}

class SolverPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(VORLAX_SOLVER_BIN)) GTEST_SKIP() << "vorlax-solver is not built";
  }
};

}  // namespace

TEST_F(SolverPipe, SearchLikeSession) {
  Solver s({"-i", "-e"});
  s.send(kDomain);
  // Attempt 0: one deposit reaches a balance of 10.
  s.send("(assert (actions all-frames 0))\n(push)\n(assert (= (balance acc 1) 10))\n");
  auto a = s.exchange();
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a[0], "sat");
  std::vector<std::string> model(a.begin() + 1, a.end());
  EXPECT_EQ(valueOf(model, "(tag_array 0)"), "deposit_tag");
  EXPECT_EQ(valueOf(model, "(Int_arg 2 0)"), "10");
  std::string obj = valueOf(model, "acc");
  EXPECT_TRUE(std::regex_match(obj, std::regex("null_Account|Account_obj[1-4]"))) << obj;
  EXPECT_EQ(valueOf(model, "(Account_arg 1 0)"), obj);
  EXPECT_EQ(valueOf(model, "(balance " + obj + " 1)"), "10");
  for (const auto& l : model) {
    EXPECT_EQ(l.rfind("(= ", 0), 0u) << l;
    EXPECT_EQ(l.find("fee"), std::string::npos) << "a defined function in the model: " << l;
    EXPECT_EQ(l.find("!"), std::string::npos) << "a Z3 name in the model: " << l;
  }
  // Attempt 1 after a pop: a negative goal is out of reach, then two deposits.
  s.send("(pop)\n(assert (actions all-frames 1))\n(push)\n(assert (< (balance acc 2) 0))\n");
  auto b = s.exchange();
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0], "unsat");
  s.send("(pop)\n(push)\n(assert (= (balance acc 2) 3))\n");
  auto c = s.exchange();
  ASSERT_FALSE(c.empty());
  EXPECT_EQ(c[0], "sat");
  std::vector<std::string> m2(c.begin() + 1, c.end());
  EXPECT_EQ(valueOf(m2, "(tag_array 0)"), "deposit_tag");
  EXPECT_EQ(valueOf(m2, "(tag_array 1)"), "deposit_tag");
  EXPECT_NE(valueOf(m2, "(Int_arg 2 1)"), "");
  s.closeInput();
  EXPECT_EQ(s.wait(), 0);
}

TEST_F(SolverPipe, MarkersStandOnTheirOwnLines) {
  Solver s({"-i", "-e"});
  s.send("(define x::int)\n(assert (= x 5))\n");
  s.send(kExchange);
  std::vector<std::string> lines;
  std::string l;
  while (s.line(l)) {
    lines.push_back(l);
    if (l == kEnd) break;
  }
  std::vector<std::string> want = {"yices > yices > yices > ", kBegin, "yices > sat", "(= x 5)", "yices > ", kEnd};
  EXPECT_EQ(lines, want);
  s.closeInput();
  EXPECT_EQ(s.wait(), 0);
}

TEST_F(SolverPipe, ComplaintEndsTheProgram) {
  Solver s({"-i", "-e"});
  s.send("(define x::int)\n(assert (= x y))\n");
  std::string l, all;
  while (s.line(l)) all += l + "\n";  // the output closes without the input being closed
  EXPECT_EQ(s.wait(), 1);
}

TEST_F(SolverPipe, CommandLineErrors) {
  // an unknown option, two input files, an input file that cannot be opened
  for (std::vector<std::string> args : {std::vector<std::string>{"-i", "-q"}, {"a.ys", "b.ys"},
                                        {"-e", "/nonexistent/in.ys"}}) {
    Solver s(args);
    s.closeInput();
    std::string l;
    EXPECT_FALSE(s.line(l)) << l;
    EXPECT_EQ(s.wait(), 1) << args.back();
  }
}
