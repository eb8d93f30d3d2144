// The serialization file: goal variables, initial conditions, step bound and goal.
#pragma once
#include <gmpxx.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ast.hpp"
#include "parsing/engine.hpp"
#include "types.hpp"

namespace vorlax {

struct SerialGoal {
  std::vector<Decl> vars;             // goal variables, file order
  std::vector<ast::ExprP> values;     // initial conditions, file order
  mpz_class goalSteps;                // step bound, any sign
  ast::ExprP goalExpr;                // goal condition
};

// Record form: SerialGoal {vars = [a: S], values = [...], goalSteps = 5, goalExpr = ...},
// enclosed in parentheses at level 11 or more. Fatal (accessField) on an access that could
// not be built.
void showSerialGoal(std::ostream& os, const SerialGoal& g, int prec = 0);
std::string showSerialGoal(const SerialGoal& g, int prec = 0);

// The grammar of a serialization file: declarations, conditions, "@" bound, "->" goal.
// parseSerialGoal runs it over a whole file, which must end after the goal.
parsing::Out serialGoal(parsing::State& st, SerialGoal& out);
parsing::Result<SerialGoal> parseSerialGoal(std::string_view source, std::string_view text);

}  // namespace vorlax
