// Frame conditions: which objects and fields a procedure call leaves unchanged.
#pragma once
#include <string>
#include <vector>

#include "math/smt/yices/syntax.hpp"
#include "typecheck.hpp"
#include "types.hpp"

namespace vorlax {

// The structures of a domain as frames see them, worked out once for all its procedures: by
// ascending name (the first structure of a name), each one's fields by ascending name (the
// first field of a name) with the equality that keeps the field over a step.
class FrameFields {
 public:
  explicit FrameFields(const std::vector<Struct>& structs);

  struct Field {
    std::string name;
    yices::ExpYP kept;  // (= (f (S_ref_unwrap obj) idx) (f (S_ref_unwrap obj) (+ idx 1)))
  };
  struct Of {
    std::string name;
    std::vector<Field> fields;
  };
  const std::vector<Of>& structs() const { return structs_; }

 private:
  std::vector<Of> structs_;
};

// (all-frames (lambda (obj::ALL_ref idx::int)(and ARGS CHAIN)) idx): every object keeps all
// its fields, except a structure-typed argument of the call, which keeps only the fields of
// its structure that no ensure clause of p accesses. Fields count per structure type; of a
// chain of accesses only the last field counts.
yices::ExpYP actionFrame(const FrameFields& fields, const tc::Procedure& p);
yices::ExpYP actionFrame(const std::vector<Struct>& structs, const tc::Procedure& p);

// (= obj (S_ref_wrap a)) for a parameter a of structure type S, otherwise false.
yices::ExpYP objIsArg(const Decl& d);

}  // namespace vorlax
