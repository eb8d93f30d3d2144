// The dump files: their names and text, writing while commands are produced, what a failure
// leaves behind, and that a dump never replaces an input file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver.hpp"
#include "fatal.hpp"
#include "goal.hpp"
#include "parser.hpp"
#include "file_support.hpp"

namespace vorlax {
namespace {

using vorlax::testing_support::slurp;

namespace fs = std::filesystem;
namespace y = yices;

const std::string kFixtures = std::string(VORLAX_FIXTURES) + "/encode/";

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

ast::Domain parseDomainText(const std::string& name, const std::string& text) {
  auto r = parser::parseDomain(name, text);
  if (!r.ok) ADD_FAILURE() << "fixture does not parse: " << name;
  return r.value;
}

// A fresh directory per test, removed afterwards.
class DumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("vorlax-dump-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string& name) const { return (dir / name).string(); }

  fs::path dir;
};

y::CmdY assertVar(const std::string& n) { return y::mkC(y::ASSERT{y::mkE(y::VarE{n})}); }

TEST(OutputFileName, AppendsLisp) {
  EXPECT_EQ(outputFileName("d.txt"), "d.txt.lisp");
  EXPECT_EQ(outputFileName("../x/d"), "../x/d.lisp");
  EXPECT_EQ(outputFileName(""), ".lisp");
}

TEST(ShowCmds, OneLinePerCommand) {
  EXPECT_EQ(showCmds({}), "");
  EXPECT_EQ(showCmds({assertVar("p"), y::mkC(y::PUSH{})}), "(assert p)\n(push)\n");
}

TEST_F(DumpTest, WritesEachCommandAndReturnsTheText) {
  writeFile(path("d.lisp"), "old content that must go\n");
  auto text = writeYices(path("d"), [](const CmdSink& emit) {
    emit(assertVar("p"));
    emit(assertVar("q"));
  });
  EXPECT_EQ(slurp(path("d.lisp")), "(assert p)\n(assert q)\n");
  EXPECT_EQ(text.str(), "(assert p)\n(assert q)\n");

  EXPECT_TRUE(writeYices(path("d"), [](const CmdSink&) {}).empty());
  EXPECT_TRUE(fs::exists(path("d.lisp")));
  EXPECT_EQ(slurp(path("d.lisp")), "");
}

TEST_F(DumpTest, FailureKeepsEarlierCommandsAndThePrintedPartOfTheFailingOne) {
  try {
    writeYices(path("d"), [](const CmdSink& emit) {
      emit(assertVar("p"));
      emit(y::mkC(y::ASSERT{y::mkE(y::AND{{}})}));  // cannot be printed
      emit(assertVar("never"));
    });
    ADD_FAILURE() << "expected the printer's failure";
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message, "Prelude.foldr1: empty list");
  }
  EXPECT_EQ(slurp(path("d.lisp")), "(assert p)\n(assert (and ");
}

// A dump of more than one piece that goes to the file while it grows: complete when the
// producer ends, and cut where the failure is when it fails.
TEST_F(DumpTest, LongDumpsAreWholeOrCutAtTheFailure) {
  std::string expected;
  auto many = [&](const CmdSink& emit) {
    for (int i = 0; i < 100000; ++i) emit(assertVar("variable_" + std::to_string(i)));
  };
  for (int i = 0; i < 100000; ++i) expected += "(assert variable_" + std::to_string(i) + ")\n";
  ASSERT_GT(expected.size(), std::size_t{2} << 20);
  const DumpText text = writeYices(path("d"), many);
  EXPECT_EQ(text.str(), expected);
  EXPECT_GT(text.pieces().size(), 1u);
  EXPECT_EQ(slurp(path("d.lisp")), expected);
  EXPECT_THROW(writeYices(path("d"),
                          [&](const CmdSink& emit) {
                            many(emit);
                            emit(y::mkC(y::ASSERT{y::mkE(y::AND{{}})}));
                          }),
               Fatal);
  EXPECT_EQ(slurp(path("d.lisp")), expected + "(assert (and ");
}

TEST_F(DumpTest, DumpThatCannotBeCreated) {
  const std::string missing = path("no/such/dir/d");
  try {
    writeYices(missing, [](const CmdSink&) {});
    ADD_FAILURE();
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message, missing + ".lisp: openFile: does not exist (No such file or directory)");
  }
}

