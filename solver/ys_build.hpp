// From s-expressions to the solver program's types and expressions, and the type
// checker of expressions.
#pragma once
#include <unordered_map>

#include "ys_state.hpp"

namespace vxsolver {

// The local names in scope while an expression is checked.
struct LocalTypes {
  const std::string& name;
  const TypeP& type;
  const LocalTypes* next;
};

class Checker {
 public:
  explicit Checker(Globals& g) : g_(g) {}
  // The type of an expression; throws SolverError for an unknown name or a type error.
  TypeP check(const Expr& e, const LocalTypes* locals = nullptr);
  TypeP checkBool(const Expr& e, const char* what, const LocalTypes* locals = nullptr);

 private:
  TypeP checkNumeric(const Expr& e, size_t i, const Expr& arg, const LocalTypes* locals);
  TypeP joinTypes(const TypeP& a, const TypeP& b, const char* what);
  Globals& g_;
};

class Builder {
 public:
  Builder(Globals& g, Checker& c) : g_(g), checker_(c) {}
  TypeP type(const SExp& s);
  ExprP expr(const SExp& s);
  // Binders "x::T" in a list (lambda, forall, exists).
  std::vector<Binder> binders(const SExp& list, const char* what);
  // The body of (define-type name body): registers scalar elements, constructors,
  // selectors and recognisers. Returns the type to be named.
  TypeP defineType(const std::string& name, const SExp& body);
  // Declares a new symbol; throws if the name is reserved or already taken.
  void addSymbol(Symbol s);

 private:
  ExprP atom(const SExp& s);
  TypeP functionType(const SExp& s);
  std::optional<mpz_class> constInt(const SExp& s);
  TypeP typeInDatatype(const SExp& s, const std::string& self);
  Globals& g_;
  Checker& checker_;
  // The trees of atoms built lately, by their text: the names and literals that recur
  // in the commands share one node each. Kept to a bounded number.
  std::unordered_map<std::string, ExprP> atoms_;
  static constexpr size_t kMaxAtoms = 1 << 14;
};

mpq_class parseNumber(const std::string& text, bool& isInt, bool& ok);

}  // namespace vxsolver
