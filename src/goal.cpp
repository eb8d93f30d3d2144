#include "goal.hpp"

#include <sstream>

#include "parser.hpp"
#include "parser_basic.hpp"

namespace vorlax {

using parsing::Out;
using parsing::Seq;
using parsing::State;

void showSerialGoal(std::ostream& os, const SerialGoal& g, int prec) {
  if (prec >= kAppPrec) os << '(';
  os << "SerialGoal {vars = ";
  showDeclList(os, g.vars);
  os << ", values = ";
  ast::showExprList(os, g.values);
  os << ", goalSteps = " << g.goalSteps.get_str() << ", goalExpr = ";
  ast::showExpr(os, *g.goalExpr);
  os << '}';
  if (prec >= kAppPrec) os << ')';
}

std::string showSerialGoal(const SerialGoal& g, int prec) {
  std::ostringstream os;
  showSerialGoal(os, g, prec);
  return os.str();
}

namespace {

Out goalDecl(State& st, Decl& out) { return parsing::attempt(st, out, parser::decl); }

}  // namespace

Out serialGoal(State& st, SerialGoal& out) {
  Seq s(st);
  if (!s(lexer::whiteSpace) || !s.step(parsing::many(st, out.vars, goalDecl)) ||
      !s.step(parsing::many(st, out.values, parser::expr)) || !s(lexer::ReservedOp{"@"}) ||
      !s(lexer::integer, out.goalSteps) || !s(lexer::ReservedOp{"->"}) || !s(parser::expr, out.goalExpr))
    return s.fail();
  return s.ok();
}

parsing::Result<SerialGoal> parseSerialGoal(std::string_view source, std::string_view text) {
  parser::SharedLeaves shared;
  return parsing::runParser(parser::wholeFile(serialGoal), source, text, parser::kMaxNesting);
}

}  // namespace vorlax
