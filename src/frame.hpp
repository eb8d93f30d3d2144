// Frame conditions: which objects and fields a procedure call leaves unchanged.
#pragma once
#include <vector>

#include "math/smt/yices/syntax.hpp"
#include "typecheck.hpp"
#include "types.hpp"

namespace vorlax {

// (all-frames (lambda (obj::ALL_ref idx::int)(and ARGS CHAIN)) idx): every object keeps all
// its fields, except a structure-typed argument of the call, which keeps only the fields of
// its structure that no ensure clause of p accesses. Fields count per structure type; of a
// chain of accesses only the last field counts.
yices::ExpYP actionFrame(const std::vector<Struct>& structs, const tc::Procedure& p);

// (= obj (S_ref_wrap a)) for a parameter a of structure type S, otherwise false.
yices::ExpYP objIsArg(const Decl& d);

}  // namespace vorlax
