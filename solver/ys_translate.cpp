#include "ys_translate.hpp"

#include <algorithm>
#include <unordered_set>

namespace vxsolver {

bool numeralValue(const z3::expr& e, mpq_class& q) {
  if (!e.is_numeral() || Z3_is_algebraic_number(e.ctx(), e)) return false;
  int64_t small;
  if (Z3_get_numeral_int64(e.ctx(), e, &small)) {  // most numerals: no text to convert
    q = static_cast<long>(small);
    return true;
  }
  q = mpq_class(Z3_get_numeral_string(e.ctx(), e), 10);
  q.canonicalize();
  return true;
}

static z3::expr mkNum(z3::context& c, const mpq_class& q, bool isInt) {
  if (isInt && q.get_num().fits_slong_p()) return c.int_val(static_cast<int64_t>(q.get_num().get_si()));
  if (isInt) return c.int_val(q.get_num().get_str().c_str());
  return c.real_val(q.get_str().c_str());
}

// ---------------------------------------------------------------- folding builders

// The folding builders look at many terms that they do not keep. They do so through the
// handles of the C API, borrowed from terms that their caller holds, so that looking
// costs no reference counting.


static bool isAppOf(Z3_context c, Z3_ast a, Z3_decl_kind k) {
  return Z3_get_ast_kind(c, a) == Z3_APP_AST && Z3_get_decl_kind(c, Z3_get_app_decl(c, Z3_to_app(c, a))) == k;
}

static bool isNot(const z3::expr& e) { return isAppOf(e.ctx(), e, Z3_OP_NOT); }

// The conjuncts of a formula. Every conjunction in these terms is made by andOf, from
// conjuncts that are no conjunctions themselves, so one level holds them all.
static void conjuncts(Z3_context c, Z3_ast e, std::vector<Z3_ast>& out) {
  if (!isAppOf(c, e, Z3_OP_AND)) {
    out.push_back(e);
    return;
  }
  Z3_app app = Z3_to_app(c, e);
  unsigned n = Z3_get_app_num_args(c, app);
  for (unsigned i = 0; i < n; ++i) out.push_back(Z3_get_app_arg(c, app, i));
}

// The terms without repetitions, each where it first occurs. A handle stands for one
// term (terms are shared), so terms are told apart by their handles.
static std::vector<Z3_ast> withoutRepeats(const std::vector<Z3_ast>& ts) {
  if (ts.size() < 2) return ts;
  std::vector<Z3_ast> out;
  out.reserve(ts.size());
  if (ts.size() <= 8) {  // a few terms: compared with each other
    for (Z3_ast t : ts)
      if (std::find(out.begin(), out.end(), t) == out.end()) out.push_back(t);
    return out;
  }
  // Many terms: the handles seen so far in a table twice their number (open addressing).
  int bits = 4;
  while ((size_t{1} << bits) < 2 * ts.size()) ++bits;
  std::vector<Z3_ast> seen(size_t{1} << bits, nullptr);
  size_t mask = seen.size() - 1;
  for (Z3_ast t : ts) {
    size_t i = static_cast<size_t>((reinterpret_cast<uintptr_t>(t) * 0x9e3779b97f4a7c15ull) >> (64 - bits));
    while (seen[i] != nullptr && seen[i] != t) i = (i + 1) & mask;
    if (seen[i] == t) continue;
    seen[i] = t;
    out.push_back(t);
  }
  return out;
}

z3::expr Translator::mkAnd(const std::vector<z3::expr>& es) {
  std::vector<Z3_ast> flat;
  for (const auto& e : es) conjuncts(ctx_, e, flat);
  return andOf(flat);
}

z3::expr Translator::andOf(const std::vector<Z3_ast>& conjs) {
  std::vector<Z3_ast> kept;
  kept.reserve(conjs.size());
  for (Z3_ast a : conjs) {
    if (isTrue(a)) continue;
    if (isFalse(a)) return false_;
    kept.push_back(a);
  }
  kept = withoutRepeats(kept);
  if (kept.empty()) return true_;
  if (kept.size() == 1) return z3::expr(ctx_, kept[0]);
  Z3_ast r = Z3_mk_and(ctx_, static_cast<unsigned>(kept.size()), kept.data());
  ctx_.check_error();
  return z3::expr(ctx_, r);
}

// A disjunction; conjuncts common to every disjunct are moved out of it, so that
// (or (and F A) (and F B)) becomes (and F (or A B)) and F is known whichever holds.
z3::expr Translator::mkOr(const std::vector<z3::expr>& es) {
  std::vector<Z3_ast> ds;
  for (const auto& e : es) {
    if (isFalse(e)) continue;
    if (isTrue(e)) return true_;
    ds.push_back(e);
  }
  ds = withoutRepeats(ds);
  if (ds.empty()) return false_;
  if (ds.size() == 1) return z3::expr(ctx_, ds[0]);
  std::vector<std::vector<Z3_ast>> parts(ds.size());
  for (size_t i = 0; i < ds.size(); ++i) conjuncts(ctx_, ds[i], parts[i]);
  // The conjuncts that every disjunct has: those of the first one, sorted by handle, each
  // counted in every disjunct after it that has it, as long as any is left.
  std::vector<Z3_ast> common0 = parts[0];
  std::sort(common0.begin(), common0.end());
  common0.erase(std::unique(common0.begin(), common0.end()), common0.end());
  std::vector<size_t> count(common0.size(), 1);  // the disjuncts so far that have it
  for (size_t i = 1; i < parts.size(); ++i) {
    bool left = false;
    for (Z3_ast c : parts[i]) {
      auto at = std::lower_bound(common0.begin(), common0.end(), c);
      if (at == common0.end() || *at != c) continue;
      size_t& n = count[static_cast<size_t>(at - common0.begin())];
      if (n == i) ++n;  // counted once per disjunct
    }
    for (size_t n : count) left = left || n == i + 1;
    if (!left) break;
  }
  std::vector<Z3_ast> commonTerms;  // sorted
  for (size_t k = 0; k < common0.size(); ++k)
    if (count[k] == parts.size()) commonTerms.push_back(common0[k]);
  if (commonTerms.empty()) {
    Z3_ast r = Z3_mk_or(ctx_, static_cast<unsigned>(ds.size()), ds.data());
    ctx_.check_error();
    return z3::expr(ctx_, r);
  }
  auto isCommon = [&](Z3_ast c) { return std::binary_search(commonTerms.begin(), commonTerms.end(), c); };
  std::vector<z3::expr> common;
  for (Z3_ast c : withoutRepeats(parts[0]))
    if (isCommon(c)) common.emplace_back(ctx_, c);
  std::vector<z3::expr> rests;
  for (const auto& p : parts) {
    std::vector<Z3_ast> rest;
    for (Z3_ast c : p)
      if (!isCommon(c)) rest.push_back(c);
    rests.push_back(andOf(rest));
  }
  common.push_back(mkOr(rests));
  return mkAnd(common);
}

z3::expr Translator::mkNot(const z3::expr& a) {
  if (isTrue(a)) return false_;
  if (isFalse(a)) return true_;
  if (isNot(a)) return a.arg(0);
  return !a;
}

z3::expr Translator::mkImplies(const z3::expr& a, const z3::expr& b) {
  if (isTrue(a)) return b;
  if (isFalse(a) || isTrue(b)) return true_;
  if (isFalse(b)) return mkNot(a);
  if (z3::eq(a, b)) return true_;
  return z3::implies(a, b);
}

z3::expr Translator::mkIte(const z3::expr& c, const z3::expr& t0, const z3::expr& e0) {
  if (isTrue(c)) return t0;
  if (isFalse(c)) return e0;
  z3::sort s = joinSort(t0.get_sort(), e0.get_sort());
  z3::expr t = coerce(t0, s), e = coerce(e0, s);
  if (z3::eq(t, e)) return t;
  if (s.is_bool()) {
    if (isTrue(t)) return mkOr({c, e});
    if (isFalse(t)) return mkAnd({mkNot(c), e});
    if (isTrue(e)) return mkOr({mkNot(c), t});
    if (isFalse(e)) return mkAnd({c, t});
  }
  return z3::ite(c, t, e);
}

// The function symbol at the head of a term; null for a term that is not an application.
static Z3_func_decl headOf(const z3::expr& e) {
  if (Z3_get_ast_kind(e.ctx(), e) != Z3_APP_AST) return nullptr;
  return Z3_get_app_decl(e.ctx(), Z3_to_app(e.ctx(), e));
}

bool Translator::isCtorApp(const z3::expr& e, const z3::func_decl& d) const {
  return headOf(e) == static_cast<Z3_func_decl>(d);
}

long Translator::ctorIndex(const Type& t, const z3::expr& e) const {
  Z3_func_decl head = headOf(e);
  if (!head) return -1;
  for (size_t i = 0; i < t.ctorDecls.size(); ++i)
    if (static_cast<Z3_func_decl>(t.ctorDecls[i]) == head) return static_cast<long>(i);
  return -1;
}

z3::expr Translator::mkEq(const z3::expr& a0, const z3::expr& b0) {
  z3::sort s = a0.get_sort();
  bool same = Z3_get_sort(ctx_, b0) == static_cast<Z3_sort>(s);
  if (!same) s = joinSort(s, b0.get_sort());
  z3::expr a = same ? a0 : coerce(a0, s), b = same ? b0 : coerce(b0, s);
  if (z3::eq(a, b)) return true_;
  if (Z3_is_numeral_ast(ctx_, a) && Z3_is_numeral_ast(ctx_, b)) {
    mpq_class x, y;
    if (numeralValue(a, x) && numeralValue(b, y)) return boolVal(x == y);
  }
  if (s.is_bool()) {
    if (isTrue(a)) return b;
    if (isTrue(b)) return a;
    if (isFalse(a)) return mkNot(b);
    if (isFalse(b)) return mkNot(a);
  }
  Z3_func_decl ha = headOf(a), hb = headOf(b);
  if (ha && hb && s.is_datatype()) {
    auto ma = g_.declMeta.find(Z3_get_func_decl_id(ctx_, ha));
    auto mb = g_.declMeta.find(Z3_get_func_decl_id(ctx_, hb));
    if (ma != g_.declMeta.end() && mb != g_.declMeta.end()) {
      if (ha != hb) return false_;
      std::vector<z3::expr> parts;
      for (unsigned i = 0; i < a.num_args(); ++i) parts.push_back(mkEq(a.arg(i), b.arg(i)));
      return mkAnd(parts);
    }
  }
  return a == b;
}

const Type& Translator::tupleTypeOf(const z3::expr& e) const { return *g_.typeOfSort(e.get_sort()); }

z3::expr Translator::rebuildTuple(const Type& from, const z3::expr& e, const Type& to) {
  std::vector<z3::expr> parts;
  for (size_t i = 0; i < from.accessors[0].size(); ++i) {
    z3::expr x = isCtorApp(e, from.ctorDecls[0]) ? e.arg(static_cast<unsigned>(i)) : from.accessors[0][i](e);
    parts.push_back(coerce(x, to.ctorDecls[0].domain(static_cast<unsigned>(i))));
  }
  return to.ctorDecls[0](static_cast<unsigned>(parts.size()), parts.data());
}

z3::expr Translator::coerce(const z3::expr& e, const z3::sort& s) {
  if (Z3_get_sort(ctx_, e) == static_cast<Z3_sort>(s)) return e;  // the common case, without counting references
  z3::sort es = e.get_sort();
  if (z3::eq(es, s)) return e;
  if (es.is_int() && s.is_real()) {
    mpq_class q;
    if (numeralValue(e, q)) return mkNum(ctx_, q, false);
    return z3::to_real(e);
  }
  TypeP from = g_.typeOfSort(es), to = g_.typeOfSort(s);
  if ((from->kind == TypeKind::Tuple || from->kind == TypeKind::Record) && from->kind == to->kind &&
      from->accessors[0].size() == to->accessors[0].size())
    return rebuildTuple(*from, e, *to);
  throw SolverError("internal error: a value of sort " + es.to_string() + " where " + s.to_string() +
                    " is expected");
}

z3::sort Translator::joinSort(const z3::sort& a, const z3::sort& b) {
  if (z3::eq(a, b)) return a;
  if (a.is_arith() && b.is_arith()) return ctx_.real_sort();
  TypeP x = g_.typeOfSort(a), y = g_.typeOfSort(b);
  if (x->kind == TypeKind::Tuple && y->kind == TypeKind::Tuple && x->elems.size() == y->elems.size()) {
    std::vector<TypeP> elems;
    for (size_t i = 0; i < x->elems.size(); ++i)
      elems.push_back(g_.typeOfSort(joinSort(*x->elems[i]->sort, *y->elems[i]->sort)));
    return *g_.tupleType(elems)->sort;
  }
  if (x->kind == TypeKind::Record && y->kind == TypeKind::Record && x->fields.size() == y->fields.size()) {
    std::vector<Field> fields;
    for (size_t i = 0; i < x->fields.size(); ++i)
      fields.emplace_back(x->fields[i].first,
                          g_.typeOfSort(joinSort(*x->fields[i].second->sort, *y->fields[i].second->sort)));
    return *g_.recordType(fields)->sort;
  }
  throw SolverError("internal error: incompatible sorts " + a.to_string() + " and " + b.to_string());
}

// ---------------------------------------------------------------- types as constraints and domains

z3::expr Translator::typeConstraint(const Type& t, const z3::expr& x) {
  if (t.kind == TypeKind::Subrange) {
    std::vector<z3::expr> parts;
    mpq_class v;
    bool known = numeralValue(x, v);
    if (t.lo) parts.push_back(known ? boolVal(v >= *t.lo) : x >= ctx_.int_val(t.lo->get_str().c_str()));
    if (t.hi) parts.push_back(known ? boolVal(v <= *t.hi) : x <= ctx_.int_val(t.hi->get_str().c_str()));
    return mkAnd(parts);
  }
  if (t.kind == TypeKind::Subtype) {
    z3::expr base = typeConstraint(*t.base, x);
    auto env = std::make_shared<const Env>(Env{t.var, Val{x, nullptr}, nullptr});
    Val p = eval(*t.pred, env);
    return mkAnd({base, *p.term});
  }
  return true_;
}

z3::expr Translator::valueConstraint(const Type& t, const Val& v) {
  if (!constrained(t)) return true_;
  if (v.term) return typeConstraint(t, *v.term);
  const Type& f = baseOf(t);
  std::vector<TypeP> params(f.elems.begin(), f.elems.end() - 1);
  std::vector<std::string> names(params.size(), "x");
  return quantify(true, params, names, [&](const std::vector<Val>& xs) {
    return valueConstraint(*f.range(), apply(v, xs));
  });
}

std::vector<z3::expr> Translator::enumerate(const Type& t) {
  std::vector<z3::expr> out;
  auto product = [&](const std::vector<TypeP>& comps, const z3::func_decl& mk) {
    std::vector<std::vector<z3::expr>> doms;
    for (const auto& c : comps) doms.push_back(enumerate(*c));
    std::vector<size_t> ix(comps.size(), 0);
    for (const auto& d : doms)
      if (d.empty()) return;
    for (;;) {
      std::vector<z3::expr> args;
      for (size_t i = 0; i < comps.size(); ++i) args.push_back(doms[i][ix[i]]);
      out.push_back(mk(static_cast<unsigned>(args.size()), args.data()));
      size_t k = 0;
      while (k < ix.size() && ++ix[k] == doms[k].size()) ix[k++] = 0;
      if (k == ix.size()) return;
    }
  };
  switch (t.kind) {
    case TypeKind::Bool:
      out.push_back(false_);
      out.push_back(true_);
      break;
    case TypeKind::Scalar:
      for (const auto& d : t.ctorDecls) out.push_back(d());
      break;
    case TypeKind::Subrange:
      for (mpz_class i = *t.lo; i <= *t.hi; ++i) out.push_back(ctx_.int_val(i.get_str().c_str()));
      break;
    case TypeKind::Subtype: return enumerate(*t.base);
    case TypeKind::Tuple: product(t.elems, t.ctorDecls[0]); break;
    case TypeKind::Record: {
      std::vector<TypeP> comps;
      for (const auto& f : t.fields) comps.push_back(f.second);
      product(comps, t.ctorDecls[0]);
      break;
    }
    case TypeKind::Datatype:
      for (size_t i = 0; i < t.ctors.size(); ++i) {
        std::vector<TypeP> comps;
        for (const auto& f : t.ctors[i].fields) comps.push_back(f.second);
        if (comps.empty()) out.push_back(t.ctorDecls[i]());
        else product(comps, t.ctorDecls[i]);
      }
      break;
    default: throw SolverError("internal error: enumeration of an infinite type");
  }
  return out;
}

z3::expr Translator::quantify(bool forall, const std::vector<TypeP>& types, const std::vector<std::string>& names,
                              const std::function<z3::expr(const std::vector<Val>&)>& body) {
  size_t total = 1;
  bool finite = true;
  for (const auto& t : types) {
    if (!t->sort) throw SolverError("quantification over a function type is not supported");
    auto n = finiteSize(*t, quantifierExpansionLimit);
    if (!n) {
      finite = false;
      continue;
    }
    total = (*n == 0 || total <= quantifierExpansionLimit / std::max<size_t>(*n, 1)) ? total * *n
                                                                                    : quantifierExpansionLimit + 1;
  }
  if (finite && total <= quantifierExpansionLimit) {
    std::vector<std::vector<z3::expr>> doms;
    for (const auto& t : types) doms.push_back(enumerate(*t));
    for (const auto& d : doms)
      if (d.empty()) return boolVal(forall);
    std::vector<size_t> ix(types.size(), 0);
    std::vector<z3::expr> parts;
    for (;;) {
      std::vector<Val> vals;
      std::vector<z3::expr> guards;
      for (size_t i = 0; i < types.size(); ++i) {
        vals.push_back(Val{doms[i][ix[i]], nullptr});
        guards.push_back(typeConstraint(*types[i], doms[i][ix[i]]));
      }
      z3::expr g = mkAnd(guards);
      if (!isFalse(g)) {
        z3::expr b = body(vals);
        z3::expr p = forall ? mkImplies(g, b) : mkAnd({g, b});
        if (forall ? isFalse(p) : isTrue(p)) return p;
        parts.push_back(p);
      }
      size_t k = 0;
      while (k < ix.size() && ++ix[k] == doms[k].size()) ix[k++] = 0;
      if (k == ix.size()) break;
    }
    return forall ? mkAnd(parts) : mkOr(parts);
  }
  z3::expr_vector vars(ctx_);
  std::vector<Val> vals;
  std::vector<z3::expr> guards;
  for (size_t i = 0; i < types.size(); ++i) {
    std::string n = names[i] + "!" + std::to_string(nextVar_++);
    z3::expr v = ctx_.constant(n.c_str(), *types[i]->sort);
    vars.push_back(v);
    vals.push_back(Val{v, nullptr});
    guards.push_back(typeConstraint(*types[i], v));
  }
  z3::expr g = mkAnd(guards);
  z3::expr b = body(vals);
  z3::expr inner = forall ? mkImplies(g, b) : mkAnd({g, b});
  if (isTrue(inner) || isFalse(inner)) return inner;
  return forall ? z3::forall(vars, inner) : z3::exists(vars, inner);
}

// ---------------------------------------------------------------- evaluation

Val Translator::global(const std::string& name) {
  if (auto it = globals_.find(name); it != globals_.end()) return it->second;
  Val v = evalGlobal(name);
  globals_.emplace(name, v);
  return v;
}

Val Translator::evalGlobal(const std::string& name) {
  const SymbolP* sp = g_.lookup(name);
  if (!sp) throw SolverError("unknown name \"" + name + "\"");
  const Symbol& s = **sp;
  switch (s.kind) {
    case Symbol::Uninterpreted: {
      g_.cur.used.insert(name);
      if (s.uf->groups.empty()) return Val{s.uf->decl(), nullptr};
      auto f = std::make_shared<FunVal>();
      f->kind = FunVal::UF;
      f->uid = nextFunUid_++;
      f->uf = s.uf;
      return Val{std::nullopt, f};
    }
    case Symbol::Defined: {
      if (inProgress_.count(s.uid)) throw SolverError("the definition of \"" + name + "\" refers to itself");
      inProgress_.insert(s.uid);
      Val v;
      try {
        v = eval(*s.value, nullptr);
      } catch (...) {
        inProgress_.erase(s.uid);
        throw;
      }
      inProgress_.erase(s.uid);
      if (v.term && s.type->sort) v.term = coerce(*v.term, *s.type->sort);
      return v;
    }
    case Symbol::ScalarElem: return Val{s.owner->ctorDecls[s.ctor](), nullptr};
    case Symbol::Constructor:
      if (s.owner->ctors[s.ctor].fields.empty()) return Val{s.owner->ctorDecls[s.ctor](), nullptr};
      [[fallthrough]];
    case Symbol::Selector:
    case Symbol::Recognizer: {
      auto f = std::make_shared<FunVal>();
      f->kind = FunVal::Builtin;
      f->uid = nextFunUid_++;
      f->sym = *sp;
      return Val{std::nullopt, f};
    }
  }
  throw SolverError("internal error: unknown symbol kind");
}

std::vector<TypeP> Translator::paramTypes(const FunVal& f) const {
  switch (f.kind) {
    case FunVal::Closure: {
      std::vector<TypeP> out;
      for (const auto& p : f.params) out.push_back(p.type);
      return out;
    }
    case FunVal::UF: {
      size_t off = 0;
      for (size_t i = 0; i < f.group; ++i) off += f.uf->groups[i];
      return {f.uf->argTypes.begin() + static_cast<long>(off),
              f.uf->argTypes.begin() + static_cast<long>(off + f.uf->groups[f.group])};
    }
    case FunVal::Builtin: {
      const auto& e = baseOf(*f.sym->type).elems;
      return {e.begin(), e.end() - 1};
    }
    case FunVal::Update:
    case FunVal::Ite: return paramTypes(*f.a);
  }
  return {};
}

// ---------------------------------------------------------------- memo

// The identity of a value: a term's handle (terms are shared, so one handle stands for
// one term while it lives), a function value's uid, told apart by the lowest bit.
static uintptr_t identity(const Val& v) {
  return v.term ? reinterpret_cast<uintptr_t>(static_cast<Z3_ast>(*v.term))
                : 2 * static_cast<uintptr_t>(v.fun->uid) + 1;
}

uint64_t ApplyMemo::hash(long fun, const std::vector<Val>& args) {
  uint64_t h = static_cast<uint64_t>(fun) * 0x9e3779b97f4a7c15ull;
  for (const auto& a : args) h = (h ^ identity(a)) * 0xff51afd7ed558ccdull;
  return h ^ (h >> 31);
}

bool ApplyMemo::matches(const Entry& e, long fun, const std::vector<Val>& args) const {
  if (e.fun != fun || e.count != args.size()) return false;
  for (size_t i = 0; i < args.size(); ++i)
    if (ids_[e.first + i] != identity(args[i])) return false;
  return true;
}

const Val* ApplyMemo::find(long fun, const std::vector<Val>& args) const {
  if (slots_.empty()) return nullptr;
  uint64_t h = hash(fun, args);
  uint32_t tag = static_cast<uint32_t>(h >> 32);
  size_t mask = slots_.size() - 1;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (s.entry == 0) return nullptr;
    if (s.tag == tag && matches(entries_[s.entry - 1], fun, args)) return &entries_[s.entry - 1].result;
  }
}

