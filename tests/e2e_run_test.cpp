// Whole runs of the vorlax executable with the bundled solver: exact standard output,
// standard error, exit status and dump files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>
#include "file_support.hpp"

namespace {

using vorlax::testing_support::exists;
using vorlax::testing_support::slurp;


struct Outcome {
  int status = -1;
  std::string out, err;
};

class E2E : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorlax-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }

  // Runs vorlax in the temp dir with the given arguments; solver "" leaves YICES_EXE unset.
  Outcome run(const std::string& args, const std::string& solver = VORLAX_SOLVER_BIN) {
    std::string env = solver.empty() ? "env -u YICES_EXE " : "env YICES_EXE='" + solver + "' ";
    std::string cmd = "cd '" + dir + "' && " + env + "'" + VORLAX_BIN + "' " + args +
                      " > out.txt 2> err.txt < /dev/null";
    Outcome r;
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(dir + "/out.txt");
    r.err = slurp(dir + "/err.txt");
    return r;
  }

  std::string dir;
};

const char* kStack = R"(type Stack {
  size : Int
}

push (s : Stack)
  require
    room: s.size < 3
  ensure
    grown: s.size = old(s.size) + 1

pop (s : Stack)
  require
    nonempty: s.size > 0
  ensure
    shrunk: s.size = old(s.size) - 1
)";

std::string stackGoal(int start, int bound, int target) {
  return "st : Stack\nst.size = " + std::to_string(start) + "\n@ " + std::to_string(bound) +
         "\n-> st.size = " + std::to_string(target) + "\n";
}

TEST_F(E2E, Verdicts) {
  struct Case {
    const char* name;
    int start, bound, target;
    std::string out;
  } cases[] = {
      {"one call", 2, 5, 3, "push (st)\n\n"},
      {"several calls", 0, 5, 3, "push (st)\npush (st)\npush (st)\n\n"},
      {"unreachable", 0, 4, 5, "Unsatisfiable\n"},
      {"bound too small", 0, 2, 3, "Unsatisfiable\n"},
      {"bound zero", 2, 0, 3, "Unsatisfiable\n"},
      {"bound negative", 2, -4, 3, "Unsatisfiable\n"},
  };
  for (const auto& c : cases) {
    write("s.dom", kStack);
    write("s.ser", stackGoal(c.start, c.bound, c.target));
    Outcome r = run("s.dom s.ser");
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_TRUE(exists(dir + "/s.dom.lisp")) << c.name;
    EXPECT_TRUE(exists(dir + "/s.ser.lisp")) << c.name;
  }
}

TEST_F(E2E, DumpsHoldTheCommandsSentToTheSolver) {
  write("s.dom", kStack);
  write("s.ser", stackGoal(2, 5, 3));
  run("s.dom s.ser");
  std::string dom = slurp(dir + "/s.dom.lisp");
  EXPECT_EQ(dom.substr(0, 52), "(define-type proc_tag (scalar pop_tag push_tag))\n(de");
  EXPECT_NE(dom.find("(define size::(-> Stack_ref int int))\n"), std::string::npos);
  EXPECT_EQ(dom.back(), '\n');
  EXPECT_FALSE(slurp(dir + "/s.ser.lisp").empty());
}

TEST_F(E2E, DebugSwitchPrintsModelAndElapsedTime) {
  write("s.dom", kStack);
  write("s.ser", stackGoal(2, 5, 3));
  Outcome r = run("s.dom s.ser -d");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(= (tag_array 0) push_tag)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n\npush (st)\n\n"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\n\n[0-9]+(\\.[0-9]{1,12})?s\n$"))) << r.out;
  // any other third argument leaves the switch off
  r = run("s.dom s.ser -D");
  EXPECT_EQ(r.out, "push (st)\n\n");
}

TEST_F(E2E, ParameterlessProcedure) {
  write("c.dom", R"(type Counter {
  n : Int
}

reset ()
  ensure
    zero: True
)");
  write("c.ser", "c : Counter\nc.n = 1\n@ 3\n-> c.n = 1\n");
  Outcome r = run("c.dom c.ser");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "reset ()\n\n");
}

