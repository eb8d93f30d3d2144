#include "ys_build.hpp"

#include <cctype>

namespace vxsolver {

// ---------------------------------------------------------------- numbers

mpq_class parseNumber(const std::string& t, bool& isInt, bool& ok) {
  ok = false;
  isInt = true;
  size_t i = 0, n = t.size();
  bool neg = false;
  if (i < n && t[i] == '-') { neg = true; ++i; }
  size_t d0 = i;
  while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  if (i == d0) return 0;
  mpz_class whole(t.substr(d0, i - d0), 10);
  mpq_class q(whole);
  if (i < n && t[i] == '/') {
    size_t e0 = ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    if (i == e0 || i != n) return 0;
    mpz_class den(t.substr(e0, i - e0), 10);
    if (den == 0) return 0;
    q = mpq_class(whole, den);
    q.canonicalize();
    isInt = false;
  } else if (i < n && t[i] == '.') {
    size_t e0 = ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    if (i == e0 || i != n) return 0;
    mpz_class frac(t.substr(e0, i - e0), 10);
    mpz_class scale;
    mpz_ui_pow_ui(scale.get_mpz_t(), 10, i - e0);
    q = mpq_class(whole * scale + frac, scale);
    q.canonicalize();
    isInt = false;
  } else if (i != n) {
    return 0;
  }
  ok = true;
  return neg ? mpq_class(-q) : q;
}

static bool looksNumeric(const std::string& t) {
  size_t i = t.size() > 1 && t[0] == '-' ? 1 : 0;
  return i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]));
}

// ---------------------------------------------------------------- types

static TypeP makeFunction(std::vector<TypeP> elems) {
  auto t = std::make_shared<Type>();
  t->kind = TypeKind::Function;
  t->elems = std::move(elems);
  return t;
}

std::optional<mpz_class> Builder::constInt(const SExp& s) {
  if (s.kind == SExp::Atom) {
    bool isInt, ok;
    mpq_class q = parseNumber(s.text, isInt, ok);
    if (ok && isInt) return q.get_num();
    if (const SymbolP* sym = g_.lookup(s.text)) {
      if ((*sym)->kind == Symbol::Defined && (*sym)->value->kind == ExprKind::NumLit && (*sym)->value->isInt)
        return (*sym)->value->num->get_num();
    }
    return std::nullopt;
  }
  if (s.kind == SExp::List && s.items.size() == 2 && s.items[0].isAtom("-")) {
    auto v = constInt(s.items[1]);
    if (v) return -*v;
  }
  return std::nullopt;
}

TypeP Builder::functionType(const SExp& s) {
  std::vector<TypeP> elems;
  for (size_t i = 1; i < s.items.size(); ++i) {
    if (s.items[i].kind == SExp::DColon) throw SolverError("dependent function types are not supported");
    elems.push_back(type(s.items[i]));
  }
  if (elems.size() < 2) throw SolverError("a function type needs a domain and a range: " + s.show());
  return makeFunction(std::move(elems));
}

