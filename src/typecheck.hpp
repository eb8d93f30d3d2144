// Typed expressions and the type checker.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "ast.hpp"
#include "types.hpp"

namespace vorlax::tc {

struct TExpr;
using TExprP = NodeRef<TExpr>;  // see ast::ExprP

// Every node but the three literals carries its Type as its last field.
struct Call { std::string name; std::vector<TExprP> args; Type type; };
struct BinOpExpr { BinOp op; TExprP left; TExprP right; Type type; };
struct UnOpExpr { UnOp op; TExprP operand; Type type; };
struct Access { TExprP object; std::string field; Type type; };
struct Var { std::string name; Type type; };
struct ResultVar { Type type; };
struct Cast { TExprP operand; Type type; };
struct LitInt { std::int32_t value; };
struct LitBool { bool value; };
struct LitNull { Type type; };
struct LitDouble { double value; };

struct TExpr : Counted {
  using V = std::variant<Call, BinOpExpr, UnOpExpr, Access, Var, ResultVar, Cast, LitInt,
                         LitBool, LitNull, LitDouble>;
  template <class T>
  explicit TExpr(T node) : v(std::move(node)) {}
  TExpr(const TExpr&) = default;
  V v;
  template <class T> bool is() const { return std::holds_alternative<T>(v); }
  template <class T> const T* as() const { return std::get_if<T>(&v); }
  // Releases the children of a long chain one at a time instead of recursively.
  ~TExpr();
};

template <class T>
TExprP mk(T node) { return TExprP::make(std::move(node)); }

Type texprType(const TExpr& e);
bool operator==(const TExpr& a, const TExpr& b);
inline bool operator!=(const TExpr& a, const TExpr& b) { return !(a == b); }

using Domain = vorlax::Domain<TExprP>;
using Procedure = vorlax::Procedure<TExprP>;
using Clause = vorlax::Clause<TExprP>;

// Result-or-error of the checker: exactly one of `value` / `error` is meaningful.
template <class T>
struct Checked {
  bool ok = false;
  T value{};
  std::string error;
  static Checked success(T v) { Checked c; c.ok = true; c.value = std::move(v); return c; }
  static Checked failure(std::string e) { Checked c; c.error = std::move(e); return c; }
};

// Types one goal or contract expression; `result` is the type of Result.
Checked<TExprP> typecheckExpr(const DeclMap& scope, const ast::Domain& dom, const Type& result,
                              const ast::ExprP& e);
// typecheckExpr of declsToMap(decls) with NoType; an error is fatal with the bare message.
TExprP unsafeCheck(const std::vector<Decl>& decls, const ast::Domain& dom, const ast::ExprP& e);
// unsafeCheck of a condition (`what` names it in the message): fatal as well when its type
// is not Bool.
TExprP checkCondition(const std::string& what, const std::vector<Decl>& decls,
                      const ast::Domain& dom, const ast::ExprP& e);
// Procedures first, then functions, each in stored order; the first error wins. Every
// clause must be of type Bool.
Checked<Domain> typecheckDomain(const ast::Domain& dom);
// The first error that typecheckDomain finds, without holding the typed domain.
std::optional<std::string> domainTypeError(const ast::Domain& dom);
// One procedure or function of the domain, typed as typecheckDomain types it.
Checked<Procedure> typecheckProcedure(const ast::Domain& dom, const ast::Procedure& p);

// Constructor-application text of a typed expression (single form, not parenthesised
// at the outermost level) and of a list ("[a,b]").
void showTExpr(std::ostream& os, const TExpr& e);
std::string showTExpr(const TExpr& e);
std::string showTExprList(const std::vector<TExprP>& es);


}  // namespace vorlax::tc