TEST_F(E2E, Failures) {
  write("s.dom", kStack);
  write("s.ser", stackGoal(2, 5, 3));
  write("bad.ser", "st : Stack\n@ 3\n-> st.size = True\n");
  write("dies.sh", "#!/bin/sh\nexit 0\n");
  ::chmod((dir + "/dies.sh").c_str(), 0755);

  Outcome r = run("s.dom s.ser", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "vorlax: YICES_EXE: getEnv: does not exist (no environment variable)\n");
  EXPECT_TRUE(exists(dir + "/s.ser.lisp"));

  r = run("s.dom bad.ser");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("vorlax: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("True"), std::string::npos) << r.err;

  // a goal with a type error is never checked when the bound is 0
  write("bad0.ser", "st : Stack\n@ 0\n-> st.size = True\n");
  r = run("s.dom bad0.ser");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Unsatisfiable\n");

  r = run("s.dom s.ser", dir + "/dies.sh");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("vorlax: ", 0), 0u) << r.err;

  r = run("s.dom s.ser", dir + "/no-such-solver");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no-such-solver"), std::string::npos) << r.err;
}

TEST_F(E2E, SolverComplaintEndsTheRun) {
  // A solver that refuses the upload and ends: the run ends with a fatal error instead of
  // a verdict.
  write("refuse.sh", "#!/bin/sh\necho 'refuse: I do not take this' >&2\nexit 1\n");
  ::chmod((dir + "/refuse.sh").c_str(), 0755);
  write("s.dom", kStack);
  write("s.ser", "s : Stack\ns.size = 0\n@ 2\n-> s.size = 1\n");
  Outcome r = run("s.dom s.ser", dir + "/refuse.sh");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("refuse: I do not take this\nvorlax: ", 0), 0u) << r.err;
}

TEST_F(E2E, NameClashEndsTheRunBeforeTheSolver) {
  // Two structures with a field of the same name would give two definitions of one name.
  write("c.dom", "type A {\n  n : Int\n}\n\ntype B {\n  n : Int\n}\n\nbump (a : A)\n  ensure\n    up: a.n = old(a.n) + 1\n");
  write("c.ser", "x : A\nx.n = 0\n@ 2\n-> x.n = 1\n");
  Outcome r = run("c.dom c.ser", dir + "/no-such-solver");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "vorlax: name clash: field n of structure A (c.dom) and field n of structure B (c.dom) "
                   "would both be named n in the solver's input; rename one of them\n");
  EXPECT_EQ(slurp(dir + "/c.dom.lisp"), "");
  EXPECT_FALSE(exists(dir + "/c.ser.lisp"));
}