TypeP Builder::type(const SExp& s) {
  if (s.kind == SExp::Atom) {
    if (s.text == "int") return g_.intT;
    if (s.text == "real") return g_.realT;
    if (s.text == "bool") return g_.boolT;
    if (s.text == "nat") return g_.natT;
    auto it = g_.cur.types.find(s.text);
    if (it != g_.cur.types.end()) return it->second;
    throw SolverError("unknown type \"" + s.text + "\"");
  }
  if (s.kind != SExp::List || s.items.empty() || s.items[0].kind != SExp::Atom)
    throw SolverError("not a type: " + s.show());
  const std::string& kw = s.items[0].text;
  if (kw == "->") return functionType(s);
  if (kw == "tuple") {
    std::vector<TypeP> elems;
    for (size_t i = 1; i < s.items.size(); ++i) elems.push_back(type(s.items[i]));
    if (elems.empty()) throw SolverError("a tuple type needs components");
    return g_.tupleType(elems);
  }
  if (kw == "record") {
    SExp list = s;
    list.items.erase(list.items.begin());
    std::vector<Field> fields;
    for (auto& b : binders(list, "record")) {
      for (const auto& f : fields)
        if (f.first == b.name) throw SolverError("field \"" + b.name + "\" given twice");
      fields.emplace_back(b.name, b.type);
    }
    return g_.recordType(fields);
  }
  if (kw == "subrange") {
    if (s.items.size() != 3) throw SolverError("a subrange needs two bounds: " + s.show());
    auto lo = constInt(s.items[1]);
    auto hi = constInt(s.items[2]);
    if (!lo || !hi) throw SolverError("the bounds of a subrange must be integer constants: " + s.show());
    auto t = std::make_shared<Type>();
    t->kind = TypeKind::Subrange;
    t->base = g_.intT;
    t->lo = lo;
    t->hi = hi;
    t->sort = g_.ctx.int_sort();
    return t;
  }
  if (kw == "subtype") {
    // (subtype (x::T) p), or (subtype x::T p)
    Binder b;
    const SExp* pred = nullptr;
    if (s.items.size() == 3 && s.items[1].kind == SExp::List) {
      auto bs = binders(s.items[1], "subtype");
      if (bs.size() != 1) throw SolverError("a subtype has one binder");
      b = bs[0];
      pred = &s.items[2];
    } else if (s.items.size() == 5 && s.items[2].kind == SExp::DColon) {
      SExp list;
      list.kind = SExp::List;
      list.items.assign(s.items.begin() + 1, s.items.begin() + 4);
      b = binders(list, "subtype")[0];
      pred = &s.items[4];
    } else {
      throw SolverError("malformed subtype: " + s.show());
    }
    if (!b.type->sort) throw SolverError("a subtype of a function type is not supported");
    ExprP p = expr(*pred);
    LocalTypes loc{b.name, b.type, nullptr};
    checker_.checkBool(*p, "the predicate of a subtype", &loc);
    auto t = std::make_shared<Type>();
    t->kind = TypeKind::Subtype;
    t->base = b.type;
    t->var = b.name;
    t->pred = p;
    t->sort = b.type->sort;
    return t;
  }
  if (kw == "scalar" || kw == "datatype")
    throw SolverError("a " + kw + " type must be named by define-type");
  if (kw == "bitvector") throw SolverError("bit-vector types are not supported");
  throw SolverError("not a type: " + s.show());
}

std::vector<Binder> Builder::binders(const SExp& list, const char* what) {
  if (list.kind != SExp::List) throw SolverError(std::string("the binders of ") + what + " must be a list");
  std::vector<Binder> out;
  const auto& it = list.items;
  size_t i = 0;
  while (i < it.size()) {
    if (i + 2 >= it.size() || it[i].kind != SExp::Atom || it[i + 1].kind != SExp::DColon)
      throw SolverError(std::string("malformed binder in ") + what + ": expected name::type in " + list.show());
    if (isReservedWord(it[i].text) || looksNumeric(it[i].text))
      throw SolverError("\"" + it[i].text + "\" cannot be bound");
    if (i + 3 < it.size() && it[i + 3].kind == SExp::DColon)
      throw SolverError("dependent types are not supported: " + list.show());
    out.push_back(Binder{it[i].text, type(it[i + 2])});
    i += 3;
  }
  if (out.empty()) throw SolverError(std::string(what) + " needs at least one binder");
  return out;
}

TypeP Builder::typeInDatatype(const SExp& s, const std::string& self) {
  if (s.kind == SExp::Atom && s.text == self) return nullptr;
  TypeP t = type(s);
  if (!t->sort) throw SolverError("a datatype field of a function type is not supported");
  return t;
}

void Builder::addSymbol(Symbol s) {
  if (isReservedWord(s.name)) throw SolverError("\"" + s.name + "\" is a reserved word");
  if (looksNumeric(s.name)) throw SolverError("\"" + s.name + "\" is not a name");
  if (g_.cur.symbols.count(s.name)) throw SolverError("\"" + s.name + "\" is already defined");
  s.uid = g_.nextUid++;
  std::string name = s.name;
  g_.cur.symbols.emplace(name, std::make_shared<const Symbol>(std::move(s)));
}