TEST_F(DumpTest, GoldenDomainDumps) {
  for (const char* name : {"account", "empty", "two_structs", "functions", "no_procedures"}) {
    const std::string src = kFixtures + name + ".dom";
    const std::string dom = path(std::string(name) + ".dom");
    fs::copy_file(src, dom);
    auto text = generateDomain(parseDomainText(dom, slurp(dom)), dom, path("s"));
    const std::string expected = slurp(src + ".lisp.expected");
    EXPECT_EQ(slurp(dom + ".lisp"), expected) << name;
    EXPECT_EQ(text.str(), expected) << name;
  }
}

// Each domain fails while its commands are produced; the dump keeps exactly the commands
// before the failing one.
TEST_F(DumpTest, FailingDomainsLeaveTheirPrefix) {
  // The commands of "type S { k : Int }" up to the selectors, for the given procedure tags.
  const auto head = [](const std::string& tags) {
    return "(define-type proc_tag (scalar " + tags + "))\n"
           "(define tag_array::(-> int proc_tag))\n"
           "(define-type S_ref (scalar null_S S_obj1 S_obj2 S_obj3 S_obj4))\n"
           "(define-type ALL_ref (datatype (S_ref_wrap S_ref_unwrap::S_ref)))\n"
           "(define Int_arg::(-> int int int))\n";
  };
  // ... and on up to "all-frames", where the functions begin.
  const auto upToFunctions = [&](const std::string& tags) {
    return head(tags) +
           "(define S_arg::(-> int int S_ref))\n"
           "(define-type exclude_type (-> ALL_ref int bool))\n"
           "(define-type frame_type (-> exclude_type int bool))\n"
           "(define k::(-> S_ref int int))\n"
           "(define S_eq::(-> S_ref int bool) (lambda (obj::S_ref idx::int)(and (= (k obj (+ idx "
           "1)) (k obj idx)))))\n"
           "(define S_frame_single::(-> S_ref exclude_type int bool) (lambda (obj::S_ref "
           "exclude_pred::exclude_type idx::int)(=> (not (exclude_pred (S_ref_wrap obj) idx)) "
           "(S_eq obj idx))))\n"
           "(define S_frame_all::(-> exclude_type int bool) (lambda (exclude_pred::exclude_type "
           "idx::int)(and (S_frame_single null_S exclude_pred idx) (S_frame_single S_obj1 "
           "exclude_pred idx) (S_frame_single S_obj2 exclude_pred idx) (S_frame_single S_obj3 "
           "exclude_pred idx) (S_frame_single S_obj4 exclude_pred idx))))\n"
           "(define all-frames::(-> exclude_type int bool) (lambda (exclude_pred::exclude_type "
           "idx::int)(and (S_frame_all exclude_pred idx))))\n";
  };
  const std::string p = "p_tag";
  const struct {
    const char* what;
    const char* items;  // appended to "type S { k : Int }"
    std::string message;
    std::string dump;
  } cases[] = {
      {"type error", "p (s : S) ensure e: s.k = x",
       "Error typechecking domain: x not found in declarations", ""},
      {"function without ensures", "p (s : S) f (s : S) : Int g (s : S) : Int ensure e: Result = 1",
       "Cannot process function ensures: []",
       upToFunctions(p) +
           "(define g::(-> S_ref (-> int int)))\n(define f::(-> S_ref (-> int int)))\n"
           "(assert (= g (lambda (s::S_ref)(lambda (idx::int)1))))\n"},
      {"function ensures not of the form Result = e",
       "p (s : S) f (s : S) : Int ensure e: 1 = Result",
       "Cannot process function ensures: [BinOpExpr (RelOp Eq notype) (LitInt 1) (ResultVar "
       "Int) Bool]",
       upToFunctions(p) + "(define f::(-> S_ref (-> int int)))\n"},
      {"Result on the right of a parameterless function's Result =",
       "p (s : S) f () : Int ensure e: Result = Result", "exprY: Result cannot be translated here",
       upToFunctions(p) + "(define f::(-> int int))\n"},
      {"Result in a procedure clause", "p (s : S) ensure e: Result = Result",
       "exprY: Result cannot be translated here", upToFunctions(p)},
      {"Result in a parameterless procedure, after an earlier procedure's definition",
       "q () ensure e: Result = Result p (s : S)", "exprY: Result cannot be translated here",
       upToFunctions("p_tag q_tag") +
           "(define p::(-> S_ref (-> int bool)) (lambda (s::S_ref)(lambda (idx::int)(and "
           "(all-frames (lambda (obj::ALL_ref idx::int)(and (or (= obj (S_ref_wrap s))) (if "
           "(S_ref_wrap? obj) (and (= (k (S_ref_unwrap obj) idx) (k (S_ref_unwrap obj) (+ idx "
           "1)))) true))) idx) (= (tag_array idx) p_tag)))))\n"},
      {"null compared with an integer", "p (s : S) require r: s.k = null",
       "nullValue: null of type Int has no solver value", upToFunctions(p)},
      {"parameter named idx", "p (s : S, idx : Int) ensure e: s.k = idx",
       "Procedure p: parameter name idx is reserved by the encoding; rename the parameter",
       upToFunctions(p)},
      {"parameter named obj", "p (obj : S) ensure e: obj.k = 1",
       "Procedure p: parameter name obj is reserved by the encoding; rename the parameter",
       upToFunctions(p)},
      {"parameter named like the null of a structure", "p (s : S, null_S : S) require r: s /= null",
       "Procedure p: parameter name null_S is reserved by the encoding; rename the parameter",
       upToFunctions(p)},
      {"function parameter named idx", "p (s : S) f (idx : Int) : Int ensure e: Result = idx",
       "Function f: parameter name idx is reserved by the encoding; rename the parameter",
       upToFunctions(p) + "(define f::(-> int (-> int int)))\n"},
      {"structure parameter with type arguments", "p (s : S, l : S[Int]) ensure e: s.k = 1",
       "Procedure p: parameter l has type S[Int], and a parameter of a structure type with "
       "type arguments has no argument selector",
       head(p)},
  };
  for (const auto& c : cases) {
    const std::string dom = path("d");
    const std::string text = std::string("type S { k : Int } ") + c.items;
    writeFile(dom, text);
    const ast::Domain parsed = parseDomainText(dom, text);
    try {
      generateDomain(parsed, dom, path("s"));
      ADD_FAILURE() << c.what << ": no failure";
    } catch (const Fatal& e) {
      EXPECT_EQ(e.message, c.message) << c.what;
    }
    EXPECT_EQ(slurp(dom + ".lisp"), c.dump) << c.what;
    EXPECT_FALSE(fs::exists(path("s.lisp"))) << c.what;
  }
}

