#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fatal.hpp"
#include "script.hpp"
#include "tree_support.hpp"

using namespace vorlax;
using namespace vorlax::yices;

namespace {

using vorlax::testing_support::proc;

ExpYP var(const std::string& n) { return mkE(VarE{n}); }
ExpYP lit(long v) { return mkE(LitI{mpz_class(v)}); }
ExpYP app(const std::string& f, std::vector<ExpYP> args) {
  return mkE(APP{var(f), std::move(args)});
}
ExpYP eq(ExpYP a, ExpYP b) { return mkE(EQ{std::move(a), std::move(b)}); }
ExpYP tag(long step, const std::string& proc) {
  return eq(app("tag_array", {lit(step)}), var(proc + "_tag"));
}
ExpYP arg(const std::string& sel, long index, long step, ExpYP value) {
  return eq(app(sel, {lit(index), lit(step)}), std::move(value));
}

Type account() { return structType("Account"); }


// Procedures in reverse file order, as the parser leaves them.
ast::Domain bankDomain() {
  ast::Domain d;
  d.domStructs = {Struct{"Acc", {}}, Struct{"Account", {Decl{"balance", IntType{}}}}};
  d.domProcs = {
      proc("useAccount", {Decl{"y", account()}}),
      proc("useAcc", {Decl{"x", structType("Acc")}}),
      proc("push", {Decl{"l", structType("List", {IntType{}})}}),
      proc("flags", {Decl{"b", BoolType{}}, Decl{"d", DoubleType{}}}),
      proc("transfer", {Decl{"from", account()}, Decl{"to", account()}, Decl{"amt", IntType{}}}),
      proc("reset", {}),
      proc("deposit", {Decl{"a", account()}, Decl{"n", IntType{}}}),
  };
  return d;
}

SerialGoal goalWith(std::vector<std::string> names) {
  SerialGoal g;
  for (auto& n : names) g.vars.push_back(Decl{n, account()});
  return g;
}

struct ScriptCase {
  const char* name;
  std::vector<std::string> goalVars;
  std::vector<ExpYP> model;
  std::string script;
};

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }

class Script : public testing::TestWithParam<ScriptCase> {};

TEST_P(Script, Reconstructs) {
  const ScriptCase& c = GetParam();
  EXPECT_EQ(generateScript(goalWith(c.goalVars), bankDomain(), c.model), c.script);
}

INSTANTIATE_TEST_SUITE_P(
    Models, Script,
    testing::Values(
        ScriptCase{"DepositThenReset",
                   {"acc"},
                   {eq(var("acc"), var("Account_obj1")), tag(0, "deposit"),
                    arg("Account_arg", 1, 0, var("Account_obj1")), arg("Int_arg", 2, 0, lit(10)),
                    eq(var("reset_tag"), app("tag_array", {lit(1)}))},
                   "deposit (acc,10)\nreset ()\n"},
        ScriptCase{"EmptyModel", {"acc"}, {}, ""},
        ScriptCase{"NoTagEntries",
                   {"acc"},
                   {eq(var("acc"), var("Account_obj1")), arg("Int_arg", 2, 0, lit(10)),
                    eq(app("balance", {var("Account_obj1"), lit(0)}), lit(3))},
                   ""},
        ScriptCase{"StepsInNumericOrderWithGaps",
                   {},
                   {tag(10, "reset"), tag(-1, "deposit"), tag(2, "transfer"), tag(9, "reset"),
                    arg("Int_arg", 2, -1, lit(1)), arg("Account_arg", 1, -1, var("a1")),
                    arg("Int_arg", 3, 2, lit(7)), arg("Account_arg", 2, 2, var("a3")),
                    arg("Account_arg", 1, 2, var("a2"))},
                   "deposit (a1,1)\ntransfer (a2,a3,7)\nreset ()\nreset ()\n"},
        ScriptCase{"SidesInEitherOrder",
                   {"acc"},
                   {eq(var("deposit_tag"), app("tag_array", {lit(0)})),
                    eq(lit(5), app("Int_arg", {lit(2), lit(0)})),
                    eq(var("Account_obj2"), app("Account_arg", {lit(1), lit(0)})),
                    eq(var("Account_obj2"), var("acc"))},
                   "deposit (acc,5)\n"},
        ScriptCase{"FirstEntryWins",
                   {"acc", "other"},
                   {tag(0, "deposit"), tag(0, "reset"), arg("Int_arg", 2, 0, lit(1)),
                    arg("Int_arg", 2, 0, lit(2)), eq(var("acc"), var("o1")),
                    eq(var("other"), var("o1")), arg("Account_arg", 1, 0, var("o1"))},
                   "deposit (acc,1)\n"},
        ScriptCase{"UnboundObjectsKeepSolverNames",
                   {"acc"},
                   {tag(0, "transfer"), arg("Account_arg", 1, 0, var("null_Account")),
                    arg("Account_arg", 2, 0, var("Account_obj4")), arg("Int_arg", 3, 0, lit(-3)),
                    // identifiers tied to each other or to literals bind nothing
                    eq(var("Account_obj4"), var("null_Account")), eq(var("null_Account"), lit(0))},
                   "transfer (null_Account,Account_obj4,-3)\n"},
        ScriptCase{"LiteralValuesInSolverText",
                   {},
                   {tag(0, "flags"), arg("Bool_arg", 1, 0, mkE(LitB{true})),
                    arg("Double_arg", 2, 0, mkE(LitR{Ratio::make(2, 4)}))},
                   "flags (true,1/2)\n"},
        ScriptCase{"IndexGapClosesUp",
                   {},
                   {tag(0, "transfer"), arg("Int_arg", 3, 0, lit(9)),
                    arg("Account_arg", 1, 0, var("o1"))},
                   "transfer (o1,9)\n"},
        ScriptCase{"IndexBeyondParametersIgnored",
                   {},
                   {tag(0, "deposit"), arg("Account_arg", 1, 0, var("o1")),
                    arg("Int_arg", 2, 0, lit(4)), arg("Int_arg", 3, 0, lit(8)),
                    arg("Int_arg", 1, 1, lit(8)), tag(1, "reset")},
                   "deposit (o1,4)\nreset ()\n"},
        ScriptCase{"EntriesWithTwoOrNoArgumentSidesIgnored",
                   {},
                   {tag(0, "deposit"), eq(app("Int_arg", {lit(2), lit(0)}), app("Int_arg", {lit(2), lit(0)})),
                    eq(app("Int_arg", {lit(2)}), lit(1)), eq(app("Int_arg", {lit(2), var("k")}), lit(1)),
                    arg("Account_arg", 1, 0, var("o1")), arg("Int_arg", 2, 0, lit(6))},
                   "deposit (o1,6)\n"},
        ScriptCase{"MalformedTagEntriesIgnored",
                   {},
                   {eq(app("tag_array", {lit(0), lit(1)}), var("deposit_tag")),
                    eq(app("tag_array", {var("i")}), var("deposit_tag")),
                    eq(app("other_array", {lit(0)}), var("deposit_tag")),
                    eq(app("tag_array", {lit(0)}), var("reset")), tag(3, "reset")},
                   "reset ()\n"},
        ScriptCase{"TypeArgumentsInSelectorName",
                   {},
                   {tag(0, "push"), arg("List_arg", 1, 0, var("wrong")),
                    arg("List[Int]_arg", 1, 0, var("List_obj1"))},
                   "push (List_obj1)\n"},
        // Every selector family appears at every step: a selector that only starts with the
        // parameter's type name must not be taken for it.
        ScriptCase{"SelectorNameMustMatchTypeExactly",
                   {"mine"},
                   {tag(0, "useAcc"), tag(1, "useAccount"),
                    arg("Account_arg", 1, 0, var("Account_obj3")),
                    arg("Acc_arg", 1, 0, var("Acc_obj1")),
                    arg("Accounts_arg", 1, 1, var("Account_obj2")),
                    arg("Account_argx", 1, 1, var("Account_obj2")),
                    arg("Account_arg", 1, 1, var("Account_obj1")),
                    eq(var("Acc_obj1"), var("mine"))},
                   "useAcc (mine)\nuseAccount (Account_obj1)\n"}),
    [](const testing::TestParamInfo<ScriptCase>& i) { return std::string(i.param.name); });