TypeP Builder::defineType(const std::string& name, const SExp& body) {
  bool isScalar = body.kind == SExp::List && !body.items.empty() && body.items[0].isAtom("scalar");
  bool isData = body.kind == SExp::List && !body.items.empty() && body.items[0].isAtom("datatype");
  if (!isScalar && !isData) return type(body);
  auto t = std::make_shared<Type>();
  t->name = name;
  z3::context& c = g_.ctx;
  std::string sname = g_.freshSortName(name);
  if (isScalar) {
    t->kind = TypeKind::Scalar;
    for (size_t i = 1; i < body.items.size(); ++i) {
      const SExp& n = body.items[i];
      if (n.kind != SExp::Atom) throw SolverError("the elements of a scalar type are names: " + body.show());
      for (const auto& o : t->scalars)
        if (o == n.text) throw SolverError("scalar element \"" + n.text + "\" given twice");
      t->scalars.push_back(n.text);
    }
    if (t->scalars.empty()) throw SolverError("a scalar type needs at least one element");
    std::vector<const char*> names;
    for (const auto& n : t->scalars) names.push_back(n.c_str());
    z3::func_decl_vector cs(c), ts(c);
    t->sort = c.enumeration_sort(sname.c_str(), static_cast<unsigned>(names.size()), names.data(), cs, ts);
    for (unsigned i = 0; i < cs.size(); ++i) {
      t->ctorDecls.push_back(cs[i]);
      t->testers.push_back(ts[i]);
      g_.declMeta.emplace(cs[i].id(), DeclMeta{DeclMeta::ScalarElem, t->scalars[i], {}});
    }
  } else {
    t->kind = TypeKind::Datatype;
    for (size_t i = 1; i < body.items.size(); ++i) {
      const SExp& cs = body.items[i];
      Ctor ctor;
      if (cs.kind == SExp::Atom) {
        ctor.name = cs.text;
      } else if (cs.kind == SExp::List && !cs.items.empty() && cs.items[0].kind == SExp::Atom) {
        ctor.name = cs.items[0].text;
        const auto& it = cs.items;
        for (size_t k = 1; k < it.size(); k += 3) {
          if (k + 2 >= it.size() || it[k].kind != SExp::Atom || it[k + 1].kind != SExp::DColon)
            throw SolverError("malformed constructor: " + cs.show());
          ctor.fields.emplace_back(it[k].text, typeInDatatype(it[k + 2], name));
        }
      } else {
        throw SolverError("malformed constructor: " + cs.show());
      }
      t->ctors.push_back(std::move(ctor));
    }
    if (t->ctors.empty()) throw SolverError("a datatype needs at least one constructor");
    std::vector<Z3_constructor> zc;
    for (const auto& ctor : t->ctors) {
      std::vector<Z3_symbol> fnames;
      std::vector<Z3_sort> fsorts;
      std::vector<unsigned> refs;
      for (const auto& f : ctor.fields) {
        fnames.push_back(Z3_mk_string_symbol(c, f.first.c_str()));
        fsorts.push_back(f.second ? static_cast<Z3_sort>(*f.second->sort) : nullptr);
        refs.push_back(0);
      }
      std::string tester = "is-" + ctor.name;
      zc.push_back(Z3_mk_constructor(c, Z3_mk_string_symbol(c, ctor.name.c_str()),
                                     Z3_mk_string_symbol(c, tester.c_str()), static_cast<unsigned>(fnames.size()),
                                     fnames.data(), fsorts.data(), refs.data()));
    }
    Z3_sort srt = Z3_mk_datatype(c, Z3_mk_string_symbol(c, sname.c_str()), static_cast<unsigned>(zc.size()), zc.data());
    c.check_error();
    t->sort = z3::sort(c, srt);
    for (size_t i = 0; i < zc.size(); ++i) {
      size_t nf = t->ctors[i].fields.size();
      Z3_func_decl cd, td;
      std::vector<Z3_func_decl> acc(nf + 1);
      Z3_query_constructor(c, zc[i], static_cast<unsigned>(nf), &cd, &td, acc.data());
      t->ctorDecls.emplace_back(c, cd);
      t->testers.emplace_back(c, td);
      t->accessors.emplace_back();
      for (size_t k = 0; k < nf; ++k) t->accessors.back().emplace_back(c, acc[k]);
      g_.declMeta.emplace(t->ctorDecls.back().id(), DeclMeta{DeclMeta::Constructor, t->ctors[i].name, {}});
    }
    for (auto z : zc) Z3_del_constructor(c, z);
  }
  TypeP tp = t;
  g_.registerSort(tp);
  // The names that the type brings with it.
  if (isScalar) {
    for (size_t i = 0; i < t->scalars.size(); ++i) {
      Symbol s;
      s.kind = Symbol::ScalarElem;
      s.name = t->scalars[i];
      s.type = tp;
      s.owner = tp;
      s.ctor = i;
      addSymbol(std::move(s));
    }
  } else {
    for (size_t i = 0; i < t->ctors.size(); ++i) {
      const Ctor& ctor = t->ctors[i];
      auto fieldType = [&](const Field& f) { return f.second ? f.second : tp; };
      Symbol s;
      s.kind = Symbol::Constructor;
      s.name = ctor.name;
      s.owner = tp;
      s.ctor = i;
      if (ctor.fields.empty()) {
        s.type = tp;
      } else {
        std::vector<TypeP> elems;
        for (const auto& f : ctor.fields) elems.push_back(fieldType(f));
        elems.push_back(tp);
        s.type = makeFunction(elems);
      }
      addSymbol(std::move(s));
      Symbol r;
      r.kind = Symbol::Recognizer;
      r.name = ctor.name + "?";
      r.owner = tp;
      r.ctor = i;
      r.type = makeFunction({tp, g_.boolT});
      addSymbol(std::move(r));
      for (size_t k = 0; k < ctor.fields.size(); ++k) {
        Symbol a;
        a.kind = Symbol::Selector;
        a.name = ctor.fields[k].first;
        a.owner = tp;
        a.ctor = i;
        a.field = k;
        a.type = makeFunction({tp, fieldType(ctor.fields[k])});
        addSymbol(std::move(a));
      }
    }
  }
  return tp;
}

