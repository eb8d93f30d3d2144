#include "ys_session.hpp"

#include <pthread.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unordered_map>

namespace vxsolver {

// ---------------------------------------------------------------- output

void Output::text(const std::string& s) {
  if (s.empty()) return;
  os_ << s;
  atLineStart_ = s.back() == '\n';
  wrote_ = true;
}

void Output::prompt() {
  os_ << "yices > ";
  atLineStart_ = false;
}

void Output::endLine() {
  if (!atLineStart_) {
    os_ << '\n';
    atLineStart_ = true;
  }
}

void Output::endCommand() {
  if (wrote_) endLine();
  wrote_ = false;
  flush();
}

void Output::flush() { os_.flush(); }

// ---------------------------------------------------------------- session

Session::Session(std::ostream& out, std::ostream& err, Options opt, std::string program)
    : g_(ctx_), checker_(g_), builder_(g_, checker_), tr_(g_), solver_(ctx_), out_(out), err_(err), opt_(opt),
      program_(std::move(program)), alone_(opt.aloneLimit > 0) {
  renewMain();
}

void Session::renewMain() {
  solver_ = z3::solver(ctx_);
  configure(solver_, mainConfig_);
  for (const auto& g : given_)
    if (g.kind != Given::Push) solver_.add(g.guarded);
}

void Session::addToSolvers(const z3::expr& guarded, const z3::expr& plain) {
  solver_.add(guarded);
  given_.push_back(Given{Given::Assert, guarded, plain});
}

Session::~Session() { awaitFill(); }

std::string Session::lastAssertion() const { return last_ ? last_->to_string() : std::string(); }

// A message with its control characters other than line ends written as \\xNN.
static std::string printable(const std::string& s) {
  static const char hex[] = "0123456789abcdef";
  std::string t;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c < 32 && c != '\n') || c == 127) {
      t += "\\x";
      t += hex[c >> 4];
      t += hex[c & 15];
    } else {
      t += ch;
    }
  }
  return t;
}

// The start of a command for a message: one line, blanks collapsed, at most about 80
// characters.
static std::string clip(const std::string& s) {
  constexpr size_t kShown = 80;
  std::string t;
  bool space = false;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool ws = c == ' ' || (c >= 9 && c <= 13);
    if (ws) {
      space = !t.empty();
      continue;
    }
    if (t.size() >= kShown) return printable(t) + " ...";
    if (space) t += ' ';
    space = false;
    t += ch;
  }
  return printable(t);  // no NUL either, which would end the message
}

int Session::runCommands(CharSource& src, bool interactive, const std::string& where) {
  Reader reader(src);
  std::string raw;
  int line = 0;
  for (;;) {
    if (interactive) out_.prompt();
    std::optional<SExp> cmd;
    try {
      cmd = reader.readCommand(raw, line);
      if (!cmd) {
        out_.endLine();
        out_.flush();
        return 0;
      }
      bool more = execute(*cmd);
      out_.endCommand();
      if (!more) {
        out_.endLine();
        out_.flush();
        return -1;
      }
    } catch (const SolverError& e) {
      out_.endCommand();
      throw SolverError(where + "input line " + std::to_string(line) + ": " + (raw.empty() ? "" : clip(raw) + ": ") +
                        e.what());
    } catch (const z3::exception& e) {
      out_.endCommand();
      throw SolverError(where + "input line " + std::to_string(line) + ": " + (raw.empty() ? "" : clip(raw) + ": ") +
                        "the Z3 library failed: " + e.msg());
    }
  }
}

int Session::runHere(CharSource& src) {
  try {
    runCommands(src, opt_.interactive, "");
    return 0;
  } catch (const std::exception& e) {
    out_.endLine();
    out_.flush();
    err_ << program_ << ": " << printable(e.what()) << "\n";
    err_.flush();
    return 1;
  }
}

namespace {

// Reading, checking and expanding commands recurse over their nesting, so the session
// runs on a thread whose stack has room for every depth that the reader and the
// expansion of definitions admit.
constexpr size_t kStackBytes = size_t(4) << 30;

struct RunCall {
  Session* session;
  CharSource* src;
  int status;
  int (Session::*body)(CharSource&);
};

void* runCall(void* p) {
  auto* c = static_cast<RunCall*>(p);
  c->status = (c->session->*(c->body))(*c->src);
  return nullptr;
}

}  // namespace