void ApplyMemo::place(uint64_t hash, uint32_t entry) {
  size_t mask = slots_.size() - 1, i = hash & mask;
  while (slots_[i].entry != 0) i = (i + 1) & mask;
  slots_[i] = Slot{static_cast<uint32_t>(hash >> 32), entry};
}

void ApplyMemo::insert(long fun, const std::vector<Val>& args, const Val& result) {
  if (entries_.size() >= UINT32_MAX - 1 || args_.size() + args.size() >= UINT32_MAX)
    throw SolverError("the expansion needs more memoised applications than this solver holds");
  if (2 * (entries_.size() + 1) > slots_.size()) grow();
  uint64_t h = hash(fun, args);
  entries_.push_back(Entry{h, fun, static_cast<uint32_t>(args_.size()), static_cast<uint32_t>(args.size()), result});
  for (const auto& a : args) {
    ids_.push_back(identity(a));
    args_.push_back(a);
  }
  place(h, static_cast<uint32_t>(entries_.size()));
}

void ApplyMemo::grow() {
  slots_.assign(slots_.empty() ? 1024 : 2 * slots_.size(), Slot{});
  for (size_t k = 0; k < entries_.size(); ++k) place(entries_[k].hash, static_cast<uint32_t>(k + 1));
}

void ApplyMemo::clear() {
  std::fill(slots_.begin(), slots_.end(), Slot{});  // kept at their size for the next expansion
  entries_.clear();
  ids_.clear();
  args_.clear();
}

