// Types and expressions of the solver language as the solver program holds them: the
// types resolved (named types looked up, Z3 sorts attached), the expressions as trees
// built once per command and shared by the closures that hold them.
#pragma once
#include <gmpxx.h>
#include <z3++.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vxsolver {

struct Expr;
using ExprP = std::shared_ptr<const Expr>;
struct Type;
using TypeP = std::shared_ptr<const Type>;

enum class TypeKind { Int, Real, Bool, Uninterpreted, Scalar, Datatype, Tuple, Record, Function, Subrange, Subtype };

using Field = std::pair<std::string, TypeP>;

struct Ctor {
  std::string name;
  std::vector<Field> fields;  // a field type left empty stands for the datatype itself
};

struct Type {
  TypeKind kind = TypeKind::Int;
  std::string name;            // the name given by define-type, if any
  std::vector<TypeP> elems;    // Function: parameters then the range; Tuple: components
  std::vector<Field> fields;   // Record
  std::vector<std::string> scalars;  // Scalar: the element names
  std::vector<Ctor> ctors;     // Datatype
  TypeP base;                  // Subrange: int; Subtype: the binder's type
  std::optional<mpz_class> lo, hi;  // Subrange bounds
  std::string var;             // Subtype binder
  ExprP pred;                  // Subtype predicate
  // The Z3 side of first-order types.
  std::optional<z3::sort> sort;
  std::vector<z3::func_decl> ctorDecls;  // Scalar elements, Datatype constructors, Tuple/Record constructor
  std::vector<z3::func_decl> testers;
  std::vector<std::vector<z3::func_decl>> accessors;

  bool isFunction() const { return kind == TypeKind::Function; }
  size_t arity() const { return elems.size() - 1; }
  const TypeP& range() const { return elems.back(); }
};

// The type with subranges and subtypes stripped.
const Type& baseOf(const Type& t);
bool isNumeric(const Type& t);
// Same type up to int/real and subranges/subtypes.
bool compatible(const Type& a, const Type& b);
// A value of type a may stand where b is expected (compatible, and not real for int).
bool fits(const Type& a, const Type& b);
// Text of a type for messages, in the solver language's own notation.
std::string showType(const Type& t);
// Whether a value of the type is constrained beyond its base type: a subrange, a subtype,
// or a function whose range is constrained.
bool constrained(const Type& t);
// Whether the type has finitely many values (and how many, saturating at limit+1).
std::optional<size_t> finiteSize(const Type& t, size_t limit);

struct Binder {
  std::string name;
  TypeP type;  // may be empty for an untyped let binding
};

enum class ExprKind {
  Name, BoolLit, NumLit, App,
  And, Or, Not, Implies, Eq, Neq, Lt, Le, Gt, Ge,
  Add, Sub, Mul, Div, IntDiv, Mod,
  Ite, Let, Forall, Exists, Lambda,
  MkTuple, MkRecord, SelectTuple, SelectRecord, UpdateFun, UpdateTuple, UpdateRecord
};

// A definition keeps its tree as long as it is in scope, so the node is kept small: the
// number of a literal is held apart, and the small members come first.
struct Expr {
  ExprKind kind = ExprKind::Name;
  bool boolVal = false;        // BoolLit
  bool isInt = true;           // NumLit: written as an integer
  long index = 0;              // SelectTuple/UpdateTuple (from 1)
  std::string name;            // Name; the field of SelectRecord/UpdateRecord
  std::unique_ptr<const mpq_class> num;  // NumLit
  std::vector<ExprP> args;     // operands; App: function then arguments;
                               // Let: bound values then the body; Forall/Exists/Lambda: the body;
                               // UpdateFun: function, arguments, new value;
                               // MkRecord: field values (names in binders)
  std::vector<Binder> binders; // Let/Forall/Exists/Lambda binders; MkRecord field names
};

const char* kindKeyword(ExprKind k);

}  // namespace vxsolver