int Session::run(CharSource& src) {
  RunCall call{this, &src, 1, &Session::runHere};
  pthread_attr_t attr;
  pthread_t thread;
  bool started = false;
  if (pthread_attr_init(&attr) == 0) {
    started = pthread_attr_setstacksize(&attr, kStackBytes) == 0 && pthread_create(&thread, &attr, runCall, &call) == 0;
    pthread_attr_destroy(&attr);
  }
  if (!started) return runHere(src);  // no room for a big stack: run on this one
  pthread_join(thread, nullptr);
  return call.status;
}

static void arity(const SExp& cmd, size_t least, size_t most) {
  size_t n = cmd.items.size() - 1;
  if (n < least || n > most) {
    std::string want = least == most ? std::to_string(least) : std::to_string(least) + " or " + std::to_string(most);
    throw SolverError("\"" + cmd.items[0].text + "\" takes " + want + " operand" + (most == 1 ? "" : "s") + ", " +
                      std::to_string(n) + " given");
  }
}

static bool boolOperand(const SExp& s) {
  if (s.isAtom("true")) return true;
  if (s.isAtom("false")) return false;
  throw SolverError("true or false expected, found " + s.show());
}

static mpz_class intOperand(const SExp& s) {
  bool isInt = false, ok = false;
  mpq_class q = s.kind == SExp::Atom ? parseNumber(s.text, isInt, ok) : mpq_class(0);
  if (!ok || !isInt) throw SolverError("an integer expected, found " + s.show());
  return q.get_num();
}

bool Session::execute(const SExp& cmd) {
  if (cmd.items.empty() || cmd.items[0].kind != SExp::Atom) throw SolverError("a command must start with its keyword");
  const std::string& kw = cmd.items[0].text;
  if (kw == "define-type") {
    defineType(cmd);
  } else if (kw == "define") {
    define(cmd);
  } else if (kw == "assert") {
    arity(cmd, 1, 1);
    assertFormula(cmd.items[1]);
  } else if (kw == "assert+") {
    arity(cmd, 1, 2);
    ExprP e = builder_.expr(cmd.items[1]);
    checker_.checkBool(*e, "an assertion");
    std::optional<mpz_class> weight;
    if (cmd.items.size() == 3) weight = intOperand(cmd.items[2]);
    z3::expr f = tr_.formula(*e);
    long id = nextRetractId_++;
    z3::expr ind = ctx_.bool_const(("assert+!" + std::to_string(id)).c_str());
    addToSolvers(guarded(z3::implies(ind, f)), z3::implies(ind, f));
    g_.cur.retractables.push_back(Retractable{id, ind, f, weight, false});
    last_ = f;
    status_ = "unknown";
    out_.line("id: " + std::to_string(id));
  } else if (kw == "retract") {
    arity(cmd, 1, 1);
    mpz_class id = intOperand(cmd.items[1]);
    bool found = false;
    for (auto& r : g_.cur.retractables)
      if (!r.retracted && mpz_class(r.id) == id) r.retracted = found = true;
    if (!found) throw SolverError("no retractable assertion has the id " + id.get_str());
    status_ = "unknown";
  } else if (kw == "check") {
    arity(cmd, 0, 0);
    check();
  } else if (kw == "max-sat") {
    arity(cmd, 0, 0);
    maxSat();
  } else if (kw == "set-evidence!") {
    arity(cmd, 1, 1);
    opt_.evidence = boolOperand(cmd.items[1]);
  } else if (kw == "set-arith-only!") {
    arity(cmd, 1, 1);
    boolOperand(cmd.items[1]);
  } else if (kw == "set-verbosity!") {
    arity(cmd, 1, 1);
    intOperand(cmd.items[1]);
  } else if (kw == "push") {
    arity(cmd, 0, 0);
    g_.saved.push_back(g_.cur);
    scopes_.push_back(z3::expr(ctx_, Z3_mk_fresh_const(ctx_, "scope", ctx_.bool_sort())));
    given_.push_back(Given{Given::Push, scopes_.back(), scopes_.back()});
  } else if (kw == "pop") {
    arity(cmd, 0, 0);
    if (g_.saved.empty()) throw SolverError("\"pop\" without a matching \"push\"");
    g_.cur = std::move(g_.saved.back());
    g_.saved.pop_back();
    solver_.add(!scopes_.back());  // what the scope asserted is off for good
    given_.push_back(Given{Given::Pop, !scopes_.back(), !scopes_.back()});
    scopes_.pop_back();
    tr_.clearMemo();
    status_ = "unknown";
  } else if (kw == "echo") {
    arity(cmd, 1, 1);
    if (cmd.items[1].kind != SExp::String) throw SolverError("\"echo\" takes a string literal");
    out_.text(cmd.items[1].text);
  } else if (kw == "include") {
    arity(cmd, 1, 1);
    if (cmd.items[1].kind != SExp::String) throw SolverError("\"include\" takes a string literal");
    if (!include(cmd.items[1].text)) return false;
  } else if (kw == "reset") {
    arity(cmd, 0, 0);
    given_.clear();
    renewMain();
    if (!sides_.empty()) makeSides();
    scopes_.clear();
    g_.cur = Scope();
    g_.saved.clear();
    tr_.clearMemo();
    status_ = "unknown";
  } else if (kw == "status") {
    arity(cmd, 0, 0);
    out_.line(status_);
  } else if (kw == "dump-context") {
    arity(cmd, 0, 0);
    for (const auto& a : g_.cur.assertions) out_.line(a.to_string());
    for (const auto& r : g_.cur.retractables)
      if (!r.retracted) out_.line(r.formula.to_string());
  } else if (kw == "exit") {
    arity(cmd, 0, 0);
    return false;
  } else {
    throw SolverError("unknown command \"" + kw + "\"");
  }
  return true;
}

