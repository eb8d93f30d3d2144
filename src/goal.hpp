// The serialization file: goal variables, initial conditions, step bound and goal.
#pragma once
#include <gmpxx.h>

#include <vector>

#include "ast.hpp"
#include "types.hpp"

namespace vorlax {

struct SerialGoal {
  std::vector<Decl> vars;             // goal variables, file order
  std::vector<ast::ExprP> values;     // initial conditions, file order
  mpz_class goalSteps;                // step bound, any sign
  ast::ExprP goalExpr;                // goal condition
};

}  // namespace vorlax
