// Names that the encoding would give to two declarations: each clash ends the run with
// one message naming both declarations and their files; a domain without a clash passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fatal.hpp"
#include "goal.hpp"
#include "parser.hpp"
#include "yices.hpp"

namespace vorlax {
namespace {

ast::Domain domainOf(const std::string& text) {
  auto r = parser::parseDomain("d.dom", text);
  EXPECT_TRUE(r.ok) << parsing::showParseFailure(r.failure);
  return r.value;
}

// "" when the names pass, otherwise the fatal message.
std::string clashOf(const std::string& dom, const std::string& ser = "") {
  try {
    ast::Domain d = domainOf(dom);
    checkDomainNames(d, "d.dom");
    if (!ser.empty()) {
      auto g = parseSerialGoal("g.ser", ser);
      EXPECT_TRUE(g.ok) << parsing::showParseFailure(g.failure);
      checkGoalNames(d, g.value.vars, "d.dom", "g.ser");
    }
    return "";
  } catch (const Fatal& f) {
    return f.message;
  }
}

std::string clash(const std::string& first, const std::string& second, const std::string& name) {
  return "name clash: " + first + " and " + second + " would both be named " + name +
         " in the solver's input; rename one of them";
}

TEST(EncodedNames, ClashesNameBothDeclarations) {
  struct Case {
    const char* what;
    std::string dom, ser, want;
  };
  const std::string counter = "type C { v : Int }\n";
  const std::vector<Case> cases = {
      {"a field in two structures", "type A { n : Int }\ntype B { n : Int }\n", "",
       clash("field n of structure A (d.dom)", "field n of structure B (d.dom)", "n")},
      {"a field twice in one structure", "type A { n : Int n : Bool }\n", "",
       clash("field n of structure A (d.dom)", "field n of structure A (d.dom)", "n")},
      {"a field named idx", "type A { idx : Int }\n", "",
       clash("a name of the encoding", "field idx of structure A (d.dom)", "idx")},
      {"a field named like a solver word", "type A { select : Int }\n", "",
       clash("a word of the solver's language", "field select of structure A (d.dom)", "select")},
      {"a structure named ALL", "type ALL { n : Int }\n", "",
       clash("a name of the encoding", "structure ALL (d.dom)", "ALL_ref")},
      {"a structure twice", "type A { n : Int }\ntype A { m : Int }\n", "",
       clash("structure A (d.dom)", "structure A (d.dom)", "A_ref")},
      {"a field named like a structure's object", "type A { A_obj1 : Int }\n", "",
       clash("structure A (d.dom)", "field A_obj1 of structure A (d.dom)", "A_obj1")},
      {"a function named like a field", counter + "v (x : Int) : Int\n  ensure r: Result = x\n", "",
       clash("field v of structure C (d.dom)", "function v (d.dom)", "v")},
      {"a parameter named like a field", counter + "inc (c : C, v : Int)\n  ensure e: c.v = v\n", "",
       clash("field v of structure C (d.dom)", "parameter v of procedure inc (d.dom)", "v")},
      {"a parameter named like a function", counter + "f (x : Int) : Int\n  ensure r: Result = x\n"
       "inc (c : C, f : Int)\n  ensure e: c.v = f\n", "",
       clash("function f (d.dom)", "parameter f of procedure inc (d.dom)", "f")},
      {"a parameter twice", counter + "inc (c : C, c : C)\n", "",
       clash("parameter c of procedure inc (d.dom)", "parameter c of procedure inc (d.dom)", "c")},
      {"a parameter named like its own tag", counter + "inc (inc_tag : C)\n", "",
       clash("procedure inc (d.dom)", "parameter inc_tag of procedure inc (d.dom)", "inc_tag")},
      {"a function's parameter named like its own tag", counter + "f (f_tag : Int) : Int\n  ensure r: Result = 1\n", "",
       clash("function f (d.dom)", "parameter f_tag of function f (d.dom)", "f_tag")},
      {"a function's parameter named like a field", counter + "f (v : Int) : Int\n  ensure r: Result = 1\n", "",
       clash("field v of structure C (d.dom)", "parameter v of function f (d.dom)", "v")},
      {"a procedure named like a field", counter + "v (c : C)\n", "",
       clash("field v of structure C (d.dom)", "procedure v (d.dom)", "v")},
      {"a procedure named like another's tag", counter + "a (c : C)\na_tag (c : C)\n", "",
       clash("procedure a (d.dom)", "procedure a_tag (d.dom)", "a_tag")},
      {"a procedure twice", counter + "a (c : C)\na (c : C)\n", "",
       clash("procedure a (d.dom)", "procedure a (d.dom)", "a")},
      {"a procedure named update", counter + "update (c : C)\n", "",
       clash("a word of the solver's language", "procedure update (d.dom)", "update")},
      {"a selector that is declared", counter + "Bool_arg (b : Bool)\n", "",
       clash("a name of the encoding", "procedure Bool_arg (d.dom)", "Bool_arg")},
      {"a goal variable named like a field", counter, "v : C\n@ 1\n-> True\n",
       clash("field v of structure C (d.dom)", "goal variable v (g.ser)", "v")},
      {"a goal variable named like a procedure", counter + "inc (c : C)\n", "inc : C\n@ 1\n-> True\n",
       clash("procedure inc (d.dom)", "goal variable inc (g.ser)", "inc")},
      {"a goal variable twice", counter, "c : C\nc : C\n@ 1\n-> True\n",
       clash("goal variable c (g.ser)", "goal variable c (g.ser)", "c")},
      {"a goal variable named like an object", counter, "C_obj2 : C\n@ 1\n-> True\n",
       clash("structure C (d.dom)", "goal variable C_obj2 (g.ser)", "C_obj2")},
      {"a goal variable named actions", counter, "actions : C\n@ 1\n-> True\n",
       clash("a name of the encoding", "goal variable actions (g.ser)", "actions")},
  };
  for (const Case& c : cases) EXPECT_EQ(clashOf(c.dom, c.ser), c.want) << c.what;
}

TEST(EncodedNames, TypesNameStructuresOfTheDomain) {
  const std::string counter = "type C { v : Int }\n";
  auto unknown = [](const std::string& what, const std::string& type) {
    return what + " has type " + type + ", which is not a structure of the domain";
  };
  struct Case {
    std::string dom, ser, want;
  };
  const Case cases[] = {
      {"type C { v : Int w : Foo }\n", "", unknown("field w of structure C (d.dom)", "Foo")},
      {counter + "inc (c : C, d : Bar)\n", "", unknown("parameter d of procedure inc (d.dom)", "Bar")},
      {counter + "f (x : Int) : Baz\n  ensure r: Result = null\n", "", unknown("function f (d.dom)", "Baz")},
      {counter, "x : Foo\n@ 1\n-> True\n", unknown("goal variable x (g.ser)", "Foo")},
      {counter + "inc (c : C[Int])\n", "x : C\n@ 1\n-> True\n", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(clashOf(c.dom, c.ser), c.want) << c.dom;
}

TEST(EncodedNames, NamesThatDoNotMeetPass) {
  const char* fine[][2] = {
      // a parameter may share its name with another procedure, its tag, or a goal variable
      {"type C { v : Int }\na (c : C)\nb (a : C, a_tag : Int)\n", "c : C\nd : C\n@ 1\n-> True\n"},
      // the same parameter names in two procedures, and a field named like a parameter type
      {"type C { v : Int C : Int }\na (c : C)\nb (c : C)\n", "x : C\n@ 1\n-> True\n"},
      // Bool_arg is a selector only when some procedure takes a Bool
      {"type C { Bool_arg : Int }\na (c : C)\n", "x : C\n@ 1\n-> True\n"},
      // idx, obj and null_S as parameters have a message of their own, later
      {"type C { v : Int }\na (idx : C, obj : C, null_C : C)\n", "x : C\n@ 1\n-> True\n"},
  };
  for (const auto& f : fine) EXPECT_EQ(clashOf(f[0], f[1]), "") << f[0];
}

}  // namespace
}  // namespace vorlax