void Session::defineType(const SExp& cmd) {
  arity(cmd, 1, 2);
  const SExp& n = cmd.items[1];
  if (n.kind != SExp::Atom) throw SolverError("the name of a type expected, found " + n.show());
  const std::string& name = n.text;
  if (isReservedWord(name)) throw SolverError("\"" + name + "\" is a reserved word");
  if (g_.cur.types.count(name)) throw SolverError("the type \"" + name + "\" is already defined");
  TypeP t;
  if (cmd.items.size() == 2) {
    auto u = std::make_shared<Type>();
    u->kind = TypeKind::Uninterpreted;
    u->name = name;
    u->sort = ctx_.uninterpreted_sort(g_.freshSortName(name).c_str());
    t = u;
    g_.registerSort(t);
  } else {
    t = builder_.defineType(name, cmd.items[2]);
  }
  g_.cur.types.emplace(name, t);
}

void Session::define(const SExp& cmd) {
  if (cmd.items.size() < 4 || cmd.items.size() > 5 || cmd.items[1].kind != SExp::Atom ||
      cmd.items[2].kind != SExp::DColon)
    throw SolverError("\"define\" takes a typed name name::type and an optional value");
  const std::string& name = cmd.items[1].text;
  if (cmd.items.size() == 5 && cmd.items[4].kind == SExp::DColon)
    throw SolverError("dependent types are not supported");
  TypeP type = builder_.type(cmd.items[3]);
  if (cmd.items.size() == 4) {
    declareUninterpreted(name, type);
    return;
  }
  ExprP value = builder_.expr(cmd.items[4]);
  TypeP vt = checker_.check(*value);
  if (!fits(*vt, *type))
    throw SolverError("the value has type " + showType(*vt) + ", the declared type is " + showType(*type));
  Symbol s;
  s.kind = Symbol::Defined;
  s.name = name;
  s.type = type;
  s.value = value;
  builder_.addSymbol(std::move(s));
  // A value of a subrange or subtype (or a function into one) must lie in it.
  if (constrained(*type)) {
    z3::expr c = tr_.valueConstraint(*type, tr_.eval(*value, nullptr));
    if (!c.is_true()) addAssertion(c);
  }
}

