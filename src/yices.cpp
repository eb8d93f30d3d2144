#include "yices.hpp"

#include <cmath>
#include <ranges>
#include <string_view>
#include <unordered_map>

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

// ---------------------------------------------------------------------------------------
// Name clashes

namespace {

// The words of the solver's language that a domain identifier can spell.
constexpr std::string_view kSolverWords[] = {
    "and",    "or",     "not",     "xor",   "if",       "ite",      "let",      "forall",
    "exists", "lambda", "true",    "false", "int",      "real",     "bool",     "nat",
    "div",    "mod",    "select",  "update", "tuple",   "record",   "scalar",   "subtype",
    "subrange", "datatype", "bitvector"};

// Names of the encoding itself, declared globally or bound inside every body.
constexpr std::string_view kEncodingNames[] = {
    "proc_tag", "tag_array", "ALL_ref", "Int_arg", "exclude_type", "frame_type",
    "all-frames", "actions", "idx", "obj", "exclude_pred", "frm"};

// Where a declared name comes from, put into words only when two declarations clash:
// what, the name, " of <kind> <owner>", " (<file>)" -- each part when it is there. The texts
// it points to outlive the check.
struct Origin {
  std::string_view what;              // "structure", "a name of the encoding", ...
  const std::string* name = nullptr;  // the declaration's own name
  std::string_view ofKind;            // the kind of the owner: "structure", "procedure", ...
  const std::string* owner = nullptr;
  const std::string* in = nullptr;    // the file it is declared in

  std::string text() const {
    std::string t(what);
    if (name) t += " " + *name;
    if (owner) t += " of " + std::string(ofKind) + " " + *owner;
    if (in) t += " (" + *in + ")";
    return t;
  }
};

class NameTable {
 public:
  // Declares name for the declaration `origin`; fatal when another declaration has it.
  void add(const std::string& name, const Origin& origin) {
    auto [it, fresh] = names_.emplace(name, origin);
    if (!fresh) clash(name, it->second, origin);
  }
  // Fatal when name is declared already.
  void use(const std::string& name, const Origin& origin) const {
    auto it = names_.find(name);
    if (it != names_.end()) clash(name, it->second, origin);
  }

