// The untyped syntax tree of the contract language, and the records of a parsed domain.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "types.hpp"

namespace vorlax {

enum class UnOp { Not, Neg, Old };
enum class ROp { Lte, Lt, Eq, Neq, Gt, Gte };

// Binary operators; RelOp carries its relation and a Type (always NoType when built here).
struct BinOp {
  enum Kind { Add, Sub, Mul, Div, Or, And, Implies, ArrayIndex, RelOp };
  Kind kind = Add;
  ROp rop = ROp::Eq;  // meaningful only for RelOp
  Type relType = NoType{};  // meaningful only for RelOp

  static BinOp rel(ROp r, Type t = NoType{}) { return BinOp{RelOp, r, std::move(t)}; }
};
bool operator==(const BinOp& a, const BinOp& b);
inline bool operator!=(const BinOp& a, const BinOp& b) { return !(a == b); }

// Records generic over the expression type E (ast::ExprP after parsing, tc::TExprP after
// type checking).
template <class E>
struct Clause {
  std::string clauseName;
  E clauseExpr;
};

template <class E>
struct Procedure {
  std::string prcdName;
  std::vector<Decl> prcdArgs;
  Type prcdResult;
  std::vector<Clause<E>> prcdReq;
  std::vector<Clause<E>> prcdEns;
};

// Each list in reverse order of appearance in the file (last declared first).
template <class E>
struct Domain {
  std::vector<Struct> domStructs;
  std::vector<Procedure<E>> domProcs;
  std::vector<Procedure<E>> domFuncs;
};

// First procedure of domProcs with exactly this name; fatal when there is none.
template <class E>
const Procedure<E>& findProcUnsafe(const Domain<E>& d, const std::string& name);
template <class E>
std::optional<Procedure<E>> findProc(const Domain<E>& d, const std::string& name) {
  for (const auto& p : d.domProcs)
    if (p.prcdName == name) return p;
  return std::nullopt;
}
[[noreturn]] void findProcFailed(const std::string& name);
template <class E>
const Procedure<E>& findProcUnsafe(const Domain<E>& d, const std::string& name) {
  for (const auto& p : d.domProcs)
    if (p.prcdName == name) return p;
  findProcFailed(name);
}

namespace ast {

struct Expr;
using ExprP = std::shared_ptr<const Expr>;

struct Call { std::string name; std::vector<ExprP> args; };
struct BinOpExpr { BinOp op; ExprP left; ExprP right; };
struct UnOpExpr { UnOp op; ExprP operand; };
// A field access. An access whose right side was not a plain name cannot be built; the
// parser keeps it as a node with valid == false, and the failure is raised (fatal) when
// the node is first used: see accessField().
struct Access { ExprP object; std::string field; bool valid = true; };
struct Var { std::string name; };
struct ResultVar {};
struct Cast { Type type; ExprP operand; };
struct LitInt { std::int32_t value; };
struct LitBool { bool value; };
struct LitDouble { double value; };
struct LitNull {};

struct Expr {
  using V = std::variant<Call, BinOpExpr, UnOpExpr, Access, Var, ResultVar, Cast, LitInt,
                         LitBool, LitDouble, LitNull>;
  V v;
  template <class T> bool is() const { return std::holds_alternative<T>(v); }
  template <class T> const T* as() const { return std::get_if<T>(&v); }
};

template <class T>
ExprP mk(T node) { return std::make_shared<const Expr>(Expr{std::move(node)}); }

// The field name of an access; fatal when the access could not be built.
const std::string& accessField(const Access& a);

bool operator==(const Expr& a, const Expr& b);
inline bool operator!=(const Expr& a, const Expr& b) { return !(a == b); }

using Domain = vorlax::Domain<ExprP>;
using Procedure = vorlax::Procedure<ExprP>;
using Clause = vorlax::Clause<ExprP>;

}  // namespace ast
}  // namespace vorlax