void Session::declareUninterpreted(const std::string& name, const TypeP& type) {
  auto info = std::make_shared<UFInfo>(UFInfo{name, z3::func_decl(ctx_), {}, {}, nullptr});
  const Type* cur = &baseOf(*type);
  TypeP range = type;
  while (cur->isFunction()) {
    info->groups.push_back(cur->arity());
    for (size_t i = 0; i < cur->arity(); ++i) {
      if (!cur->elems[i]->sort)
        throw SolverError("an uninterpreted function with a function argument is not supported");
      info->argTypes.push_back(cur->elems[i]);
    }
    range = cur->range();
    cur = &baseOf(*range);
  }
  if (!range->sort) throw SolverError("internal error: a range without a sort");
  info->rangeType = range;
  z3::sort_vector domain(ctx_);
  for (const auto& a : info->argTypes) domain.push_back(*a->sort);
  info->decl = ctx_.function(name.c_str(), domain, *range->sort);
  Symbol s;
  s.kind = Symbol::Uninterpreted;
  s.name = name;
  s.type = type;
  s.uf = info;
  builder_.addSymbol(std::move(s));
  g_.cur.declared.push_back(name);
  if (!info->groups.empty()) g_.ufByDecl[info->decl.id()] = info;
  // Values of a subrange or subtype are constrained where they are declared.
  if (range->kind == TypeKind::Subrange || range->kind == TypeKind::Subtype) {
    std::vector<std::string> names(info->argTypes.size(), "x");
    z3::expr c = tr_.quantify(true, info->argTypes, names, [&](const std::vector<Val>& xs) {
      std::vector<z3::expr> args;
      for (const auto& x : xs) args.push_back(*x.term);
      return tr_.typeConstraint(*range, info->decl(static_cast<unsigned>(args.size()), args.data()));
    });
    if (!c.is_true()) addAssertion(c);
  }
}

z3::expr Session::guarded(const z3::expr& f) const {
  return scopes_.empty() ? f : z3::implies(scopes_.back(), f);
}

void Session::addAssertion(const z3::expr& f) {
  addToSolvers(guarded(f), f);
  g_.cur.assertions.push_back(f);
  last_ = f;
  status_ = "unknown";
}

void Session::assertFormula(const SExp& s) {
  ExprP e = builder_.expr(s);
  checker_.checkBool(*e, "an assertion");
  if (defineByAssertion(*e)) return;
  addAssertion(tr_.formula(*e));
}

// (assert (= F v)) with F an uninterpreted function that no translation has applied yet
// and v not referring to F: F becomes a definition with the value v.
bool Session::defineByAssertion(const Expr& e) {
  if (e.kind != ExprKind::Eq) return false;
  for (int side = 0; side < 2; ++side) {
    const Expr& lhs = *e.args[side];
    const ExprP& rhs = e.args[1 - side];
    if (lhs.kind != ExprKind::Name) continue;
    const SymbolP* sp = g_.lookup(lhs.name);
    if (!sp) continue;
    const Symbol& s = **sp;
    if (s.kind != Symbol::Uninterpreted || s.uf->groups.empty() || g_.cur.used.count(s.name)) continue;
    if (constrained(*s.type)) continue;  // its range constraint must hold for the value too
    if (!fits(*checker_.check(*rhs), *s.type)) continue;
    std::vector<std::string> bound;
    std::set<long> visited;
    if (refersTo(*rhs, s.name, bound, visited, 0)) continue;
    Symbol d = s;
    d.kind = Symbol::Defined;
    d.value = rhs;
    d.byAssertion = true;
    d.uid = g_.nextUid++;
    g_.cur.symbols[s.name] = std::make_shared<const Symbol>(std::move(d));
    tr_.clearMemo();
    status_ = "unknown";
    return true;
  }
  return false;
}

bool Session::refersTo(const Expr& e, const std::string& name, std::vector<std::string>& bound,
                       std::set<long>& visited, long depth) const {
  if (depth > kMaxReferenceDepth) return true;  // too deep to tell: assume it does
  if (e.kind == ExprKind::Name) {
    if (std::find(bound.begin(), bound.end(), e.name) != bound.end()) return false;
    if (e.name == name) return true;
    const SymbolP* sp = g_.lookup(e.name);
    if (sp && (*sp)->kind == Symbol::Defined && visited.insert((*sp)->uid).second) {
      std::vector<std::string> none;
      return refersTo(*(*sp)->value, name, none, visited, depth + 1);
    }
    return false;
  }
  size_t mark = bound.size();
  bool binds = e.kind == ExprKind::Forall || e.kind == ExprKind::Exists || e.kind == ExprKind::Lambda;
  bool found = false;
  for (size_t i = 0; i < e.args.size() && !found; ++i) {
    if (e.kind == ExprKind::Let && i > 0 && i <= e.binders.size()) bound.push_back(e.binders[i - 1].name);
    if (binds && i == 0)
      for (const auto& b : e.binders) bound.push_back(b.name);
    found = refersTo(*e.args[i], name, bound, visited, depth + 1);
  }
  bound.resize(mark);
  return found;
}