z3::expr Translator::funEq(const Val& a, const Val& b) {
  std::vector<TypeP> types = paramTypes(*a.fun);
  std::vector<std::string> names(types.size(), "x");
  return quantify(true, types, names, [&](const std::vector<Val>& xs) {
    Val ra = apply(a, xs), rb = apply(b, xs);
    if (ra.isFun()) return funEq(ra, rb);
    return mkEq(*ra.term, *rb.term);
  });
}

Val Translator::apply(const Val& fv, const std::vector<Val>& args) {
  if (!fv.isFun()) throw SolverError("internal error: application of a non-function");
  const FunVal& f = *fv.fun;
  switch (f.kind) {
    case FunVal::Closure: {
      if (const Val* known = memo_.find(f.uid, args)) return *known;
      EnvP env = f.env;
      for (size_t i = 0; i < args.size(); ++i) {
        Val v = args[i];
        if (v.term && f.params[i].type->sort) v.term = coerce(*v.term, *f.params[i].type->sort);
        env = std::make_shared<const Env>(Env{f.params[i].name, std::move(v), std::move(env)});
      }
      Val r = eval(*f.body, env);
      memo_.insert(f.uid, args, r);
      return r;
    }
    case FunVal::UF: {
      std::vector<z3::expr> applied = f.applied;
      for (const auto& a : args)
        applied.push_back(coerce(*a.term, f.uf->decl.domain(static_cast<unsigned>(applied.size()))));
      if (f.group + 1 == f.uf->groups.size())
        return Val{f.uf->decl(static_cast<unsigned>(applied.size()), applied.data()), nullptr};
      auto g = std::make_shared<FunVal>(f);
      g->uid = nextFunUid_++;
      g->applied = std::move(applied);
      g->group = f.group + 1;
      return Val{std::nullopt, g};
    }
    case FunVal::Builtin: {
      const Symbol& s = *f.sym;
      const Type& t = *s.owner;
      if (s.kind == Symbol::Constructor) {
        std::vector<z3::expr> parts;
        for (size_t i = 0; i < args.size(); ++i)
          parts.push_back(coerce(*args[i].term, t.ctorDecls[s.ctor].domain(static_cast<unsigned>(i))));
        return Val{t.ctorDecls[s.ctor](static_cast<unsigned>(parts.size()), parts.data()), nullptr};
      }
      const z3::expr& x = *args[0].term;
      if (s.kind == Symbol::Selector) {
        if (isCtorApp(x, t.ctorDecls[s.ctor])) return Val{x.arg(static_cast<unsigned>(s.field)), nullptr};
        return Val{t.accessors[s.ctor][s.field](x), nullptr};
      }
      long k = ctorIndex(t, x);
      if (k >= 0) return Val{boolVal(k == static_cast<long>(s.ctor)), nullptr};
      return Val{t.testers[s.ctor](x), nullptr};
    }
    case FunVal::Update: {
      Val r = apply(Val{std::nullopt, f.a}, args);
      std::vector<z3::expr> conds;
      for (size_t i = 0; i < args.size(); ++i) conds.push_back(mkEq(*args[i].term, *f.at[i].term));
      return Val{mkIte(mkAnd(conds), *f.value, *r.term), nullptr};
    }
    case FunVal::Ite: {
      Val ra = apply(Val{std::nullopt, f.a}, args), rb = apply(Val{std::nullopt, f.b}, args);
      if (!ra.isFun()) return Val{mkIte(*f.cond, *ra.term, *rb.term), nullptr};
      auto g = std::make_shared<FunVal>();
      g->kind = FunVal::Ite;
      g->uid = nextFunUid_++;
      g->cond = f.cond;
      g->a = ra.fun;
      g->b = rb.fun;
      return Val{std::nullopt, g};
    }
  }
  throw SolverError("internal error: unknown function value");
}

