// Domain text: parse, its text forms, the type check, and the domain's encoding with the
// text of every command (everything vorlax does with a domain before a solver runs).
#include <sstream>

#include "ast.hpp"
#include "fuzz_support.hpp"
#include "math/smt/yices/syntax.hpp"
#include "parser.hpp"
#include "typecheck.hpp"
#include "yices.hpp"
#include "yices_domain.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vxfuzz::asVorlax([&] {
    auto dom = vorlax::parser::parseDomain("fuzz.dom", vxfuzz::textOf(data, size));
    std::ostringstream os;
    if (!dom.ok) {
      os << vorlax::parsing::showParseFailure(dom.failure);
      return;
    }
    vorlax::ast::showDomain(os, dom.value, vorlax::kAppPrec);
    auto typed = vorlax::tc::typecheckDomain(dom.value);
    if (typed.ok)
      vorlax::showDomainWith(os, typed.value, 0, [](std::ostream& o, const vorlax::tc::TExprP& e) {
        vorlax::tc::showTExpr(o, *e);
      });
    vorlax::checkDomainNames(dom.value, "fuzz.dom");
    vorlax::procDom(dom.value, [&](const vorlax::yices::CmdY& c) {
      vorlax::yices::showCmdY(os, c);
      os << '\n';
    });
  });
  return 0;
}
