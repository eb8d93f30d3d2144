// Whole sessions of the solver program: the commands of tests/fixtures/solver/NAME.ys
// in, exactly NAME.out on standard output, NAME.err on standard error (none if the
// file is absent) and the exit status of NAME.status (0 if absent). NAME.args holds
// the command-line options (default "-i -e"). Each transcript runs in-process and,
// when it has been built, through the vorlax-solver executable itself.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ys_session.hpp"

using namespace vxsolver;
namespace fs = std::filesystem;

extern char** environ;

namespace {

const fs::path kDir = fs::path(VORLAX_FIXTURES) / "solver";

std::string slurp(const fs::path& p, const std::string& otherwise = "") {
  std::ifstream in(p, std::ios::binary);
  if (!in) return otherwise;
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

struct Transcript {
  std::string name, input, out, err;
  std::vector<std::string> args;
  int status = 0;
};

Transcript load(const std::string& name) {
  Transcript t;
  t.name = name;
  t.input = slurp(kDir / (name + ".ys"));
  t.args = words(slurp(kDir / (name + ".args"), "-i -e"));
  t.out = slurp(kDir / (name + ".out"));
  t.err = slurp(kDir / (name + ".err"));
  t.status = std::stoi(slurp(kDir / (name + ".status"), "0"));
  return t;
}

std::vector<std::string> names() {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(kDir))
    if (e.path().extension() == ".ys") out.push_back(e.path().stem().string());
  std::sort(out.begin(), out.end());
  return out;
}

class SolverTranscript : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(SolverTranscript, InProcess) {
  Transcript t = load(GetParam());
  Options opt;
  for (const auto& a : t.args) {
    if (a == "-i") opt.interactive = true;
    if (a == "-e") opt.evidence = true;
  }
  std::ostringstream out, err;
  Session s(out, err, opt);
  StringSource src(t.input);
  int status = s.run(src);
  EXPECT_EQ(out.str(), t.out);
  EXPECT_EQ(err.str(), t.err);
  EXPECT_EQ(status, t.status);
}

TEST_P(SolverTranscript, Executable) {
  if (!fs::exists(VORLAX_SOLVER_BIN)) GTEST_SKIP() << "vorlax-solver is not built";
  Transcript t = load(GetParam());
  fs::path tmp = fs::temp_directory_path() / ("solver_transcript_" + std::to_string(getpid()) + "_" + t.name);
  fs::path in = kDir / (t.name + ".ys"), out = tmp.string() + ".out", err = tmp.string() + ".err";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> argv = {"vorlax-solver"};
  argv.insert(argv.end(), t.args.begin(), t.args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, VORLAX_SOLVER_BIN, &fa, nullptr, cargv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  int ws = 0;
  ASSERT_EQ(waitpid(pid, &ws, 0), pid);
  ASSERT_TRUE(WIFEXITED(ws));
  EXPECT_EQ(slurp(out), t.out);
  EXPECT_EQ(slurp(err), t.err);
  EXPECT_EQ(WEXITSTATUS(ws), t.status);
  fs::remove(out);
  fs::remove(err);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SolverTranscript, ::testing::ValuesIn(names()),
                         [](const auto& info) { return info.param; });