// ---------------------------------------------------------------- expressions

static std::shared_ptr<Expr> node(ExprKind k) {
  auto e = std::make_shared<Expr>();
  e->kind = k;
  return e;
}

// A name or a literal.
ExprP Builder::atom(const SExp& s) {
  if (s.text == "true" || s.text == "false") {
    auto e = node(ExprKind::BoolLit);
    e->boolVal = s.text == "true";
    return e;
  }
  if (looksNumeric(s.text)) {
    auto e = node(ExprKind::NumLit);
    bool ok;
    e->num = std::make_unique<const mpq_class>(parseNumber(s.text, e->isInt, ok));
    if (!ok) throw SolverError("malformed number \"" + s.text + "\"");
    return e;
  }
  if (isReservedWord(s.text)) throw SolverError("\"" + s.text + "\" is a keyword, not a value");
  auto e = node(ExprKind::Name);
  e->name = s.text;
  return e;
}

ExprP Builder::expr(const SExp& s) {
  if (s.kind == SExp::Atom) {
    if (auto it = atoms_.find(s.text); it != atoms_.end()) return it->second;
    ExprP e = atom(s);
    if (atoms_.size() >= kMaxAtoms) atoms_.clear();
    atoms_.emplace(s.text, e);
    return e;
  }
  if (s.kind == SExp::String) throw SolverError("a string literal is not an expression");
  if (s.kind == SExp::DColon) throw SolverError("\"::\" outside a binder");
  if (s.items.empty()) throw SolverError("an empty list is not an expression");
  const SExp& head = s.items[0];
  const size_t n = s.items.size() - 1;  // operands
  auto operands = [&](std::shared_ptr<Expr>& e) {
    e->args.reserve(e->args.size() + n);
    for (size_t i = 1; i < s.items.size(); ++i) e->args.push_back(expr(s.items[i]));
  };
  auto exactly = [&](size_t k, const char* kw) {
    if (n != k)
      throw SolverError(std::string("\"") + kw + "\" takes " + std::to_string(k) + " operand" +
                        (k == 1 ? "" : "s") + ", " + std::to_string(n) + " given");
  };
  auto atLeast = [&](size_t k, const char* kw) {
    if (n < k)
      throw SolverError(std::string("\"") + kw + "\" takes at least " + std::to_string(k) + " operand" +
                        (k == 1 ? "" : "s") + ", " + std::to_string(n) + " given");
  };
  // A head built before as a name or a number is no keyword: most heads are the names
  // of functions.
  auto built = head.kind == SExp::Atom ? atoms_.find(head.text) : atoms_.end();
  bool knownValue = built != atoms_.end() && built->second->kind != ExprKind::BoolLit;
  if (head.kind == SExp::Atom && !knownValue) {
    // The forms with plain operands: keyword, form, least and greatest operand count
    // (-1: no bound). They are most of the lists, so they are looked up first.
    struct Simple { ExprKind kind; int least, most; };
    static const std::unordered_map<std::string, Simple> simple = {
        {"and", {ExprKind::And, 0, -1}},     {"or", {ExprKind::Or, 0, -1}},     {"not", {ExprKind::Not, 1, 1}},
        {"=>", {ExprKind::Implies, 2, 2}},   {"=", {ExprKind::Eq, 2, 2}},       {"/=", {ExprKind::Neq, 2, 2}},
        {"<", {ExprKind::Lt, 2, 2}},         {"<=", {ExprKind::Le, 2, 2}},      {">", {ExprKind::Gt, 2, 2}},
        {">=", {ExprKind::Ge, 2, 2}},        {"+", {ExprKind::Add, 1, -1}},     {"-", {ExprKind::Sub, 1, -1}},
        {"*", {ExprKind::Mul, 1, -1}},       {"/", {ExprKind::Div, 2, -1}},     {"div", {ExprKind::IntDiv, 2, 2}},
        {"mod", {ExprKind::Mod, 2, 2}},      {"if", {ExprKind::Ite, 3, 3}},     {"ite", {ExprKind::Ite, 3, 3}},
        {"mk-tuple", {ExprKind::MkTuple, 1, -1}}};
    const std::string& kw = head.text;
    auto sm = simple.find(kw);
    if (sm != simple.end()) {
      const Simple& f = sm->second;
      if (f.least == f.most) exactly(static_cast<size_t>(f.least), kw.c_str());
      else atLeast(static_cast<size_t>(f.least), kw.c_str());
      auto e = node(f.kind);
      operands(e);
      return e;
    }
  }
  if (head.kind == SExp::Atom && !knownValue && isReservedWord(head.text)) {
    const std::string& kw = head.text;
    if (kw == "forall" || kw == "exists" || kw == "lambda") {
      exactly(2, kw.c_str());
      auto e = node(kw == "forall" ? ExprKind::Forall : kw == "exists" ? ExprKind::Exists : ExprKind::Lambda);
      e->binders = binders(s.items[1], kw.c_str());
      e->args.push_back(expr(s.items[2]));
      return e;
    }
    if (kw == "let") {
      exactly(2, "let");
      const SExp& bl = s.items[1];
      if (bl.kind != SExp::List || bl.items.empty()) throw SolverError("\"let\" needs a list of bindings");
      auto e = node(ExprKind::Let);
      for (const SExp& b : bl.items) {
        if (b.kind != SExp::List || b.items.empty() || b.items[0].kind != SExp::Atom)
          throw SolverError("malformed let binding: " + b.show());
        const std::string& name = b.items[0].text;
        if (isReservedWord(name) || looksNumeric(name)) throw SolverError("\"" + name + "\" cannot be bound");
        if (b.items.size() == 2) {
          e->binders.push_back(Binder{name, nullptr});
          e->args.push_back(expr(b.items[1]));
        } else if (b.items.size() == 4 && b.items[1].kind == SExp::DColon) {
          e->binders.push_back(Binder{name, type(b.items[2])});
          e->args.push_back(expr(b.items[3]));
        } else {
          throw SolverError("malformed let binding: " + b.show());
        }
      }
      e->args.push_back(expr(s.items[2]));
      return e;
    }
    if (kw == "mk-record") {
      auto e = node(ExprKind::MkRecord);
      const auto& it = s.items;
      for (size_t k = 1; k < it.size(); k += 3) {
        if (k + 2 >= it.size() || it[k].kind != SExp::Atom || it[k + 1].kind != SExp::DColon)
          throw SolverError("malformed record field in " + s.show());
        for (const auto& b : e->binders)
          if (b.name == it[k].text) throw SolverError("field \"" + b.name + "\" given twice");
        e->binders.push_back(Binder{it[k].text, nullptr});
        e->args.push_back(expr(it[k + 2]));
      }
      if (e->binders.empty()) throw SolverError("\"mk-record\" needs fields");
      return e;
    }
    if (kw == "select") {
      exactly(2, "select");
      const SExp& ix = s.items[2];
      if (ix.kind != SExp::Atom) throw SolverError("the index of \"select\" is a number or a field name");
      bool isInt, ok;
      mpq_class q = parseNumber(ix.text, isInt, ok);
      std::shared_ptr<Expr> e;
      if (ok) {
        if (!isInt || q < 1 || !q.get_num().fits_slong_p()) throw SolverError("bad tuple index " + ix.text);
        e = node(ExprKind::SelectTuple);
        e->index = q.get_num().get_si();
      } else {
        e = node(ExprKind::SelectRecord);
        e->name = ix.text;
      }
      e->args.push_back(expr(s.items[1]));
      return e;
    }
    if (kw == "update") {
      exactly(3, "update");
      const SExp& ix = s.items[2];
      std::shared_ptr<Expr> e;
      if (ix.kind == SExp::List) {
        e = node(ExprKind::UpdateFun);
        e->args.push_back(expr(s.items[1]));
        if (ix.items.empty()) throw SolverError("a function update needs arguments");
        for (const auto& a : ix.items) e->args.push_back(expr(a));
      } else if (ix.kind == SExp::Atom) {
        bool isInt, ok;
        mpq_class q = parseNumber(ix.text, isInt, ok);
        if (ok) {
          if (!isInt || q < 1 || !q.get_num().fits_slong_p()) throw SolverError("bad tuple index " + ix.text);
          e = node(ExprKind::UpdateTuple);
          e->index = q.get_num().get_si();
        } else {
          e = node(ExprKind::UpdateRecord);
          e->name = ix.text;
        }
        e->args.push_back(expr(s.items[1]));
      } else {
        throw SolverError("malformed update: " + s.show());
      }
      e->args.push_back(expr(s.items[3]));
      return e;
    }
    throw SolverError("\"" + kw + "\" cannot stand at the head of an expression");
  }
  if (n == 0) throw SolverError("an application needs at least one argument: " + s.show());
  auto e = node(ExprKind::App);
  e->args.reserve(s.items.size());
  e->args.push_back(expr(head));
  operands(e);
  return e;
}

