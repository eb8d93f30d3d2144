#include "yices.hpp"

#include <cmath>

#include "fatal.hpp"

namespace vorlax {

namespace y = yices;

std::string structStr(const std::string& s) { return s + "_ref"; }
std::string nullStr(const std::string& s) { return "null_" + s; }
std::string objName(const std::string& s, int k) { return s + "_obj" + std::to_string(k); }
std::string allWrapStr(const std::string& s) { return s + "_ref_wrap"; }
std::string allUnwrapStr(const std::string& s) { return s + "_ref_unwrap"; }
std::string procTagStr(const std::string& p) { return p + "_tag"; }
std::string argSelStr(const Type& t) { return showType(t) + "_arg"; }

y::ExpYP varE(const std::string& name) { return y::mkE(y::VarE{name}); }
y::ExpYP litI(const mpz_class& k) { return y::mkE(y::LitI{k}); }
y::ExpYP app(y::ExpYP fn, std::vector<y::ExpYP> args) {
  return y::mkE(y::APP{std::move(fn), std::move(args)});
}
y::ExpYP incr(y::ExpYP e) { return y::mkE(y::PLUS{std::move(e), litI(1)}); }
y::ExpYP allWrap(const std::string& s, y::ExpYP e) { return app(varE(allWrapStr(s)), {std::move(e)}); }
y::ExpYP allUnwrap(const std::string& s, y::ExpYP e) {
  return app(varE(allUnwrapStr(s)), {std::move(e)});
}

y::CmdY allType(const std::vector<Struct>& structs) {
  std::optional<y::TypYP> all;
  if (!structs.empty()) {
    std::vector<std::pair<std::string, std::vector<y::IdTyp>>> ctors;
    ctors.reserve(structs.size());
    for (const auto& s : structs)
      ctors.push_back({allWrapStr(s.structName),
                       {{allUnwrapStr(s.structName), y::mkT(y::VarT{structStr(s.structName)})}}});
    all = y::mkT(y::DATATYPE{std::move(ctors)});
  }
  return y::mkC(y::DEFTYP{allRefStr, std::move(all)});
}

y::ExpYP andPrime(std::vector<y::ExpYP> es) {
  if (es.empty()) return y::mkE(y::LitB{true});
  return y::mkE(y::AND{std::move(es)});
}
y::ExpYP orPrime(std::vector<y::ExpYP> es) {
  if (es.empty()) return y::mkE(y::LitB{false});
  return y::mkE(y::OR{std::move(es)});
}

y::TypYP basicTypeY(const Type& t) {
  if (auto s = t.as<StructType>()) return y::mkT(y::VarT{structStr(s->name)});
  if (t.is<IntType>()) return intTypeY;
  if (t.is<DoubleType>()) return realTypeY;
  if (t.is<BoolType>()) return boolTypeY;
  if (t.is<VoidType>()) return y::mkT(y::VarT{"NONE"});
  fatal("no type");
}

std::vector<y::IdTyp> declsToArgsY(const std::vector<Decl>& ds) {
  std::vector<y::IdTyp> out;
  out.reserve(ds.size());
  for (const auto& d : ds) out.emplace_back(d.declName, basicTypeY(d.declType));
  return out;
}

y::ExpYP relYices(ROp r, y::ExpYP a, y::ExpYP b) {
  switch (r) {
    case ROp::Lte: return y::mkE(y::LE{std::move(a), std::move(b)});
    case ROp::Lt: return y::mkE(y::LT{std::move(a), std::move(b)});
    case ROp::Eq: return y::mkE(y::EQ{std::move(a), std::move(b)});
    case ROp::Neq: return y::mkE(y::NEQ{std::move(a), std::move(b)});
    case ROp::Gt: return y::mkE(y::GT{std::move(a), std::move(b)});
    case ROp::Gte: return y::mkE(y::GE{std::move(a), std::move(b)});
  }
  fatal("relYices: unknown relation");
}

y::ExpYP binYices(const BinOp& op, y::ExpYP a, y::ExpYP b) {
  switch (op.kind) {
    case BinOp::Add: return y::mkE(y::PLUS{std::move(a), std::move(b)});
    case BinOp::Sub: return y::mkE(y::MINUS{std::move(a), std::move(b)});
    case BinOp::Mul: return y::mkE(y::TIMES{std::move(a), std::move(b)});
    case BinOp::Div: return y::mkE(y::DIVIDE{std::move(a), std::move(b)});
    case BinOp::Or: return y::mkE(y::OR{{std::move(a), std::move(b)}});
    case BinOp::And: return y::mkE(y::AND{{std::move(a), std::move(b)}});
    case BinOp::Implies: return y::mkE(y::IMPLIES{std::move(a), std::move(b)});
    case BinOp::ArrayIndex: return app(std::move(a), {std::move(b)});
    case BinOp::RelOp: return relYices(op.rop, std::move(a), std::move(b));
  }
  fatal("binYices: unknown operator");
}

y::ExpYP unaryYices(UnOp op, const y::ExpYP& pre, const y::ExpYP& cur, const tc::TExpr& e) {
  switch (op) {
    case UnOp::Not: return y::mkE(y::NOT{exprY(pre, cur, e)});
    case UnOp::Neg: return y::mkE(y::MINUS{litI(0), exprY(pre, cur, e)});
    case UnOp::Old: return exprY(pre, pre, e);
  }
  fatal("unaryYices: unknown operator");
}

y::ExpYP nullValue(const Type& t) {
  if (auto s = t.as<StructType>()) return varE(nullStr(s->name));
  fatal("nullValue: null of type " + showType(t) + " has no solver value");
}

namespace {

struct Translate {
  const y::ExpYP& pre;
  const y::ExpYP& cur;