z3::expr Translator::formula(const Expr& e) {
  Val v = eval(e, nullptr);
  if (!v.term) throw SolverError("internal error: a formula without a term");
  return *v.term;
}

Val Translator::evalCompare(const Expr& e, const EnvP& env) {
  z3::expr a0 = *eval(*e.args[0], env).term, b0 = *eval(*e.args[1], env).term;
  z3::sort s = joinSort(a0.get_sort(), b0.get_sort());
  z3::expr a = coerce(a0, s), b = coerce(b0, s);
  mpq_class x, y;
  bool folded = Z3_is_numeral_ast(ctx_, a) && Z3_is_numeral_ast(ctx_, b) && numeralValue(a, x) && numeralValue(b, y);
  switch (e.kind) {
    case ExprKind::Lt: return Val{folded ? boolVal(x < y) : a < b, nullptr};
    case ExprKind::Le: return Val{folded ? boolVal(x <= y) : a <= b, nullptr};
    case ExprKind::Gt: return Val{folded ? boolVal(x > y) : a > b, nullptr};
    default: return Val{folded ? boolVal(x >= y) : a >= b, nullptr};
  }
}

Val Translator::evalArith(const Expr& e, const EnvP& env) {
  std::vector<z3::expr> ts;
  ts.reserve(e.args.size() + 1);
  for (const auto& a : e.args) ts.push_back(*eval(*a, env).term);
  bool real = e.kind == ExprKind::Div;
  for (const auto& t : ts) real = real || t.get_sort().is_real();
  z3::sort s = real ? ctx_.real_sort() : ctx_.int_sort();
  for (auto& t : ts) t = coerce(t, s);
  if (e.kind == ExprKind::Sub && ts.size() == 1) ts.insert(ts.begin(), mkNum(ctx_, 0, !real));
  z3::expr r = ts[0];
  for (size_t i = 1; i < ts.size(); ++i) {
    const z3::expr& b = ts[i];
    mpq_class x, y;
    bool xKnown = numeralValue(r, x), yKnown = numeralValue(b, y);
    bool folded = xKnown && yKnown;
    switch (e.kind) {
      case ExprKind::Add:
        if (folded) r = mkNum(ctx_, x + y, !real);
        else if (yKnown && y == 0) {
        } else if (xKnown && x == 0) r = b;
        else r = r + b;
        break;
      case ExprKind::Sub:
        if (folded) r = mkNum(ctx_, x - y, !real);
        else if (yKnown && y == 0) {
        } else r = r - b;
        break;
      case ExprKind::Mul:
        if (folded) r = mkNum(ctx_, x * y, !real);
        else r = r * b;
        break;
      case ExprKind::Div:
        if (folded && y != 0) r = mkNum(ctx_, x / y, false);
        else r = r / b;
        break;
      case ExprKind::IntDiv:
      case ExprKind::Mod:
        if (folded && y != 0) {
          mpz_class q, a = x.get_num(), d = y.get_num();
          if (d > 0) mpz_fdiv_q(q.get_mpz_t(), a.get_mpz_t(), d.get_mpz_t());
          else mpz_cdiv_q(q.get_mpz_t(), a.get_mpz_t(), d.get_mpz_t());
          r = mkNum(ctx_, e.kind == ExprKind::IntDiv ? mpq_class(q) : mpq_class(a - d * q), true);
        } else {
          r = e.kind == ExprKind::IntDiv ? r / b : z3::mod(r, b);
        }
        break;
      default: throw SolverError("internal error: not arithmetic");
    }
  }
  return Val{r, nullptr};
}

