// The domain encoding: the ordered solver commands that declare procedure tags, object
// universes, argument selectors, field functions, frames, functions, one transition
// predicate per procedure and the disjunction "actions".
#pragma once
#include "ast.hpp"
#include "yices.hpp"

namespace vorlax {

// Type-checks the domain ("Error typechecking domain: " on failure, before any command),
// then hands the commands to `emit` one at a time, in order. A failure in one command ends
// the run after every earlier command has been emitted.
void procDom(const ast::Domain& dom, const CmdSink& emit);

}  // namespace vorlax
