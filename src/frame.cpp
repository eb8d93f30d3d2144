#include "frame.hpp"

#include <map>
#include <string>

#include "fatal.hpp"
#include "yices.hpp"

namespace vorlax {

namespace y = yices;

namespace {

// Structure name -> fields not (yet) accessed, both ordered by ascending name.
using FieldMap = std::map<std::string, DeclMap>;

void walk(FieldMap& fields, const tc::TExpr& e);

struct Walk {
  FieldMap& fields;
  const tc::TExpr& node;

  void operator()(const tc::Call& c) const {
    for (auto it = c.args.rbegin(); it != c.args.rend(); ++it) walk(fields, **it);
  }
  void operator()(const tc::BinOpExpr& b) const {
    walk(fields, *b.left);
    walk(fields, *b.right);
  }
  void operator()(const tc::UnOpExpr& u) const { walk(fields, *u.operand); }
  void operator()(const tc::Access& a) const {
    const Type t = tc::texprType(*a.object);
    if (auto s = t.as<StructType>()) {
      auto it = fields.find(s->name);
      if (it != fields.end()) it->second.erase(a.field);
    }
  }
  void operator()(const tc::Var&) const {}
  void operator()(const tc::LitInt&) const {}
  void operator()(const tc::LitNull&) const {}
  // Boolean and real literals access no field, like integer literals.
  void operator()(const tc::LitBool&) const {}
  void operator()(const tc::LitDouble&) const {}
  void operator()(const tc::ResultVar&) const { fail(); }
  void operator()(const tc::Cast&) const { fail(); }
  [[noreturn]] void fail() const { fatal("Frame error: " + tc::showTExpr(node)); }
};

void walk(FieldMap& fields, const tc::TExpr& e) { std::visit(Walk{fields, e}, e.v); }

// (and (= (f (S_ref_unwrap obj) idx) (f (S_ref_unwrap obj) (+ idx 1))) ..), or true.
y::ExpYP keptFields(const std::string& s, const DeclMap& fs) {
  if (fs.empty()) return y::mkE(y::LitB{true});
  std::vector<y::ExpYP> eqs;
  eqs.reserve(fs.size());
  const y::ExpYP u = allUnwrap(s, objY);
  for (const auto& [f, t] : fs) {
    (void)t;
    eqs.push_back(y::mkE(y::EQ{app(varE(f), {u, preIdx}), app(varE(f), {u, postIdx})}));
  }
  return y::mkE(y::AND{std::move(eqs)});
}

}  // namespace

y::ExpYP objIsArg(const Decl& d) {
  if (auto s = d.declType.as<StructType>())
    return y::mkE(y::EQ{objY, allWrap(s->name, varE(d.declName))});
  return y::mkE(y::LitB{false});
}

y::ExpYP actionFrame(const std::vector<Struct>& structs, const tc::Procedure& p) {
  std::vector<y::ExpYP> isArg;
  isArg.reserve(p.prcdArgs.size());
  for (const auto& d : p.prcdArgs) isArg.push_back(objIsArg(d));
  y::ExpYP args = orPrime(std::move(isArg));

  FieldMap fields;
  for (const auto& s : structs) fields.emplace(s.structName, declsToMap(s.structDecls));
  for (auto it = p.prcdEns.rbegin(); it != p.prcdEns.rend(); ++it) walk(fields, *it->clauseExpr);

  y::ExpYP chain = y::mkE(y::LitB{true});
  for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
    const std::string& s = it->first;
    chain = y::mkE(y::IF{app(varE(allWrapStr(s) + "?"), {objY}), keptFields(s, it->second),
                         std::move(chain)});
  }

  y::ExpYP excl = y::mkE(y::LAMBDA{{{objStr, allRefType}, idxDecl},
                                   y::mkE(y::AND{{std::move(args), std::move(chain)}})});
  return app(varE("all-frames"), {std::move(excl), preIdx});
}

}  // namespace vorlax
