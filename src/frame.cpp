#include "frame.hpp"

#include <algorithm>
#include <string>

#include "fatal.hpp"
#include "yices.hpp"

namespace vorlax {

namespace y = yices;

namespace {

// Which fields of each structure (by the index of FrameFields::structs) the ensure clauses
// of a procedure access.
using Accessed = std::vector<std::vector<bool>>;

void walk(const FrameFields& ff, Accessed& accessed, const tc::TExpr& e);

template <class Vec>
auto byName(Vec& v, const std::string& name) {
  auto it = std::lower_bound(v.begin(), v.end(), name,
                             [](const auto& x, const std::string& n) { return x.name < n; });
  return it != v.end() && it->name == name ? it : v.end();
}

struct Walk {
  const FrameFields& ff;
  Accessed& accessed;
  const tc::TExpr& node;

  void operator()(const tc::Call& c) const {
    for (auto it = c.args.rbegin(); it != c.args.rend(); ++it) walk(ff, accessed, **it);
  }
  void operator()(const tc::BinOpExpr& b) const {
    walk(ff, accessed, *b.left);
    walk(ff, accessed, *b.right);
  }
  void operator()(const tc::UnOpExpr& u) const { walk(ff, accessed, *u.operand); }
  void operator()(const tc::Access& a) const {
    const Type t = tc::texprType(*a.object);
    if (auto s = t.as<StructType>()) {
      const auto& structs = ff.structs();
      auto st = byName(structs, s->name);
      if (st == structs.end()) return;
      auto f = byName(st->fields, a.field);
      if (f != st->fields.end())
        accessed[st - structs.begin()][f - st->fields.begin()] = true;
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

void walk(const FrameFields& ff, Accessed& accessed, const tc::TExpr& e) {
  std::visit(Walk{ff, accessed, e}, e.v);
}

// (and (= (f (S_ref_unwrap obj) idx) (f (S_ref_unwrap obj) (+ idx 1))) ..) over the fields
// not accessed, or true.
y::ExpYP keptFields(const FrameFields::Of& s, const std::vector<bool>& accessed) {
  std::vector<y::ExpYP> eqs;
  eqs.reserve(s.fields.size());
  for (std::size_t i = 0; i < s.fields.size(); ++i)
    if (!accessed[i]) eqs.push_back(s.fields[i].kept);
  if (eqs.empty()) return y::mkE(y::LitB{true});
  return y::mkE(y::AND{std::move(eqs)});
}

}  // namespace

FrameFields::FrameFields(const std::vector<Struct>& structs) {
  for (const auto& s : structs) {
    auto at = std::lower_bound(structs_.begin(), structs_.end(), s.structName,
                               [](const Of& x, const std::string& n) { return x.name < n; });
    if (at != structs_.end() && at->name == s.structName) continue;  // the first one counts
    Of of{s.structName, {}};
    const y::ExpYP u = allUnwrap(s.structName, objY);
    for (const auto& [f, t] : declsToMap(s.structDecls)) {
      (void)t;
      of.fields.push_back(
          {f, y::mkE(y::EQ{app(varE(f), {u, preIdx}), app(varE(f), {u, postIdx})})});
    }
    structs_.insert(at, std::move(of));
  }
}

y::ExpYP objIsArg(const Decl& d) {
  if (auto s = d.declType.as<StructType>())
    return y::mkE(y::EQ{objY, allWrap(s->name, varE(d.declName))});
  return y::mkE(y::LitB{false});
}

y::ExpYP actionFrame(const FrameFields& ff, const tc::Procedure& p) {
  std::vector<y::ExpYP> isArg;
  isArg.reserve(p.prcdArgs.size());
  for (const auto& d : p.prcdArgs) isArg.push_back(objIsArg(d));
  y::ExpYP args = orPrime(std::move(isArg));

  const auto& structs = ff.structs();
  Accessed accessed;
  accessed.reserve(structs.size());
  for (const auto& s : structs) accessed.emplace_back(s.fields.size(), false);
  for (auto it = p.prcdEns.rbegin(); it != p.prcdEns.rend(); ++it) walk(ff, accessed, *it->clauseExpr);

  y::ExpYP chain = y::mkE(y::LitB{true});
  for (std::size_t i = structs.size(); i-- > 0;) {
    const std::string& s = structs[i].name;
    chain = y::mkE(y::IF{app(varE(allWrapStr(s) + "?"), {objY}), keptFields(structs[i], accessed[i]),
                         std::move(chain)});
  }

  y::ExpYP excl = y::mkE(y::LAMBDA{{{objStr, allRefType}, idxDecl},
                                   y::mkE(y::AND{{std::move(args), std::move(chain)}})});
  return app(varE("all-frames"), {std::move(excl), preIdx});
}

y::ExpYP actionFrame(const std::vector<Struct>& structs, const tc::Procedure& p) {
  return actionFrame(FrameFields(structs), p);
}

}  // namespace vorlax
