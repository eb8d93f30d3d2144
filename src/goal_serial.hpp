// The goal translation: goal-setup commands (goal variables and initial conditions), the
// step assertion of an attempt and the goal assertion of an attempt.
#pragma once
#include <gmpxx.h>

#include <vector>

#include "ast.hpp"
#include "goal.hpp"
#include "yices.hpp"

namespace vorlax {

// goalDefs, then goalInitState, emitted one command at a time.
void goalSetup(const ast::Domain& dom, const SerialGoal& goal, const CmdSink& emit);
// (define v::T) per goal variable, in declaration order.
void goalDefs(const SerialGoal& goal, const CmdSink& emit);
// (assert e) per initial condition, each type-checked with the goal variables in scope and
// translated at step index 0; a type error is fatal with the checker's bare message, and
// so is a condition that is not of type Bool ("initial condition <number> has type ...").
void goalInitState(const ast::Domain& dom, const SerialGoal& goal, const CmdSink& emit);
yices::CmdY assignmentExprs(const ast::Domain& dom, const std::vector<Decl>& decls,
                            const ast::ExprP& e, std::size_t number);

// (assert (actions all-frames i)): some procedure is called at step i.
yices::CmdY goalAction(const mpz_class& i);
// (assert g) with the goal condition g at step index n (inside old: step index 0). Type-checks
// the goal condition each time; a type error is fatal with the checker's bare message, and
// so is a goal that is not of type Bool.
yices::CmdY goalAssert(const ast::Domain& dom, const SerialGoal& goal, const mpz_class& n);

yices::ExpYP exprYbefore(const tc::TExpr& e);
yices::ExpYP exprYgoal(const mpz_class& n, const tc::TExpr& e);

}  // namespace vorlax
