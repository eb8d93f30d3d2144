// The untyped syntax tree of the contract language, and the records of a parsed domain.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ast_name.hpp"
#include "node_ref.hpp"
#include "types.hpp"

namespace vorlax {

enum class UnOp : std::uint8_t { Not, Neg, Old };
enum class ROp : std::uint8_t { Lte, Lt, Eq, Neq, Gt, Gte };

// Binary operators; RelOp carries its relation and a Type (always NoType when built here).
struct BinOp {
  enum Kind : std::uint8_t { Add, Sub, Mul, Div, Or, And, Implies, ArrayIndex, RelOp };
  Kind kind = Add;
  ROp rop = ROp::Eq;  // meaningful only for RelOp
  // The Type of a RelOp, meaningful only for RelOp, or null for NoType. Every tree node holds
  // an operator and nearly every relation's type is NoType, so the type is kept apart: each
  // distinct one once for the whole run (see rel).
  const Type* relTypeHeld = nullptr;

  const Type& relType() const;
  static BinOp rel(ROp r, Type t = NoType{});
};
bool operator==(const BinOp& a, const BinOp& b);
inline bool operator!=(const BinOp& a, const BinOp& b) { return !(a == b); }

// ---- pieces of the derived text form ----
// Only the precedence levels 0 and 11 occur; a level of 11 or more encloses a constructor
// with fields and a record in parentheses.
constexpr int kAppPrec = 11;
// A string between double quotes with its escapes: "\"", "\\", "\n", "\DEL", "\233"
// ("\233\&1" before a digit), "\SO\&H", "\NUL" ...
void showStringField(std::ostream& os, std::string_view s);
std::string showStringField(std::string_view s);
// Decimal; a negative value at a level above 6 is enclosed: "(-5)".
void showIntAt(std::ostream& os, long long v, int prec);
// The shortest digits that read back: "0.5", "1.0", "1234567.0", "1.0e-2", "1.0e7";
// a negative value at a level above 6 is enclosed.
void showDoubleAt(std::ostream& os, double v, int prec);
std::string showDouble(double v);

// "Not", "Neg", "Old"; "Lte", "Lt", "Eq", "Neq", "Gt", "Gte" (at every level).
void showUnOp(std::ostream& os, UnOp op);
std::string showUnOp(UnOp op);
void showROp(std::ostream& os, ROp op);
std::string showROp(ROp op);
// "Add" ... "ArrayIndex"; "RelOp Lt notype" at level 0, "(RelOp Lt notype)" at level 11.
void showBinOp(std::ostream& os, const BinOp& op, int prec = 0);
std::string showBinOp(const BinOp& op, int prec = 0);

// Record form of a structure: Struct {structName = "S", structDecls = [v: Int]}.
void showStruct(std::ostream& os, const Struct& s, int prec = 0);
std::string showStruct(const Struct& s, int prec = 0);

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
// The fatal error of findProcUnsafe.
[[noreturn]] void findProcFailed(const std::string& name);
template <class E>
const Procedure<E>& findProcUnsafe(const Domain<E>& d, const std::string& name) {
  for (const auto& p : d.domProcs)
    if (p.prcdName == name) return p;
  findProcFailed(name);
}

namespace ast {

// A Type held apart from the node that owns it; reads as the Type.
class TypeBox {
 public:
  template <class T>
  TypeBox(T t) : p_(std::make_shared<const Type>(std::move(t))) {}
  operator const Type&() const { return *p_; }

