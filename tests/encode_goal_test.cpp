// Goal-setup commands, step assertions and goal assertions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fatal.hpp"
#include "goal_serial.hpp"
#include "tree_support.hpp"

namespace vorlax {
namespace {

using namespace testing_support;

namespace y = yices;
using ast::ExprP;


// type Account { balance : Int }
ast::Domain accountDomain() {
  ast::Domain d;
  d.domStructs.push_back({"Account", {{"balance", IntType{}}}});
  return d;
}

std::vector<std::string> setup(const ast::Domain& d, const SerialGoal& g) {
  std::vector<std::string> out;
  goalSetup(d, g, [&](const y::CmdY& c) { out.push_back(y::showCmdY(c)); });
  return out;
}

const ExprP accBalance = acc(var("acc"), "balance");

TEST(GoalSetup, DefinitionsThenInitialConditionsAtStepZero) {
  SerialGoal g;
  g.vars = {{"acc", structType("Account")}, {"n", IntType{}}, {"b", BoolType{}},
            {"r", DoubleType{}}, {"n", BoolType{}}};
  g.values = {eq(accBalance, lit(0)), eq(old(accBalance), var("n")), eq(add(var("n"), lit(1)), lit(2))};
  g.goalSteps = 5;
  g.goalExpr = eq(accBalance, lit(10));
  EXPECT_EQ(setup(accountDomain(), g),
            (std::vector<std::string>{
                "(define acc::Account_ref)", "(define n::int)", "(define b::bool)",
                "(define r::real)", "(define n::bool)",
                "(assert (= (balance acc 0) 0))",
                // old means step 0 as well; the repeated n is typed by its first declaration
                "(assert (= (balance acc 0) n))", "(assert (= (+ n 1) 2))"}));
}

TEST(GoalSetup, EmptyGoalGivesNoCommands) {
  SerialGoal g;
  g.goalExpr = lit(1);
  EXPECT_TRUE(setup(accountDomain(), g).empty());
}

TEST(GoalSetup, TypeErrorEndsAfterEarlierCommands) {
  SerialGoal g;
  g.vars = {{"acc", structType("Account")}};
  g.values = {eq(accBalance, lit(0)), eq(var("missing"), lit(0)), eq(accBalance, lit(1))};
  g.goalExpr = lit(1);
  std::vector<std::string> out;
  try {
    goalSetup(accountDomain(), g, [&](const y::CmdY& c) { out.push_back(y::showCmdY(c)); });
    ADD_FAILURE() << "expected a type error";
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message, "missing not found in declarations");
  }
  EXPECT_EQ(out, (std::vector<std::string>{"(define acc::Account_ref)",
                                           "(assert (= (balance acc 0) 0))"}));
}

TEST(GoalAction, StepIndexInDecimal) {
  EXPECT_EQ(y::showCmdY(goalAction(0)), "(assert (actions all-frames 0))");
  EXPECT_EQ(y::showCmdY(goalAction(mpz_class("123456789012345678901234567890"))),
            "(assert (actions all-frames 123456789012345678901234567890))");
}

TEST(GoalAssert, GoalAtStepNAndOldAtStepZero) {
  SerialGoal g;
  g.vars = {{"acc", structType("Account")}};
  g.goalExpr = eq(accBalance, add(old(accBalance), lit(10)));
  EXPECT_EQ(y::showCmdY(goalAssert(accountDomain(), g, 2)),
            "(assert (= (balance acc 2) (+ (balance acc 0) 10)))");
  EXPECT_EQ(y::showCmdY(goalAssert(accountDomain(), g, mpz_class("18446744073709551617"))),
            "(assert (= (balance acc 18446744073709551617) (+ (balance acc 0) 10)))");
}

TEST(GoalAssert, Failures) {
  const struct {
    const char* what;
    ExprP goal;
    const char* prefix;  // the whole message for type errors
    bool exact;
  } cases[] = {
      {"undeclared name: the bare checker message", eq(var("x"), lit(1)),
       "x not found in declarations", true},
      {"Result types to notype but cannot be translated",
       eq(ast::mk(ast::ResultVar{}), ast::mk(ast::ResultVar{})), "exprY", false},
  };
  for (const auto& c : cases) {
    SerialGoal g;
    g.vars = {{"acc", structType("Account")}};
    g.goalExpr = c.goal;
    try {
      goalAssert(accountDomain(), g, 1);
      ADD_FAILURE() << c.what;
    } catch (const Fatal& e) {
      if (c.exact)
        EXPECT_EQ(e.message, c.prefix) << c.what;
      else
        EXPECT_EQ(e.message.rfind(c.prefix, 0), 0u) << c.what << ": " << e.message;
    }
  }
}

TEST(Conditions, MustBeOfTypeBool) {
  // A condition of another type would reach the solver as an assertion it must refuse.
  struct Case {
    std::vector<ExprP> values;
    ExprP goal;
    std::string want;
  };
  const Case cases[] = {
      {{accBalance}, nullptr, "initial condition 1 has type Int, not Bool"},
      {{eq(accBalance, lit(0)), add(accBalance, lit(1))}, nullptr, "initial condition 2 has type Int, not Bool"},
      {{}, lit(1), "the goal has type Int, not Bool"},
      {{}, add(old(accBalance), lit(10)), "the goal has type Int, not Bool"},
      {{eq(accBalance, lit(0))}, eq(accBalance, lit(1)), ""},
  };
  for (const Case& c : cases) {
    SerialGoal g;
    g.vars = {{"acc", structType("Account")}};
    g.values = c.values;
    g.goalExpr = c.goal;
    std::string got;
    try {
      goalSetup(accountDomain(), g, [](const y::CmdY&) {});
      if (c.goal) goalAssert(accountDomain(), g, 1);
    } catch (const Fatal& e) {
      got = e.message;
    }
    EXPECT_EQ(got, c.want);
  }
}

}  // namespace
}  // namespace vorlax
