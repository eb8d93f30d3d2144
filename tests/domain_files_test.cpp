#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ast.hpp"
#include "domain_support.hpp"
#include "goal.hpp"
#include "parser.hpp"

using namespace vorlax;
using testing_support::outcome;

namespace {

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(VORLAX_FIXTURES) + "/domain/" + name, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

std::string domText(const ast::Domain& d) { return ast::showDomain(d); }
std::string goalText(const SerialGoal& g) { return showSerialGoal(g); }

std::string parseDom(const std::string& text) { return outcome(parser::domain, text, domText); }
std::string parseGoal(const std::string& text) { return outcome(serialGoal, text, goalText); }

std::string procs(const std::string& text) {
  auto r = parser::parseDomain("t", text);
  if (!r.ok) return "error";
  std::string out;
  for (const auto& s : r.value.domStructs) out += "s:" + s.structName + " ";
  for (const auto& p : r.value.domProcs) out += "p:" + p.prcdName + " ";
  for (const auto& p : r.value.domFuncs) out += "f:" + p.prcdName + " ";
  return out;
}

struct Case {
  std::string input, want;
};

const std::string kEmpty = "Domain {domStructs = [], domProcs = [], domFuncs = []}";

}  // namespace

TEST(DomainFile, Items) {
  const Case cases[] = {
      {"", "ok " + kEmpty + " | "},
      {"  -- only a comment\n{- and a block -}\n", "ok " + kEmpty + " | "},
      {"type S { }", "ok Domain {domStructs = [Struct {structName = \"S\", structDecls = []}], domProcs = [], domFuncs = []} | "},
      {"type S { a: Int b: Bool }",
       "ok Domain {domStructs = [Struct {structName = \"S\", structDecls = [a: Int,b: Bool]}], domProcs = [], domFuncs = []} | "},
      {"f()", "ok Domain {domStructs = [], domProcs = [Procedure {prcdName = \"f\", prcdArgs = [], prcdResult = notype, "
              "prcdReq = [], prcdEns = []}], domFuncs = []} | "},
      {"f(a: Int) require", "ok Domain {domStructs = [], domProcs = [Procedure {prcdName = \"f\", prcdArgs = [a: Int], "
                            "prcdResult = notype, prcdReq = [], prcdEns = []}], domFuncs = []} | "},
      {"g(): Bool ensure e: Result }",
       "ok Domain {domStructs = [], domProcs = [], domFuncs = [Procedure {prcdName = \"g\", prcdArgs = [], prcdResult = "
       "Bool, prcdReq = [], prcdEns = [Clause {clauseName = \"e\", clauseExpr = Result}]}]} | }"},
      // text that cannot begin an item ends the domain silently
      {"f() require (a > 0) junk", "ok Domain {domStructs = [], domProcs = [Procedure {prcdName = \"f\", prcdArgs = [], "
                                   "prcdResult = notype, prcdReq = [], prcdEns = []}], domFuncs = []} | (a > 0) junk"},
      {"f() require r1: x == 0", "ok Domain {domStructs = [], domProcs = [Procedure {prcdName = \"f\", prcdArgs = [], "
                                 "prcdResult = notype, prcdReq = [Clause {clauseName = \"r1\", clauseExpr = x}], "
                                 "prcdEns = []}], domFuncs = []} | == 0"},
      {"f() ensure e: x require r: y", "ok Domain {domStructs = [], domProcs = [Procedure {prcdName = \"f\", prcdArgs = "
                                       "[], prcdResult = notype, prcdReq = [], prcdEns = [Clause {clauseName = \"e\", "
                                       "clauseExpr = x}]}], domFuncs = []} | require r: y"},
  };
  for (const auto& c : cases) EXPECT_EQ(parseDom(c.input), c.want) << c.input;
}