// Each goal fails while its setup commands are produced; the dump keeps the definitions and
// the initial conditions before the failing one.
TEST_F(DumpTest, FailingGoalsLeaveTheirPrefix) {
  const std::string dom = path("d"), ser = path("s");
  writeFile(dom, "type S { k : Int }");
  const ast::Domain d = parseDomainText(dom, slurp(dom));
  const struct {
    const char* what;
    const char* goal;
    std::string message;
    std::string dump;
  } cases[] = {
      {"type error: the checker's bare message", "x : S\nx.k = 1\ny.k = 2\nx.k = 3\n@ 1\n-> True",
       "y not found in declarations", "(define x::S_ref)\n(assert (= (k x 0) 1))\n"},
      {"Result in an initial condition", "x : S\nn : Int\nResult = Result\n@ 1\n-> True",
       "exprY: Result cannot be translated here", "(define x::S_ref)\n(define n::int)\n"},
      {"null compared with an integer", "x : S\nx.k = null\n@ 1\n-> True",
       "nullValue: null of type Int has no solver value", "(define x::S_ref)\n"},
  };
  for (const auto& c : cases) {
    auto parsed = parseSerialGoal(ser, c.goal);
    ASSERT_TRUE(parsed.ok) << c.what;
    try {
      generateGoal(d, parsed.value, dom, ser);
      ADD_FAILURE() << c.what << ": no failure";
    } catch (const Fatal& e) {
      EXPECT_EQ(e.message, c.message) << c.what;
    }
    EXPECT_EQ(slurp(ser + ".lisp"), c.dump) << c.what;
  }
}