  y::ExpYP operator()(const tc::Call& c) const {
    std::vector<y::ExpYP> args;
    args.reserve(c.args.size());
    for (const auto& a : c.args) args.push_back(exprY(pre, cur, *a));
    // A function without parameters is a function of the step index alone.
    if (args.empty()) return app(varE(c.name), {cur});
    return app(app(varE(c.name), std::move(args)), {cur});
  }
  y::ExpYP operator()(const tc::BinOpExpr& b) const {
    auto l = exprY(pre, cur, *b.left);
    auto r = exprY(pre, cur, *b.right);
    return binYices(b.op, std::move(l), std::move(r));
  }
  y::ExpYP operator()(const tc::UnOpExpr& u) const { return unaryYices(u.op, pre, cur, *u.operand); }
  y::ExpYP operator()(const tc::Access& a) const {
    return app(varE(a.field), {exprY(pre, cur, *a.object), cur});
  }
  y::ExpYP operator()(const tc::Var& v) const { return varE(v.name); }
  y::ExpYP operator()(const tc::ResultVar&) const {
    fatal("exprY: Result cannot be translated here");
  }
  y::ExpYP operator()(const tc::Cast&) const { fatal("exprY: a cast cannot be translated"); }
  y::ExpYP operator()(const tc::LitInt& i) const { return litI(mpz_class(static_cast<long>(i.value))); }
  y::ExpYP operator()(const tc::LitBool& b) const { return y::mkE(y::LitB{b.value}); }
  y::ExpYP operator()(const tc::LitNull& n) const { return nullValue(n.type); }
  y::ExpYP operator()(const tc::LitDouble& d) const {
    if (!std::isfinite(d.value)) fatal("exprY: a real literal that is not finite cannot be translated");
    return y::mkE(y::LitR{y::Ratio::fromDouble(d.value)});
  }
};

}  // namespace

y::ExpYP exprY(const y::ExpYP& pre, const y::ExpYP& cur, const tc::TExpr& e) {
  return std::visit(Translate{pre, cur}, e.v);
}

std::vector<tc::TExprP> clauseExprs(const std::vector<tc::Clause>& cs) {
  std::vector<tc::TExprP> out;
  out.reserve(cs.size());
  for (const auto& c : cs) out.push_back(c.clauseExpr);
  return out;
}

}  // namespace vorlax