TEST(DomainFile, Errors) {
  const Case cases[] = {
      {"type S { a: Int, b: Bool }", "error \"t\" (line 1, column 16):\nunexpected \",\"\nexpecting identifier or \"}\""},
      {"f(a: Int b: Int)", "error \"t\" (line 1, column 10):\nunexpected \"b\"\nexpecting \",\" or \")\""},
      {"f() require a > 0", "error \"t\" (line 1, column 15):\nunexpected \">\"\nexpecting \"(\""},
      {"type S { a :: Int }", "error \"t\" (line 1, column 12):\nunexpected ':'\nexpecting end of \":\""},
      {"type { }", "error \"t\" (line 1, column 6):\nunexpected \"{\"\nexpecting identifier"},
      {"type S a: Int", "error \"t\" (line 1, column 8):\nunexpected \"a\"\nexpecting \"{\""},
      {"f(a: Void)", "error \"t\" (line 1, column 6):\nunexpected reserved word \"Void\"\nexpecting \"Int\", \"Bool\", "
                     "\"Double\" or letter or digit"},
      {"type S {- never closed", "error \"t\" (line 1, column 23):\nunexpected end of input\nexpecting end of comment"},
      {"f()\r\n\tx", "error \"t\" (line 2, column 10):\nunexpected end of input\nexpecting letter or digit or \"(\""},
  };
  for (const auto& c : cases) EXPECT_EQ(parseDom(c.input), c.want) << c.input;
}

TEST(DomainFile, ListsInReverseFileOrder) {
  EXPECT_EQ(procs(fixture("order.dom")), "s:s1 p:p2 p:p1 f:f1 ");
  EXPECT_EQ(procs("p() p(a: Int)"), "p:p p:p ");
  auto r = parser::parseDomain("t", "p() p(a: Int)");
  EXPECT_EQ(findProcUnsafe(r.value, "p").prcdArgs.size(), 1u);
  // the broken clause is abandoned; its name then starts a new item
  EXPECT_EQ(outcome(parser::domain, fixture("broken_clause.dom"), domText),
            "error \"t\" (line 4, column 7):\nunexpected \":\"\nexpecting letter or digit or \"(\"");
}

TEST(SerialFile, Grammar) {
  const Case cases[] = {
      {"@ 0 -> True", "ok SerialGoal {vars = [], values = [], goalSteps = 0, goalExpr = True} | "},
      {"a : S\na.v = 0\n@ 5\n-> a.v = 10 }",
       "ok SerialGoal {vars = [a: S], values = [(a.v) RelOp Eq notype (0)], goalSteps = 5, goalExpr = (a.v) RelOp Eq "
       "notype (10)} | }"},
      {"@ -3 -> x", "ok SerialGoal {vars = [], values = [], goalSteps = -3, goalExpr = x} | "},
      {"@ 0x10 -> x", "ok SerialGoal {vars = [], values = [], goalSteps = 16, goalExpr = x} | "},
      {"@ 123456789012345678901234567890 -> x",
       "ok SerialGoal {vars = [], values = [], goalSteps = 123456789012345678901234567890, goalExpr = x} | "},
      {"a: Int b: L[Int] c > 0 d @ 1 -> e",
       "ok SerialGoal {vars = [a: Int,b: L[Int]], values = [(c) RelOp Gt notype (0),d], goalSteps = 1, goalExpr = e} | "},
      {"x > 0\n-y < 5\n@ 1 -> x",
       "ok SerialGoal {vars = [], values = [((x) RelOp Gt notype ((0) Sub (y))) RelOp Lt notype (5)], goalSteps = 1, "
       "goalExpr = x} | "},
      {"b = a\n(c = 2)\n@ 1 -> x",
       "ok SerialGoal {vars = [], values = [(b) RelOp Eq notype (a((c) RelOp Eq notype (2)))], goalSteps = 1, goalExpr = "
       "x} | "},
      {"@-3 -> x", "error \"t\" (line 1, column 1):\nunexpected '-'\nexpecting identifier, integer, \"null\", \"True\", "
                   "\"False\", \"Result\", \"(\" or end of \"@\""},
      {"@ 5.0 -> x", "error \"t\" (line 1, column 4):\nunexpected \".\"\nexpecting digit or \"->\""},
      // the repetition of conditions keeps only the error of its last attempt
      {"x, y : Int", "error \"t\" (line 1, column 2):\nunexpected \",\"\nexpecting integer, \"null\", \"True\", \"False\", "
                     "\"Result\", identifier, \"(\" or \"@\""},
      {"x : 5", "error \"t\" (line 1, column 3):\nunexpected \":\"\nexpecting integer, \"null\", \"True\", \"False\", "
                "\"Result\", identifier, \"(\" or \"@\""},
      {"c\nd : Int", "error \"t\" (line 2, column 3):\nunexpected \":\"\nexpecting integer, \"null\", \"True\", "
                     "\"False\", \"Result\", identifier, \"(\" or \"@\""},
      {"", "error \"t\" (line 1, column 1):\nunexpected end of input\nexpecting identifier, integer, \"null\", "
           "\"True\", \"False\", \"Result\", \"(\" or \"@\""},
      {"@ 1 ->", "error \"t\" (line 1, column 7):\nunexpected end of input\nexpecting end of \"->\", integer, \"null\", "
                 "\"True\", \"False\", \"Result\", identifier or \"(\""},
  };
  for (const auto& c : cases) EXPECT_EQ(parseGoal(c.input), c.want) << c.input;
}

