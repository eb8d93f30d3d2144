// The program's first steps: usage line, reading both files, and the parse-error message.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include "file_support.hpp"

namespace {

using vorlax::testing_support::slurp;

std::string binary() {
  const char* env = std::getenv("VORLAX_TEST_BIN");  // lets a partial build point at its own binary
  return env && *env ? env : VORLAX_BIN;
}


struct Outcome {
  int status;
  std::string out, err;
};

// Each test gets a directory of its own: the test cases run in parallel.
std::string& testDir() {
  static std::string dir;
  return dir;
}

Outcome run(const std::string& args) {
  std::string dir = testDir();
  std::string out = dir + "/vx_driver_out", err = dir + "/vx_driver_err";
  std::string cmd = "'" + binary() + "' " + args + " >'" + out + "' 2>'" + err + "'";
  int st = std::system(cmd.c_str());
  return Outcome{WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(out), slurp(err)};
}

std::string fx(const std::string& name) { return std::string(VORLAX_FIXTURES) + "/domain/" + name; }

std::string program() {
  std::string b = binary();
  return b.substr(b.find_last_of('/') + 1);
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(binary().c_str(), X_OK) != 0) GTEST_SKIP() << "no program at " << binary();
    std::string tmpl = ::testing::TempDir() + "/vx_driver_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = testDir() = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string write(const std::string& name, const std::string& text) {
    std::string p = dir_ + "/" + name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  std::string dir_;
};

}  // namespace

TEST_F(Driver, UsageLine) {
  for (std::string args : std::initializer_list<std::string>{"", "'" + fx("order.dom") + "'"}) {
    Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Usage: vorlax domain serialization [-d]\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(Driver, OpenErrors) {
  std::string bad = write("bad.dom", "type S { a: Int, }");
  struct Case {
    std::string args, err;
  } cases[] = {
      {"nosuch.dom '" + fx("order.dom") + "'", "nosuch.dom: openFile: does not exist (No such file or directory)"},
      // both files are read before either is parsed
      {"'" + bad + "' nosuch.ser", "nosuch.ser: openFile: does not exist (No such file or directory)"},
      {"'" + dir_ + "' x", dir_ + ": openFile: inappropriate type (Is a directory)"},
      {"'" + bad + "/x' y", bad + "/x: openFile: inappropriate type (Not a directory)"},
  };
  for (const auto& c : cases) {
    Outcome r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, program() + ": " + c.err + "\n") << c.args;
  }
  if (::geteuid() != 0) {
    std::string locked = write("locked.dom", "");
    ::chmod(locked.c_str(), 0);
    Outcome r = run("'" + locked + "' x");
    EXPECT_EQ(r.err, program() + ": " + locked + ": openFile: permission denied (Permission denied)\n");
  }
}

TEST_F(Driver, ParseErrorMessageShowsBothResults) {
  std::string badDom = write("bad.dom", "type S { a: Int, }");
  std::string badSer = write("bad.ser", "@ 5.0");
  std::string goodDom = write("good.dom", "type S { v: Int }");
  std::string goodSer = write("good.ser", "@ 1 -> True");
  struct Case {
    std::string dom, ser, msg;
  } cases[] = {
      {badDom, badSer,
       "Error during parsing:\n(Left \"" + badDom + "\" (line 1, column 16):\nunexpected \",\"\nexpecting identifier or "
       "\"}\",Left \"" + badSer + "\" (line 1, column 4):\nunexpected \".\"\nexpecting digit or \"->\")"},
      {goodDom, badSer,
       "Error during parsing:\n(Right (Domain {domStructs = [Struct {structName = \"S\", structDecls = [v: Int]}], "
       "domProcs = [], domFuncs = []}),Left \"" + badSer + "\" (line 1, column 4):\nunexpected \".\"\nexpecting digit or "
       "\"->\")"},
      {badDom, goodSer,
       "Error during parsing:\n(Left \"" + badDom + "\" (line 1, column 16):\nunexpected \",\"\nexpecting identifier or "
       "\"}\",Right (SerialGoal {vars = [], values = [], goalSteps = 1, goalExpr = True}))"},
  };
  for (const auto& c : cases) {
    Outcome r = run("'" + c.dom + "' '" + c.ser + "' -d");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, program() + ": " + c.msg + "\n");
  }
}

TEST_F(Driver, UnbuildableAccessWinsOverTheParseMessage) {
  Outcome r = run("'" + fx("bad_access.dom") + "' '" + fx("no_bound.ser") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind(program() + ": dotBinary: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find("Error during parsing"), std::string::npos);
}

TEST_F(Driver, DeepInputIsACleanFatal) {
  std::string deep(100000, '(');
  std::string ser = write("deep.ser", "@ 1 -> " + deep);
  Outcome r = run("'" + fx("order.dom") + "' '" + ser + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, program() + ": input nests too deeply (more than 10000 levels)\n");
}

TEST_F(Driver, TrailingTextEndsTheRunWithoutDumps) {
  // a clause after a slip would be dropped without a word; the run ends instead
  std::string dom = write("slip.dom", "type C { v : Int }\ninc (c : C)\n  require (c.v < 10)\n");
  std::string ser = write("slip.ser", "c : C\n@ 1\n-> c.v = 1;\n");
  std::string goodSer = write("good.ser", "c : C\n@ 1\n-> c.v = 1\n");
  for (const auto& [d, s] : {std::pair{dom, ser}, std::pair{dom, goodSer}}) {
    Outcome r = run("'" + d + "' '" + s + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(program() + ": Error during parsing:\n(Left \"" + dom + "\" (line 3, column 11):\n"
                          "unexpected '('\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(s == ser ? "Left \"" + ser + "\" (line 3, column 11):\nunexpected ';'\n" : "Right (SerialGoal"),
              std::string::npos) << r.err;
    EXPECT_NE(::access((d + ".lisp").c_str(), F_OK), 0) << "a dump was written";
    EXPECT_NE(::access((s + ".lisp").c_str(), F_OK), 0) << "a dump was written";
  }
}