// ---------------------------------------------------------------- check and model

void Session::check() {
  z3::expr_vector assumptions(ctx_);
  for (const auto& s : scopes_) assumptions.push_back(s);
  std::unordered_map<unsigned, long> idOf;
  for (const auto& r : g_.cur.retractables)
    if (!r.retracted) {
      assumptions.push_back(r.indicator);
      idOf[r.indicator.id()] = r.id;
    }
  // Retractable assertions come with unsat cores, which differ from solver to solver:
  // such checks are left to solver_ alone.
  if (!idOf.empty()) {
    checkAlone(assumptions, idOf);
    return;
  }
  std::optional<z3::model> m;
  z3::check_result res = z3::unknown;
  if (!alone_ || !decideFirst(assumptions, res, m)) res = race(assumptions, m);
  status_ = res == z3::sat ? "sat" : res == z3::unsat ? "unsat" : "unknown";
  out_.line(status_);
  if (res != z3::unsat && opt_.evidence && m) printModel(*m);
}

void Session::checkAlone(const z3::expr_vector& assumptions, const std::unordered_map<unsigned, long>& idOf) {
  z3::check_result res = assumptions.empty() ? solver_.check() : solver_.check(assumptions);
  status_ = res == z3::sat ? "sat" : res == z3::unsat ? "unsat" : "unknown";
  out_.line(status_);
  if (res != z3::unsat && opt_.evidence) {
    std::optional<z3::model> m;
    try {
      m = solver_.get_model();
    } catch (const z3::exception&) {
      // an undecided check may come without a model
    }
    if (m) printModel(*m);
  }
  if (res == z3::unsat) {
    std::vector<long> ids;
    z3::expr_vector core = solver_.unsat_core();
    for (unsigned i = 0; i < core.size(); ++i)
      if (auto it = idOf.find(core[i].id()); it != idOf.end()) ids.push_back(it->second);
    std::sort(ids.begin(), ids.end());
    std::string line = "unsat core ids:";
    for (long id : ids) line += " " + std::to_string(id);
    out_.line(line);
  }
}

void Session::maxSat() {
  z3::optimize opt(ctx_);
  for (const auto& a : g_.cur.assertions) opt.add(a);
  std::vector<const Retractable*> soft;
  for (const auto& r : g_.cur.retractables) {
    if (r.retracted) continue;
    if (r.weight) {
      opt.add_soft(r.formula, r.weight->get_str().c_str());
      soft.push_back(&r);
    } else {
      opt.add(r.formula);
    }
  }
  z3::check_result res = opt.check();
  status_ = res == z3::sat ? "sat" : res == z3::unsat ? "unsat" : "unknown";
  out_.line(status_);
  if (res == z3::unsat) return;
  z3::model m = opt.get_model();
  if (opt_.evidence) printModel(m);
  mpz_class cost = 0;
  for (const auto* r : soft)
    if (!m.eval(r->formula, true).is_true()) cost += *r->weight;
  out_.line("cost: " + cost.get_str());
}

std::optional<std::string> Session::valueText(const z3::expr& v) const {
  z3::sort s = v.get_sort();
  if (s.is_bool()) {
    if (v.is_true()) return std::string("true");
    if (v.is_false()) return std::string("false");
    return std::nullopt;
  }
  if (s.is_int() || s.is_real()) {
    mpq_class q;
    if (!numeralValue(v, q)) return std::nullopt;
    return q.get_den() == 1 ? q.get_num().get_str() : q.get_str();
  }
  if (!s.is_datatype() || !v.is_app()) return std::nullopt;
  auto it = g_.declMeta.find(v.decl().id());
  if (it == g_.declMeta.end()) return std::nullopt;
  const DeclMeta& meta = it->second;
  if (v.num_args() == 0) return meta.name;
  std::string t = "(";
  t += meta.kind == DeclMeta::TupleCtor ? "mk-tuple" : meta.kind == DeclMeta::RecordCtor ? "mk-record" : meta.name;
  for (unsigned i = 0; i < v.num_args(); ++i) {
    auto a = valueText(v.arg(i));
    if (!a) return std::nullopt;
    t += " " + (meta.kind == DeclMeta::RecordCtor ? meta.fieldNames[i] + "::" : std::string()) + *a;
  }
  return t + ")";
}

