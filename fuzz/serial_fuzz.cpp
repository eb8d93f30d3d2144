// Serialization text against a small fixed domain: parse, its text form, the goal's name
// check, the goal-setup commands, and the step and goal assertions of the first attempts,
// with the text of every command.
#include <sstream>

#include "fuzz_support.hpp"
#include "goal.hpp"
#include "goal_serial.hpp"
#include "math/smt/yices/syntax.hpp"
#include "parser.hpp"
#include "yices.hpp"

namespace {

const vorlax::ast::Domain& fixedDomain() {
  static const vorlax::ast::Domain dom = [] {
    auto r = vorlax::parser::parseDomain("shop.dom", vxfuzz::kShopDomain);
    if (!r.ok) __builtin_trap();
    return r.value;
  }();
  return dom;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vxfuzz::asVorlax([&] {
    const vorlax::ast::Domain& dom = fixedDomain();
    auto goal = vorlax::parseSerialGoal("fuzz.ser", vxfuzz::textOf(data, size));
    std::ostringstream os;
    if (!goal.ok) {
      os << vorlax::parsing::showParseFailure(goal.failure);
      return;
    }
    vorlax::showSerialGoal(os, goal.value, vorlax::kAppPrec);
    auto emit = [&](const vorlax::yices::CmdY& c) {
      vorlax::yices::showCmdY(os, c);
      os << '\n';
    };
    vorlax::checkGoalNames(dom, goal.value.vars, "shop.dom", "fuzz.ser");
    vorlax::goalSetup(dom, goal.value, emit);
    // The commands of the search's first attempts (those below the bound).
    for (long i = 0; i < 3 && goal.value.goalSteps > i; ++i) {
      emit(vorlax::goalAction(mpz_class(i)));
      emit(vorlax::goalAssert(dom, goal.value, mpz_class(i + 1)));
    }
  });
  return 0;
}