// ---------------------------------------------------------------- type checker

static std::string ordinal(size_t i) { return "operand " + std::to_string(i + 1); }

TypeP Checker::checkBool(const Expr& e, const char* what, const LocalTypes* locals) {
  TypeP t = check(e, locals);
  if (baseOf(*t).kind != TypeKind::Bool)
    throw SolverError(std::string(what) + " must be a formula, it has type " + showType(*t));
  return t;
}

TypeP Checker::checkNumeric(const Expr& e, size_t i, const Expr& arg, const LocalTypes* locals) {
  TypeP t = check(arg, locals);
  if (!isNumeric(*t))
    throw SolverError(std::string("\"") + kindKeyword(e.kind) + "\": " + ordinal(i) + " has type " + showType(*t) +
                      ", a number is expected");
  return t;
}

TypeP Checker::joinTypes(const TypeP& a, const TypeP& b, const char* what) {
  if (!compatible(*a, *b))
    throw SolverError(std::string(what) + ": incompatible types " + showType(*a) + " and " + showType(*b));
  const Type& x = baseOf(*a);
  const Type& y = baseOf(*b);
  if (isNumeric(x)) return x.kind == TypeKind::Real || y.kind == TypeKind::Real ? g_.realT : g_.intT;
  if (a.get() == b.get()) return a;
  if (x.kind == TypeKind::Tuple) {
    std::vector<TypeP> elems;
    for (size_t i = 0; i < x.elems.size(); ++i) elems.push_back(joinTypes(x.elems[i], y.elems[i], what));
    return g_.tupleType(elems);
  }
  if (x.kind == TypeKind::Record) {
    std::vector<Field> fields;
    for (size_t i = 0; i < x.fields.size(); ++i)
      fields.emplace_back(x.fields[i].first, joinTypes(x.fields[i].second, y.fields[i].second, what));
    return g_.recordType(fields);
  }
  if (x.kind == TypeKind::Function) {
    std::vector<TypeP> elems;
    for (size_t i = 0; i + 1 < x.elems.size(); ++i) elems.push_back(x.elems[i]);
    elems.push_back(joinTypes(x.elems.back(), y.elems.back(), what));
    return makeFunction(elems);
  }
  return a->kind == TypeKind::Subrange || a->kind == TypeKind::Subtype ? TypeP(a->base) : a;
}

