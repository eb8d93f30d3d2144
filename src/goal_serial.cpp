#include "goal_serial.hpp"

#include "fatal.hpp"

namespace vorlax {

namespace y = yices;

void goalDefs(const SerialGoal& goal, const CmdSink& emit) {
  for (const auto& d : goal.vars)
    emit(y::mkC(y::DEFINE{{d.declName, basicTypeY(d.declType)}, std::nullopt}));
}

y::CmdY assignmentExprs(const ast::Domain& dom, const std::vector<Decl>& decls,
                        const ast::ExprP& e, std::size_t number) {
  const std::string what = "initial condition " + std::to_string(number);
  return y::mkC(y::ASSERT{exprYbefore(*tc::checkCondition(what, decls, dom, e))});
}

void goalInitState(const ast::Domain& dom, const SerialGoal& goal, const CmdSink& emit) {
  for (std::size_t i = 0; i < goal.values.size(); ++i)
    emit(assignmentExprs(dom, goal.vars, goal.values[i], i + 1));
}

void goalSetup(const ast::Domain& dom, const SerialGoal& goal, const CmdSink& emit) {
  goalDefs(goal, emit);
  goalInitState(dom, goal, emit);
}

y::CmdY goalAction(const mpz_class& i) {
  return y::mkC(y::ASSERT{app(varE("actions"), {varE("all-frames"), litI(i)})});
}

y::CmdY goalAssert(const ast::Domain& dom, const SerialGoal& goal, const mpz_class& n) {
  return y::mkC(y::ASSERT{exprYgoal(n, *tc::checkCondition("the goal", goal.vars, dom, goal.goalExpr))});
}

y::ExpYP exprYbefore(const tc::TExpr& e) {
  const auto zero = litI(0);
  return exprY(zero, zero, e);
}

y::ExpYP exprYgoal(const mpz_class& n, const tc::TExpr& e) { return exprY(litI(0), litI(n), e); }

}  // namespace vorlax