struct FailCase {
  const char* name;
  std::vector<ExpYP> model;
  std::string message;  // exact, or a required part when `partial`
  bool partial = false;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class ScriptFailure : public testing::TestWithParam<FailCase> {};

TEST_P(ScriptFailure, IsFatal) {
  const FailCase& c = GetParam();
  try {
    std::string s = generateScript(goalWith({"acc"}), bankDomain(), c.model);
    FAIL() << "no failure, script: " << s;
  } catch (const Fatal& f) {
    if (c.partial)
      EXPECT_NE(f.message.find(c.message), std::string::npos) << f.message;
    else
      EXPECT_EQ(f.message, c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, ScriptFailure,
    testing::Values(
        FailCase{"EntryNotAnEquation", {tag(0, "reset"), var("x")}, "inspectTag", true},
        // the tag map is complete before any argument entry is looked at
        FailCase{"NonEquationBeforeArgumentFailure",
                 {tag(0, "deposit"), arg("Int_arg", 2, 7, lit(1)),
                  mkE(NEQ{var("a"), var("b")})},
                 "inspectTag",
                 true},
        FailCase{"ArgumentStepWithoutTag",
                 {tag(0, "deposit"), arg("Int_arg", 2, 5, lit(1))},
                 "Map.find: element not in the map"},
        FailCase{"ArgumentStepProcedureUnknown",
                 {tag(0, "deposit"), tag(1, "ghost"), arg("Int_arg", 1, 1, lit(3))},
                 "findProcUnsafe",
                 true},
        FailCase{"ArgumentIndexZero",
                 {tag(0, "deposit"), arg("Int_arg", 0, 0, lit(3))},
                 "Prelude.(!!): negative index"},
        FailCase{"ArgumentIndexNegative",
                 {tag(0, "deposit"), arg("Int_arg", -2, 0, lit(3))},
                 "Prelude.(!!): negative index"},
        FailCase{"TagProcedureUnknown", {tag(0, "reset"), tag(1, "ghost")}, "no proc ghost found"},
        FailCase{"StepWithoutArgumentEntries",
                 {tag(0, "reset"), tag(1, "deposit"), arg("Int_arg", 2, 0, lit(1))},
                 "Map.find: element not in the map"}),
    [](const testing::TestParamInfo<FailCase>& i) { return std::string(i.param.name); });

// The argument map is built only for a line that has arguments, so its failures cannot
// arise in a script of parameterless calls.
TEST(ScriptArgs, NotBuiltWithoutParameters) {
  std::vector<ExpYP> model = {tag(0, "reset"), arg("Int_arg", 1, 9, lit(1)),
                              arg("Int_arg", 0, 0, lit(1))};
  EXPECT_EQ(generateScript(goalWith({}), bankDomain(), model), "reset ()\n");
}

TEST(ScriptArgs, DomainWithoutProceduresFailsOnTheProcedure) {
  ast::Domain empty;
  TagMap tags;
  try {
    buildArgMap(tags, empty, {arg("Int_arg", 1, 0, lit(1))});
    FAIL();
  } catch (const Fatal& f) {
    EXPECT_NE(f.message.find("findProcUnsafe"), std::string::npos) << f.message;
  }
}

}  // namespace