TEST_F(E2E, UsageAndInputErrors) {
  Outcome r = run("only-one");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Usage: vorlax domain serialization [-d]\n");
  EXPECT_FALSE(exists(dir + "/only-one.lisp"));

  r = run("missing.dom missing.ser");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vorlax: missing.dom: openFile: does not exist (No such file or directory)\n");

  write("x.dom", "type S {\n");
  write("x.ser", "@ 0 -> True\n");
  r = run("x.dom x.ser");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("vorlax: Error during parsing:\n(Left \"x.dom\" (line 2, column 1):", 0), 0u)
      << r.err;
  EXPECT_NE(r.err.find(",Right (SerialGoal {vars = [], values = [], goalSteps = 0, goalExpr = True})"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(exists(dir + "/x.dom.lisp"));

  // a dump never overwrites an input file
  write("d", kStack);
  write("d.lisp", stackGoal(2, 5, 3));
  r = run("d d.lisp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(slurp(dir + "/d.lisp"), stackGoal(2, 5, 3));
}

// The script's lines in sorted order (for scripts whose calls may come in any order).
std::vector<std::string> sortedLines(const std::string& script) {
  std::vector<std::string> out;
  std::istringstream in(script);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(E2E, Examples) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;  // sorted, the empty line after the script first
  } cases[] = {
      {"stack", {"", "push (st)"}},
      {"bank", {"", "deposit (acc,3)", "open_account (acc)"}},
      {"list", {"", "link (l,n)", "set_value (n,42)"}},
      // the price is the solver's choice: any number above the old one
      {"shop", {"", "list_item (i,true,PRICE)", "restock (i,2)"}},
  };
  const std::regex number("-?[0-9]+(/[0-9]+)?");
  for (const auto& c : cases) {
    std::string base = std::string(VORLAX_EXAMPLES) + "/" + c.name;
    std::system(("cp '" + base + ".dom' '" + base + ".ser' '" + dir + "/'").c_str());
    Outcome r = run(std::string(c.name) + ".dom " + c.name + ".ser");
    EXPECT_EQ(r.status, 0) << c.name << r.err;
    EXPECT_EQ(r.err, "") << c.name;
    ASSERT_GE(r.out.size(), 3u) << c.name;
    ASSERT_EQ(r.out.substr(r.out.size() - 3), ")\n\n") << c.name << r.out;
    auto got = sortedLines(r.out);
    for (auto& l : got) {
      std::smatch m;
      if (std::regex_search(l, m, std::regex("^list_item \\(i,true,(.*)\\)$"))) {
        EXPECT_TRUE(std::regex_match(m[1].str(), number)) << l;
        l = "list_item (i,true,PRICE)";
      }
    }
    EXPECT_EQ(got, c.lines) << c.name << "\n" << r.out;
  }
}

// The shop domain with a goal that needs a sale: two structure types, functions read
// under old(), Bool and Double parameters, implies, and a parameterless procedure in the
// disjunction of every step.
TEST_F(E2E, ShopSale) {
  std::string base = std::string(VORLAX_EXAMPLES) + "/shop";
  std::system(("cp '" + base + ".dom' '" + dir + "/'").c_str());
  write("till.ser",
        "i : Item\nt : Till\nt.sales = 0\n@ 3\n"
        "-> t.sales = 1 and t.takings > old(t.takings) and (i.listed implies i.stock = old(i.stock))\n");
  Outcome r = run("shop.dom till.ser");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::regex_match(r.out, std::regex("sell \\((i|null_Item|Item_obj[1-4]),t\\)\n\n"))) << r.out;

  r = run("shop.dom till.ser -d");
  ASSERT_EQ(r.status, 0) << r.err;
  // the argument entries of every parameter type are in the model; the functions,
  // defined by their equations, are not
  for (const char* entry : {"(= (Bool_arg 2 0) ", "(= (Double_arg 3 0) ", "(= (Int_arg 2 0) ",
                            "(= (Item_arg 1 0) ", "(= (Till_arg 2 0) ", "(= (tag_array 0) sell_tag)\n",
                            "(= (sales Till_obj1 0) "})
    EXPECT_NE(r.out.find(entry), std::string::npos) << entry << "\n" << r.out;
  EXPECT_EQ(r.out.find("remaining"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("after_sale"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\\(= \\(Double_arg 3 0\\) -?[0-9]+(/[0-9]+)?\\)\n")))
      << r.out;
}

}  // namespace

TEST_F(E2E, LongChainsAndDeepNestingRunThrough) {
  // A chain of operators is no nesting, and deep parentheses are read up to their bound:
  // each of these reaches the solver and back.
  auto join = [](const std::string& term, const std::string& op, int n) {
    std::string out = term;
    for (int i = 1; i < n; ++i) out += op + term;
    return out;
  };
  auto nest = [](const std::string& open, const std::string& inner, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += open;
    out += inner;
    out.append(n, ')');
    return out;
  };
  write("c.dom", "type C {\n  v : Int\n}\n\ninc (c : C)\n  require\n    small: " + join("c.v", " + ", 2000) +
                     " < 10\n  ensure\n    up: c.v = old(c.v) + 1\n");
  struct Case {
    std::string goal, out;
  };
  const Case cases[] = {
      {join("c.v >= 0", " and ", 1000) + " and c.v = 1", "inc (c)\n\n"},
      {nest("(", "c.v = 1", 10000), "inc (c)\n\n"},
      {nest("not (", "c.v /= 1", 2999), "inc (c)\n\n"},
      // the requirement reads c.v 2000 times: c.v = 0 allows a call, c.v = 1 does not
      {"c.v = 2", "Unsatisfiable\n"},
  };
  for (const Case& c : cases) {
    write("c.ser", "c : C\nc.v = 0\n@ 2\n-> " + c.goal + "\n");
    Outcome r = run("c.dom c.ser");
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 300);
    EXPECT_EQ(r.out, c.out) << c.goal.substr(0, 40);
  }
}