static std::shared_ptr<FunVal> funVal(FunVal::Kind k, long uid) {
  auto f = std::make_shared<FunVal>();
  f->kind = k;
  f->uid = uid;
  return f;
}

Val Translator::eval(const Expr& e, const EnvP& env) {
  // Nested expressions and the bodies of the definitions they apply are evaluated
  // recursively; the depth is bounded so that the stack always suffices.
  struct Depth {
    long& d;
    explicit Depth(long& x) : d(x) { ++d; }
    ~Depth() { --d; }
  } depth(depth_);
  if (depth_ > kMaxExpansionDepth) {
    std::string why = "the expression, with the bodies of the definitions it applies, nests more than ";
    why += std::to_string(kMaxExpansionDepth);
    why += " levels deep, the most that this solver expands";
    throw SolverError(why);
  }
  switch (e.kind) {
    case ExprKind::Name:
      for (const Env* p = env.get(); p; p = p->next.get())
        if (p->name == e.name) return p->val;
      return global(e.name);
    case ExprKind::BoolLit: return Val{boolVal(e.boolVal), nullptr};
    case ExprKind::NumLit: return Val{mkNum(ctx_, *e.num, e.isInt), nullptr};
    case ExprKind::App: {
      Val f = eval(*e.args[0], env);
      std::vector<Val> args;
      args.reserve(e.args.size() - 1);
      for (size_t i = 1; i < e.args.size(); ++i) args.push_back(eval(*e.args[i], env));
      return apply(f, args);
    }
    case ExprKind::And:
    case ExprKind::Or: {
      bool isAnd = e.kind == ExprKind::And;
      std::vector<z3::expr> parts;
      parts.reserve(e.args.size());
      for (const auto& a : e.args) {
        z3::expr t = *eval(*a, env).term;
        if (isAnd ? isFalse(t) : isTrue(t)) return Val{t, nullptr};
        parts.push_back(t);
      }
      return Val{isAnd ? mkAnd(parts) : mkOr(parts), nullptr};
    }
    case ExprKind::Not: return Val{mkNot(*eval(*e.args[0], env).term), nullptr};
    case ExprKind::Implies: {
      z3::expr a = *eval(*e.args[0], env).term;
      if (isFalse(a)) return Val{true_, nullptr};
      return Val{mkImplies(a, *eval(*e.args[1], env).term), nullptr};
    }
    case ExprKind::Eq:
    case ExprKind::Neq: {
      Val a = eval(*e.args[0], env), b = eval(*e.args[1], env);
      z3::expr r = a.isFun() ? funEq(a, b) : mkEq(*a.term, *b.term);
      return Val{e.kind == ExprKind::Eq ? r : mkNot(r), nullptr};
    }
    case ExprKind::Lt:
    case ExprKind::Le:
    case ExprKind::Gt:
    case ExprKind::Ge: return evalCompare(e, env);
    case ExprKind::Add:
    case ExprKind::Sub:
    case ExprKind::Mul:
    case ExprKind::Div:
    case ExprKind::IntDiv:
    case ExprKind::Mod: return evalArith(e, env);
    case ExprKind::Ite: {
      z3::expr c = *eval(*e.args[0], env).term;
      if (isTrue(c)) return eval(*e.args[1], env);
      if (isFalse(c)) return eval(*e.args[2], env);
      Val t = eval(*e.args[1], env), f = eval(*e.args[2], env);
      if (!t.isFun()) return Val{mkIte(c, *t.term, *f.term), nullptr};
      auto g = funVal(FunVal::Ite, nextFunUid_++);
      g->cond = c;
      g->a = t.fun;
      g->b = f.fun;
      return Val{std::nullopt, g};
    }
    case ExprKind::Let: {
      EnvP inner = env;
      for (size_t i = 0; i < e.binders.size(); ++i) {
        Val v = eval(*e.args[i], inner);
        const TypeP& t = e.binders[i].type;
        if (v.term && t && t->sort) v.term = coerce(*v.term, *t->sort);
        inner = std::make_shared<const Env>(Env{e.binders[i].name, std::move(v), std::move(inner)});
      }
      return eval(*e.args.back(), inner);
    }
    case ExprKind::Forall:
    case ExprKind::Exists: {
      std::vector<TypeP> types;
      std::vector<std::string> names;
      for (const auto& b : e.binders) {
        types.push_back(b.type);
        names.push_back(b.name);
      }
      z3::expr r = quantify(e.kind == ExprKind::Forall, types, names, [&](const std::vector<Val>& vals) {
        EnvP inner = env;
        for (size_t i = 0; i < vals.size(); ++i)
          inner = std::make_shared<const Env>(Env{e.binders[i].name, vals[i], inner});
        return *eval(*e.args[0], inner).term;
      });
      return Val{r, nullptr};
    }
    case ExprKind::Lambda: {
      auto f = funVal(FunVal::Closure, nextFunUid_++);
      f->params = e.binders;
      f->body = e.args[0];
      f->env = env;
      return Val{std::nullopt, f};
    }
    case ExprKind::MkTuple:
    case ExprKind::MkRecord: {
      std::vector<z3::expr> parts;
      std::vector<TypeP> elems;
      std::vector<Field> fields;
      for (size_t i = 0; i < e.args.size(); ++i) {
        parts.push_back(*eval(*e.args[i], env).term);
        TypeP t = g_.typeOfSort(parts.back().get_sort());
        if (e.kind == ExprKind::MkTuple) elems.push_back(t);
        else fields.emplace_back(e.binders[i].name, t);
      }
      TypeP t = e.kind == ExprKind::MkTuple ? g_.tupleType(elems) : g_.recordType(fields);
      return Val{t->ctorDecls[0](static_cast<unsigned>(parts.size()), parts.data()), nullptr};
    }
    case ExprKind::SelectTuple:
    case ExprKind::SelectRecord:
    case ExprKind::UpdateTuple:
    case ExprKind::UpdateRecord: {
      z3::expr x = *eval(*e.args[0], env).term;
      const Type& t = tupleTypeOf(x);
      size_t i = 0;
      if (e.kind == ExprKind::SelectTuple || e.kind == ExprKind::UpdateTuple) {
        i = static_cast<size_t>(e.index - 1);
      } else {
        while (i < t.fields.size() && t.fields[i].first != e.name) ++i;
      }
      bool literal = isCtorApp(x, t.ctorDecls[0]);
      if (e.kind == ExprKind::SelectTuple || e.kind == ExprKind::SelectRecord)
        return Val{literal ? x.arg(static_cast<unsigned>(i)) : t.accessors[0][i](x), nullptr};
      std::vector<z3::expr> parts;
      for (size_t k = 0; k < t.accessors[0].size(); ++k)
        parts.push_back(literal ? x.arg(static_cast<unsigned>(k)) : t.accessors[0][k](x));
      parts[i] = coerce(*eval(*e.args[1], env).term, t.ctorDecls[0].domain(static_cast<unsigned>(i)));
      return Val{t.ctorDecls[0](static_cast<unsigned>(parts.size()), parts.data()), nullptr};
    }
    case ExprKind::UpdateFun: {
      Val f = eval(*e.args[0], env);
      auto g = funVal(FunVal::Update, nextFunUid_++);
      g->a = f.fun;
      for (size_t i = 1; i + 1 < e.args.size(); ++i) g->at.push_back(eval(*e.args[i], env));
      g->value = *eval(*e.args.back(), env).term;
      return Val{std::nullopt, g};
    }
  }
  throw SolverError("internal error: unknown expression form");
}

}  // namespace vxsolver