 private:
  std::shared_ptr<const Type> p_;
};

struct Expr;
using ExprP = NodeRef<Expr>;

struct Call { Name name; std::vector<ExprP> args; };
struct BinOpExpr { BinOp op; ExprP left; ExprP right; };
struct UnOpExpr { UnOp op; ExprP operand; };
// A field access. An access whose right side was not a plain name cannot be built; the
// parser keeps it as a node with valid == false, and the failure is raised (fatal) when
// the node is first used: see accessField().
struct Access { ExprP object; Name field; bool valid = true; };
struct Var { Name name; };
struct ResultVar {};
// A cast holds its Type apart (see TypeBox): casts are rare, and the largest field of any
// node sets the size of every node. For the same reason names are interned (see Name) and
// nodes counted in place (see NodeRef).
struct Cast { TypeBox type; ExprP operand; };
struct LitInt { std::int32_t value; };
struct LitBool { bool value; };
struct LitDouble { double value; };
struct LitNull {};

struct Expr : Counted {
  using V = std::variant<Call, BinOpExpr, UnOpExpr, Access, Var, ResultVar, Cast, LitInt,
                         LitBool, LitDouble, LitNull>;
  template <class T>
  explicit Expr(T node) : v(std::move(node)) {}
  V v;
  template <class T> bool is() const { return std::holds_alternative<T>(v); }
  template <class T> const T* as() const { return std::get_if<T>(&v); }
};

template <class T>
ExprP mk(T node) { return ExprP::make(std::move(node)); }

// The field name of an access; fatal when the access could not be built.
const std::string& accessField(const Access& a);

bool operator==(const Expr& a, const Expr& b);
inline bool operator!=(const Expr& a, const Expr& b) { return !(a == b); }

using Domain = vorlax::Domain<ExprP>;
using Procedure = vorlax::Procedure<ExprP>;
using Clause = vorlax::Clause<ExprP>;

// Text form of an expression: "(x) Add (1)", "Not (True)", "a.b.c", "f()", "{Int}x"; never
// enclosed as a whole. Fatal (accessField) on an access that could not be built; the text
// before it has then already been written.
void showExpr(std::ostream& os, const Expr& e);
std::string showExpr(const Expr& e);
// "[x,1]"
void showExprList(std::ostream& os, const std::vector<ExprP>& es);
std::string showExprList(const std::vector<ExprP>& es);

// Record forms over untyped expressions, enclosed in parentheses at level 11 or more:
// Clause {clauseName = "r", clauseExpr = ...}, Procedure {...}, Domain {...}.
void showClause(std::ostream& os, const Clause& c, int prec = 0);
std::string showClause(const Clause& c, int prec = 0);
void showProcedure(std::ostream& os, const Procedure& p, int prec = 0);
std::string showProcedure(const Procedure& p, int prec = 0);
void showDomain(std::ostream& os, const Domain& d, int prec = 0);
std::string showDomain(const Domain& d, int prec = 0);

}  // namespace ast

// The same record forms over any expression type; showE(os, e) writes an expression at
// level 0.
template <class E, class ShowE>
void showClauseWith(std::ostream& os, const Clause<E>& c, int prec, ShowE&& showE) {
  if (prec >= kAppPrec) os << '(';
  os << "Clause {clauseName = ";
  showStringField(os, c.clauseName);
  os << ", clauseExpr = ";
  showE(os, c.clauseExpr);
  os << '}';
  if (prec >= kAppPrec) os << ')';
}

template <class E, class ShowE>
void showClauseListWith(std::ostream& os, const std::vector<Clause<E>>& cs, ShowE&& showE) {
  os << '[';
  for (std::size_t i = 0; i < cs.size(); ++i) {
    if (i > 0) os << ',';
    showClauseWith(os, cs[i], 0, showE);
  }
  os << ']';
}

template <class E, class ShowE>
void showProcedureWith(std::ostream& os, const Procedure<E>& p, int prec, ShowE&& showE) {
  if (prec >= kAppPrec) os << '(';
  os << "Procedure {prcdName = ";
  showStringField(os, p.prcdName);
  os << ", prcdArgs = ";
  showDeclList(os, p.prcdArgs);
  os << ", prcdResult = ";
  showType(os, p.prcdResult);
  os << ", prcdReq = ";
  showClauseListWith(os, p.prcdReq, showE);
  os << ", prcdEns = ";
  showClauseListWith(os, p.prcdEns, showE);
  os << '}';
  if (prec >= kAppPrec) os << ')';
}

template <class E, class ShowE>
void showDomainWith(std::ostream& os, const Domain<E>& d, int prec, ShowE&& showE) {
  if (prec >= kAppPrec) os << '(';
  os << "Domain {domStructs = [";
  for (std::size_t i = 0; i < d.domStructs.size(); ++i) {
    if (i > 0) os << ',';
    showStruct(os, d.domStructs[i], 0);
  }
  os << "], domProcs = [";
  for (std::size_t i = 0; i < d.domProcs.size(); ++i) {
    if (i > 0) os << ',';
    showProcedureWith(os, d.domProcs[i], 0, showE);
  }
  os << "], domFuncs = [";
  for (std::size_t i = 0; i < d.domFuncs.size(); ++i) {
    if (i > 0) os << ',';
    showProcedureWith(os, d.domFuncs[i], 0, showE);
  }
  os << "]}";
  if (prec >= kAppPrec) os << ')';
}
}  // namespace vorlax