namespace {

// The ground applications of uninterpreted functions in a set of formulas.
class PointCollector {
 public:
  explicit PointCollector(const Globals& g) : g_(g) {}
  std::unordered_map<unsigned, std::vector<z3::expr>> points;  // by func_decl id

  bool visit(const z3::expr& e) {
    unsigned id = e.id();
    auto it = ground_.find(id);
    if (it != ground_.end()) return it->second;
    bool ground = true;
    if (e.is_var()) {
      ground = false;
    } else if (e.is_quantifier()) {
      visit(e.body());
      ground = false;
    } else if (e.is_app()) {
      for (unsigned i = 0; i < e.num_args(); ++i) ground = visit(e.arg(i)) && ground;
      if (ground) {
        unsigned d = e.decl().id();
        if (g_.ufByDecl.count(d)) points[d].push_back(e);
      }
    }
    ground_.emplace(id, ground);
    return ground;
  }

 private:
  const Globals& g_;
  std::unordered_map<unsigned, bool> ground_;
};

bool isNumberText(const std::string& s) {
  size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
  if (i >= s.size()) return false;
  for (; i < s.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i])) && s[i] != '/') return false;
  return true;
}

bool argsLess(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] == b[i]) continue;
    if (isNumberText(a[i]) && isNumberText(b[i])) return mpq_class(a[i]) < mpq_class(b[i]);
    return a[i] < b[i];
  }
  return a.size() < b.size();
}

}  // namespace

void Session::printModel(const z3::model& m) {
  PointCollector pc(g_);
  for (const auto& a : g_.cur.assertions) pc.visit(a);
  for (const auto& r : g_.cur.retractables)
    if (!r.retracted) pc.visit(r.formula);
  for (const auto& name : g_.cur.declared) {
    const SymbolP* sp = g_.lookup(name);
    if (!sp || (*sp)->kind != Symbol::Uninterpreted || (*sp)->byAssertion) continue;
    const UFInfo& uf = *(*sp)->uf;
    if (!uf.groups.empty()) continue;
    if (auto v = valueText(m.eval(uf.decl(), true))) out_.line("(= " + name + " " + *v + ")");
  }
  for (const auto& name : g_.cur.declared) {
    const SymbolP* sp = g_.lookup(name);
    if (!sp || (*sp)->kind != Symbol::Uninterpreted || (*sp)->byAssertion) continue;
    const UFInfo& uf = *(*sp)->uf;
    if (uf.groups.empty()) continue;
    auto it = pc.points.find(uf.decl.id());
    if (it == pc.points.end()) continue;
    std::vector<std::pair<std::vector<std::string>, std::string>> rows;
    std::set<std::vector<std::string>> seen;
    for (const auto& app : it->second) {
      std::vector<std::string> args;
      bool ok = true;
      for (unsigned i = 0; i < app.num_args() && ok; ++i) {
        auto a = valueText(m.eval(app.arg(i), true));
        if (a) args.push_back(*a);
        else ok = false;
      }
      if (!ok || !seen.insert(args).second) continue;
      auto v = valueText(m.eval(app, true));
      if (v) rows.emplace_back(std::move(args), *v);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return argsLess(a.first, b.first); });
    for (const auto& row : rows) {
      std::string t = name;
      size_t k = 0;
      for (size_t group : uf.groups) {
        t = "(" + t;
        for (size_t i = 0; i < group; ++i) t += " " + row.first[k++];
        t += ")";
      }
      out_.line("(= " + t + " " + row.second + ")");
    }
  }
}

bool Session::include(const std::string& file) {
  if (includeDepth_ >= 32) throw SolverError("\"include\" nested too deeply");
  StringSource src(readFileText(file));
  ++includeDepth_;
  int r;
  try {
    r = runCommands(src, false, file + ": ");
  } catch (...) {
    --includeDepth_;
    throw;
  }
  --includeDepth_;
  return r >= 0;
}

}  // namespace vxsolver