TEST_F(DumpTest, GoalDumpFollowsTheDomain) {
  const std::string dom = path("d"), ser = path("s");
  writeFile(dom, "type S { k : Int }");
  const ast::Domain d = parseDomainText(dom, slurp(dom));
  auto parsed = parseSerialGoal(ser, "x : S\ny : S\nx.k = 3\n@ 1\n-> x.k = 4\n");
  ASSERT_TRUE(parsed.ok);
  const SerialGoal& g = parsed.value;
  auto text = generateGoal(d, g, dom, ser);
  const std::string expected = "(define x::S_ref)\n(define y::S_ref)\n(assert (= (k x 0) 3))\n";
  EXPECT_EQ(slurp(ser + ".lisp"), expected);
  EXPECT_EQ(text.str(), expected);
}

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// `vorlax d d.lisp` and `vorlax d.lisp d` would otherwise overwrite an input file with a dump;
// so would a dump name that is a link to an input. The run ends before any dump is created.
TEST_F(DumpTest, DumpNeverOverwritesAnInput) {
  const ast::Domain empty;
  const SerialGoal goal{{}, {}, 1, ast::mk(ast::LitBool{true})};
  const struct {
    const char* what;
    std::string domainFile, serialFile;
    std::string clobbered;  // the input a dump would replace
    bool goalDumpClobbers;
  } cases[] = {
      {"domain dump is the serialization file", "d", "d.lisp", "d.lisp", false},
      {"serialization dump is the domain file", "d.lisp", "d", "d.lisp", true},
      {"serialization dump is a link to the domain file", "dom", "ser", "dom", true},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string dom = path(c.domainFile), ser = path(c.serialFile);
    writeFile(dom, "domain text");
    writeFile(ser, "serialization text");
    if (c.domainFile == "dom") fs::create_symlink(dom, ser + ".lisp");
    const auto before = slurp(path(c.clobbered));
    const auto files = listing(dir);

    try {
      generateDomain(empty, dom, ser);
      ADD_FAILURE() << c.what << ": no failure";
    } catch (const Fatal& e) {
      EXPECT_NE(e.message.find(" would overwrite the input file " + path(c.clobbered)),
                std::string::npos)
          << c.what << ": " << e.message;
    }
    EXPECT_EQ(slurp(path(c.clobbered)), before) << c.what;
    EXPECT_EQ(listing(dir), files) << c.what << ": nothing is written";

    bool failed = false;
    try {
      generateGoal(empty, goal, dom, ser);
    } catch (const Fatal&) {
      failed = true;
    }
    EXPECT_EQ(failed, c.goalDumpClobbers) << c.what;
    EXPECT_EQ(slurp(path(c.clobbered)), before) << c.what;
  }
}

}  // namespace
}  // namespace vorlax