 private:
  [[noreturn]] static void clash(const std::string& name, const Origin& first, const Origin& second) {
    fatal("name clash: " + first.text() + " and " + second.text() + " would both be named " + name +
          " in the solver's input; rename one of them");
  }
  std::unordered_map<std::string, Origin> names_;
};

bool someParameterOf(const std::vector<ast::Procedure>& procs, bool (*is)(const Type&)) {
  for (const auto& p : procs)
    for (const auto& d : p.prcdArgs)
      if (is(d.declType)) return true;
  return false;
}

// A list walked backwards (plain reverse iterators: clang 14 cannot instantiate the
// standard library's range views).
template <class L>
struct Backwards {
  const L& list;
  auto begin() const { return list.rbegin(); }
  auto end() const { return list.rend(); }
};

template <class L>
Backwards<L> fileOrder(const L& list) {
  return {list};  // the domain's lists are in reverse file order
}

const Origin kSolverWord{"a word of the solver's language", nullptr, {}, nullptr, nullptr};
const Origin kEncodingName{"a name of the encoding", nullptr, {}, nullptr, nullptr};

// The names of the encoding and of every global declaration of the domain, without the
// procedures' own names and tags (only the goal variables can meet those).
NameTable bodyNames(const ast::Domain& dom, const std::string& in) {
  NameTable t;
  for (std::string_view w : kSolverWords) t.add(std::string(w), kSolverWord);
  for (std::string_view n : kEncodingNames) t.add(std::string(n), kEncodingName);
  if (someParameterOf(dom.domProcs, [](const Type& x) { return x.is<BoolType>(); }))
    t.add("Bool_arg", kEncodingName);
  if (someParameterOf(dom.domProcs, [](const Type& x) { return x.is<DoubleType>(); }))
    t.add("Double_arg", kEncodingName);
  for (const Struct& st : fileOrder(dom.domStructs)) {
    const std::string& n = st.structName;
    const Origin origin{"structure", &n, {}, nullptr, &in};
    for (const std::string& derived :
         {structStr(n), nullStr(n), allWrapStr(n), allUnwrapStr(n), n + "_arg", n + "_eq",
          n + "_frame_single", n + "_frame_all"})
      t.add(derived, origin);
    for (int k = 1; k <= 4; ++k) t.add(objName(n, k), origin);
  }
  for (const Struct& st : fileOrder(dom.domStructs))
    for (const Decl& f : st.structDecls)
      t.add(f.declName, Origin{"field", &f.declName, "structure", &st.structName, &in});
  for (const auto& f : fileOrder(dom.domFuncs)) t.add(f.prcdName, Origin{"function", &f.prcdName, {}, nullptr, &in});
  return t;
}

// A parameter is bound inside its own procedure's body, where it would hide every global
// name the body reads: the encoding's, the structures', fields, functions and the
// procedure's own tag. Parameters named idx, obj or null_S have their own message (see
// checkParamNames in the domain encoding).
void checkParams(const NameTable& globals, const ast::Domain& dom, const ast::Procedure& p,
                 const char* kind, const std::string& in) {
  NameTable params;
  const std::string tag = procTagStr(p.prcdName);
  for (const Decl& d : p.prcdArgs) {
    if (d.declName == idxStr || d.declName == objStr) continue;
    bool isNull = false;
    for (const Struct& st : dom.domStructs) isNull = isNull || d.declName == nullStr(st.structName);
    if (isNull) continue;
    const Origin origin{"parameter", &d.declName, kind, &p.prcdName, &in};
    if (d.declName == tag) params.add(tag, Origin{kind, &p.prcdName, {}, nullptr, &in});
    globals.use(d.declName, origin);
    params.add(d.declName, origin);
  }
}

// A structure type names a structure of the domain: the encoding declares no other.
void requireKnownType(const ast::Domain& dom, const Type& t, const Origin& what) {
  const StructType* s = t.as<StructType>();
  if (!s) return;
  for (const Struct& st : dom.domStructs)
    if (st.structName == s->name) return;
  fatal(what.text() + " has type " + showType(t) + ", which is not a structure of the domain");
}

void requireKnownTypes(const ast::Domain& dom, const std::string& in) {
  for (const Struct& st : fileOrder(dom.domStructs))
    for (const Decl& f : st.structDecls)
      requireKnownType(dom, f.declType, Origin{"field", &f.declName, "structure", &st.structName, &in});
  auto procs = [&](const std::vector<ast::Procedure>& ps, const char* kind) {
    for (const auto& p : fileOrder(ps)) {
      for (const Decl& d : p.prcdArgs)
        requireKnownType(dom, d.declType, Origin{"parameter", &d.declName, kind, &p.prcdName, &in});
      requireKnownType(dom, p.prcdResult, Origin{kind, &p.prcdName, {}, nullptr, &in});
    }
  };
  procs(dom.domFuncs, "function");
  procs(dom.domProcs, "procedure");
}

NameTable allNames(const ast::Domain& dom, const std::string& in) {
  requireKnownTypes(dom, in);
  NameTable t = bodyNames(dom, in);
  for (const auto& f : fileOrder(dom.domFuncs)) checkParams(t, dom, f, "function", in);
  for (const auto& p : fileOrder(dom.domProcs)) checkParams(t, dom, p, "procedure", in);
  for (const auto& p : fileOrder(dom.domProcs)) {
    const Origin origin{"procedure", &p.prcdName, {}, nullptr, &in};
    t.add(p.prcdName, origin);
    t.add(procTagStr(p.prcdName), origin);
  }
  return t;
}

}  // namespace

void checkDomainNames(const ast::Domain& dom, const std::string& domainFile) {
  (void)allNames(dom, domainFile);
}

void checkGoalNames(const ast::Domain& dom, const std::vector<Decl>& goalVars,
                    const std::string& domainFile, const std::string& serialFile) {
  NameTable t = allNames(dom, domainFile);
  for (const Decl& v : goalVars) {
    const Origin origin{"goal variable", &v.declName, {}, nullptr, &serialFile};
    requireKnownType(dom, v.declType, origin);
    t.add(v.declName, origin);
  }
}

// ---------------------------------------------------------------------------------------

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