// Whatever the grammar of a file cannot read is an error at the first character it could
// not read, not text that is dropped: slips that would otherwise lose clauses or items.
TEST(WholeFiles, TrailingTextIsAParseError) {
  const std::string counter = "type C { v : Int }\ninc (c : C)\n";
  const std::string items = "expecting \"type\", identifier or end of input";
  const Case domains[] = {
      {counter + "  require (c.v < 10)\n", "(line 3, column 11):\nunexpected '('\n" + items},
      {counter + "  require { r: c.v < 10 }\n", "(line 3, column 11):\nunexpected '{'\n" + items},
      {"type C { v : Int }\ninc (c : C) {\n  require r: c.v < 10\n}\n",
       "(line 2, column 13):\nunexpected '{'\n" + items},
      {counter + "  require r: c.v < 10;\n  ensure e: c.v = 1\n", "(line 3, column 22):\nunexpected ';'\n" + items},
      {counter + "  ensure e: c.v = 1\n  require r: c.v < 10\n",
       "(line 4, column 3):\nunexpected reserved word \"require\" or 'r'\n"
       "expecting \"type\", letter or digit or end of input"},
      {counter + "  require r: c.v == 10\n", "(line 3, column 18):\nunexpected '='\n" + items},
      {"# a comment\n" + counter, "(line 1, column 1):\nunexpected '#'\n" + items},
      {"// a comment\n" + counter, "(line 1, column 1):\nunexpected '/'\n" + items},
      // white space and comments may follow the last item
      {counter + "-- the end\n{- and a {- nested -} block -}\n  \n", "ok"},
  };
  for (const Case& c : domains) {
    auto r = parser::parseDomain("d.dom", c.input);
    EXPECT_EQ(r.ok ? "ok" : parsing::showParseFailure(r.failure),
              c.want == "ok" ? c.want : "\"d.dom\" " + c.want)
        << c.input;
  }
  const std::string relations = "operator, \"<=\", \"<\", \"=\", \"/=\", \">\", \">=\" or end of input";
  const Case goals[] = {
      {"c : C\n@ 1\n-> c.v = 1;\n", "(line 3, column 11):\nunexpected ';'\nexpecting digit, " + relations},
      {"c : C\n@ 1\n-> c.v = 1\n-> c.v = 2\n", "(line 4, column 1):\nunexpected '>' or '-'\nexpecting " + relations},
      {"c : C\n@ 1\n-> c.v = 1 c.v = 2\n", "(line 3, column 12):\nunexpected 'c'\nexpecting " + relations},
      {"c : C\n@ 1\n-> c.v = 1 -- done\n{- end -}\n", "ok"},
  };
  for (const Case& c : goals) {
    auto r = parseSerialGoal("g.ser", c.input);
    EXPECT_EQ(r.ok ? "ok" : parsing::showParseFailure(r.failure),
              c.want == "ok" ? c.want : "\"g.ser\" " + c.want)
        << c.input;
  }
}
