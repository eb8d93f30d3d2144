#include "ast.hpp"

#include <mutex>
#include <set>

#include "fatal.hpp"

namespace vorlax {

const Type& BinOp::relType() const {
  static const Type noType = NoType{};
  return relTypeHeld ? *relTypeHeld : noType;
}

BinOp BinOp::rel(ROp r, Type t) {
  BinOp op{RelOp, r, nullptr};
  if (t.is<NoType>()) return op;
  // Each distinct type once; the entries are never moved nor freed.
  static std::mutex lock;
  static auto* const held = new std::set<Type>;
  std::lock_guard<std::mutex> guard(lock);
  op.relTypeHeld = &*held->insert(std::move(t)).first;
  return op;
}

bool operator==(const BinOp& a, const BinOp& b) {
  if (a.kind != b.kind) return false;
  if (a.kind != BinOp::RelOp) return true;
  return a.rop == b.rop && a.relType() == b.relType();
}

void findProcFailed(const std::string& name) {
  fatal("findProcUnsafe: no procedure named " + name);
}

namespace ast {

const std::string& accessField(const Access& a) {
  if (!a.valid) fatal("dotBinary: the right operand of \".\" must be a field name");
  return a.field;
}

namespace {

bool sameExpr(const ExprP& a, const ExprP& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return *a == *b;
}

bool sameList(const std::vector<ExprP>& a, const std::vector<ExprP>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!sameExpr(a[i], b[i])) return false;
  return true;
}

struct EqualVisitor {
  const Expr& other;
  bool operator()(const Call& x) const {
    const Call& y = *other.as<Call>();
    return x.name == y.name && sameList(x.args, y.args);
  }
  bool operator()(const BinOpExpr& x) const {
    const BinOpExpr& y = *other.as<BinOpExpr>();
    return x.op == y.op && sameExpr(x.left, y.left) && sameExpr(x.right, y.right);
  }
  bool operator()(const UnOpExpr& x) const {
    const UnOpExpr& y = *other.as<UnOpExpr>();
    return x.op == y.op && sameExpr(x.operand, y.operand);
  }
  bool operator()(const Access& x) const {
    const Access& y = *other.as<Access>();
    return sameExpr(x.object, y.object) && accessField(x) == accessField(y);
  }
  bool operator()(const Var& x) const { return x.name == other.as<Var>()->name; }
  bool operator()(const ResultVar&) const { return true; }
  bool operator()(const Cast& x) const {
    const Cast& y = *other.as<Cast>();
    return static_cast<const Type&>(x.type) == y.type && sameExpr(x.operand, y.operand);
  }
  bool operator()(const LitInt& x) const { return x.value == other.as<LitInt>()->value; }
  bool operator()(const LitBool& x) const { return x.value == other.as<LitBool>()->value; }
  bool operator()(const LitDouble& x) const { return x.value == other.as<LitDouble>()->value; }
  bool operator()(const LitNull&) const { return true; }
};

}  // namespace

bool operator==(const Expr& a, const Expr& b) {
  if (a.v.index() != b.v.index()) return false;
  return std::visit(EqualVisitor{b}, a.v);
}

}  // namespace ast
}  // namespace vorlax