TypeP Checker::check(const Expr& e, const LocalTypes* locals) {
  switch (e.kind) {
    case ExprKind::Name: {
      for (const LocalTypes* l = locals; l; l = l->next)
        if (l->name == e.name) return l->type;
      if (const SymbolP* s = g_.lookup(e.name)) return (*s)->type;
      throw SolverError("unknown name \"" + e.name + "\"");
    }
    case ExprKind::BoolLit: return g_.boolT;
    case ExprKind::NumLit: return e.isInt ? g_.intT : g_.realT;
    case ExprKind::App: {
      TypeP f = check(*e.args[0], locals);
      if (!baseOf(*f).isFunction())
        throw SolverError("applied to arguments, but not a function: it has type " + showType(*f));
      const Type& ft = baseOf(*f);
      size_t given = e.args.size() - 1;
      if (given != ft.arity())
        throw SolverError("a function of type " + showType(ft) + " applied to " + std::to_string(given) +
                          " argument" + (given == 1 ? "" : "s") + ", it takes " + std::to_string(ft.arity()));
      for (size_t i = 0; i < given; ++i) {
        TypeP a = check(*e.args[i + 1], locals);
        if (!fits(*a, *ft.elems[i]))
          throw SolverError("argument " + std::to_string(i + 1) + " has type " + showType(*a) + ", " +
                            showType(*ft.elems[i]) + " is expected");
      }
      return ft.range();
    }
    case ExprKind::And:
    case ExprKind::Or:
    case ExprKind::Not:
    case ExprKind::Implies:
      for (size_t i = 0; i < e.args.size(); ++i) {
        TypeP t = check(*e.args[i], locals);
        if (baseOf(*t).kind != TypeKind::Bool)
          throw SolverError(std::string("\"") + kindKeyword(e.kind) + "\": " + ordinal(i) + " has type " +
                            showType(*t) + ", bool is expected");
      }
      return g_.boolT;
    case ExprKind::Eq:
    case ExprKind::Neq:
      joinTypes(check(*e.args[0], locals), check(*e.args[1], locals),
                e.kind == ExprKind::Eq ? "\"=\"" : "\"/=\"");
      return g_.boolT;
    case ExprKind::Lt:
    case ExprKind::Le:
    case ExprKind::Gt:
    case ExprKind::Ge:
      for (size_t i = 0; i < 2; ++i) checkNumeric(e, i, *e.args[i], locals);
      return g_.boolT;
    case ExprKind::Add:
    case ExprKind::Sub:
    case ExprKind::Mul: {
      bool real = false;
      for (size_t i = 0; i < e.args.size(); ++i)
        real |= baseOf(*checkNumeric(e, i, *e.args[i], locals)).kind == TypeKind::Real;
      return real ? g_.realT : g_.intT;
    }
    case ExprKind::Div:
      for (size_t i = 0; i < e.args.size(); ++i) checkNumeric(e, i, *e.args[i], locals);
      return g_.realT;
    case ExprKind::IntDiv:
    case ExprKind::Mod:
      for (size_t i = 0; i < 2; ++i) {
        TypeP t = checkNumeric(e, i, *e.args[i], locals);
        if (baseOf(*t).kind != TypeKind::Int)
          throw SolverError(std::string("\"") + kindKeyword(e.kind) + "\": " + ordinal(i) + " has type " +
                            showType(*t) + ", int is expected");
      }
      return g_.intT;
    case ExprKind::Ite: {
      checkBool(*e.args[0], "the condition of \"if\"", locals);
      return joinTypes(check(*e.args[1], locals), check(*e.args[2], locals), "the branches of \"if\"");
    }
    case ExprKind::Let: {
      // Bindings are sequential: each sees the ones before it.
      std::vector<std::unique_ptr<LocalTypes>> frames;
      std::vector<TypeP> types(e.binders.size());
      const LocalTypes* env = locals;
      for (size_t i = 0; i < e.binders.size(); ++i) {
        TypeP v = check(*e.args[i], env);
        if (e.binders[i].type) {
          if (!fits(*v, *e.binders[i].type))
            throw SolverError("let binding \"" + e.binders[i].name + "\": the value has type " + showType(*v) +
                              ", " + showType(*e.binders[i].type) + " is declared");
          v = e.binders[i].type;
        }
        types[i] = v;
        frames.push_back(std::make_unique<LocalTypes>(LocalTypes{e.binders[i].name, types[i], env}));
        env = frames.back().get();
      }
      return check(*e.args.back(), env);
    }
    case ExprKind::Forall:
    case ExprKind::Exists:
    case ExprKind::Lambda: {
      std::vector<std::unique_ptr<LocalTypes>> frames;
      const LocalTypes* env = locals;
      for (const auto& b : e.binders) {
        frames.push_back(std::make_unique<LocalTypes>(LocalTypes{b.name, b.type, env}));
        env = frames.back().get();
      }
      if (e.kind != ExprKind::Lambda) {
        checkBool(*e.args[0], e.kind == ExprKind::Forall ? "the body of \"forall\"" : "the body of \"exists\"", env);
        return g_.boolT;
      }
      std::vector<TypeP> elems;
      for (const auto& b : e.binders) elems.push_back(b.type);
      elems.push_back(check(*e.args[0], env));
      return makeFunction(elems);
    }
    case ExprKind::MkTuple: {
      std::vector<TypeP> elems;
      for (const auto& a : e.args) {
        TypeP t = check(*a, locals);
        if (baseOf(*t).isFunction()) throw SolverError("a tuple of functions is not supported");
        elems.push_back(t);
      }
      return g_.tupleType(elems);
    }
    case ExprKind::MkRecord: {
      std::vector<Field> fields;
      for (size_t i = 0; i < e.args.size(); ++i) {
        TypeP t = check(*e.args[i], locals);
        if (baseOf(*t).isFunction()) throw SolverError("a record of functions is not supported");
        fields.emplace_back(e.binders[i].name, t);
      }
      return g_.recordType(fields);
    }
    case ExprKind::SelectTuple:
    case ExprKind::UpdateTuple: {
      TypeP t = check(*e.args[0], locals);
      const Type& b = baseOf(*t);
      if (b.kind != TypeKind::Tuple) throw SolverError("\"" + std::string(kindKeyword(e.kind)) +
                                                       "\" with an index on a value of type " + showType(*t) +
                                                       ", a tuple is expected");
      if (e.index > static_cast<long>(b.elems.size()))
        throw SolverError("tuple index " + std::to_string(e.index) + " beyond the " +
                          std::to_string(b.elems.size()) + " components");
      const TypeP& comp = b.elems[e.index - 1];
      if (e.kind == ExprKind::SelectTuple) return comp;
      TypeP v = check(*e.args[1], locals);
      if (!fits(*v, *comp))
        throw SolverError("update of tuple component " + std::to_string(e.index) + ": the value has type " +
                          showType(*v) + ", " + showType(*comp) + " is expected");
      return t;
    }
    case ExprKind::SelectRecord:
    case ExprKind::UpdateRecord: {
      TypeP t = check(*e.args[0], locals);
      const Type& b = baseOf(*t);
      if (b.kind != TypeKind::Record) throw SolverError("\"" + std::string(kindKeyword(e.kind)) + "\" of field \"" +
                                                        e.name + "\" on a value of type " + showType(*t) +
                                                        ", a record is expected");
      for (const auto& f : b.fields) {
        if (f.first != e.name) continue;
        if (e.kind == ExprKind::SelectRecord) return f.second;
        TypeP v = check(*e.args[1], locals);
        if (!fits(*v, *f.second))
          throw SolverError("update of field \"" + e.name + "\": the value has type " + showType(*v) + ", " +
                            showType(*f.second) + " is expected");
        return t;
      }
      throw SolverError("the record type " + showType(b) + " has no field \"" + e.name + "\"");
    }
    case ExprKind::UpdateFun: {
      TypeP f = check(*e.args[0], locals);
      const Type& ft = baseOf(*f);
      if (!ft.isFunction()) throw SolverError("\"update\" with an argument list on a value of type " + showType(*f) +
                                              ", a function is expected");
      size_t given = e.args.size() - 2;
      if (given != ft.arity())
        throw SolverError("\"update\" of a function of type " + showType(ft) + " at " + std::to_string(given) +
                          " argument" + (given == 1 ? "" : "s") + ", it takes " + std::to_string(ft.arity()));
      for (size_t i = 0; i < given; ++i) {
        TypeP a = check(*e.args[i + 1], locals);
        if (!fits(*a, *ft.elems[i]))
          throw SolverError("\"update\": argument " + std::to_string(i + 1) + " has type " + showType(*a) + ", " +
                            showType(*ft.elems[i]) + " is expected");
      }
      TypeP v = check(*e.args.back(), locals);
      if (baseOf(*v).isFunction()) throw SolverError("\"update\" with a function as the new value is not supported");
      if (!fits(*v, *ft.range()))
        throw SolverError("\"update\": the new value has type " + showType(*v) + ", " + showType(*ft.range()) +
                          " is expected");
      return f;
    }
  }
  throw SolverError("internal error: unknown expression form");
}

}  // namespace vxsolver
