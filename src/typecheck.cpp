// The type checker: untyped contract and goal expressions to typed expressions, or the
// first type error as one message.
//
// Expressions are walked with an explicit stack of frames rather than by recursion, so a
// long operator chain (which the grammar builds as a deep left spine) is checked in
// constant native stack. Children are checked left to right and the first error ends the
// walk, exactly as a recursive checker would.
#include <iterator>
#include <optional>
#include <sstream>

#include "typecheck.hpp"

#include "fatal.hpp"

namespace vorlax::tc {

// ---------------------------------------------------------------------------------------
// Typed expressions

namespace {

// Set while the outermost ~TExpr drains a tree: inner destructors hand their children
// over instead of releasing them recursively.
thread_local std::vector<TExprP>* tDrain = nullptr;

void takeChildren(TExpr::V& v, std::vector<TExprP>& out) {
  std::visit(
      [&](auto& n) {
        using T = std::decay_t<decltype(n)>;
        if constexpr (std::is_same_v<T, Call>) {
          for (auto& a : n.args)
            if (a) out.push_back(std::move(a));
        } else if constexpr (std::is_same_v<T, BinOpExpr>) {
          if (n.left) out.push_back(std::move(n.left));
          if (n.right) out.push_back(std::move(n.right));
        } else if constexpr (std::is_same_v<T, UnOpExpr> || std::is_same_v<T, Cast>) {
          if (n.operand) out.push_back(std::move(n.operand));
        } else if constexpr (std::is_same_v<T, Access>) {
          if (n.object) out.push_back(std::move(n.object));
        }
      },
      v);
}

}  // namespace

TExpr::~TExpr() {
  if (tDrain) {
    takeChildren(v, *tDrain);
    return;
  }
  std::vector<TExprP> pending;
  takeChildren(v, pending);
  if (pending.empty()) return;
  tDrain = &pending;
  while (!pending.empty()) {
    TExprP p = std::move(pending.back());
    pending.pop_back();
    p.reset();  // a last owner's ~TExpr appends that node's children to `pending`
  }
  tDrain = nullptr;
}

Type texprType(const TExpr& e) {
  return std::visit(
      [](const auto& n) -> Type {
        using T = std::decay_t<decltype(n)>;
        if constexpr (std::is_same_v<T, LitInt>) {
          return IntType{};
        } else if constexpr (std::is_same_v<T, LitBool>) {
          return BoolType{};
        } else if constexpr (std::is_same_v<T, LitDouble>) {
          return DoubleType{};
        } else {
          return n.type;
        }
      },
      e.v);
}

bool operator==(const TExpr& a, const TExpr& b) {
  std::vector<std::pair<const TExpr*, const TExpr*>> todo{{&a, &b}};
  auto same = [&](const TExprP& x, const TExprP& y) {
    // No shortcut for a shared subtree: a NaN literal is unequal even to itself.
    if (!x || !y) return !x && !y;
    todo.emplace_back(x.get(), y.get());
    return true;
  };
  while (!todo.empty()) {
    const TExpr* x = todo.back().first;  // plain variables: the lambda below captures y
    const TExpr* y = todo.back().second;
    todo.pop_back();
    if (x->v.index() != y->v.index()) return false;
    bool eq = std::visit(
        [&](const auto& n) -> bool {
          using T = std::decay_t<decltype(n)>;
          const T& m = std::get<T>(y->v);
          if constexpr (std::is_same_v<T, Call>) {
            if (n.name != m.name || n.args.size() != m.args.size() || n.type != m.type) return false;
            for (std::size_t i = 0; i < n.args.size(); ++i)
              if (!same(n.args[i], m.args[i])) return false;
            return true;
          } else if constexpr (std::is_same_v<T, BinOpExpr>) {
            return n.op == m.op && n.type == m.type && same(n.left, m.left) && same(n.right, m.right);
          } else if constexpr (std::is_same_v<T, UnOpExpr>) {
            return n.op == m.op && n.type == m.type && same(n.operand, m.operand);
          } else if constexpr (std::is_same_v<T, Access>) {
            return n.field == m.field && n.type == m.type && same(n.object, m.object);
          } else if constexpr (std::is_same_v<T, Var>) {
            return n.name == m.name && n.type == m.type;
          } else if constexpr (std::is_same_v<T, Cast>) {
            return n.type == m.type && same(n.operand, m.operand);
          } else if constexpr (std::is_same_v<T, LitInt> || std::is_same_v<T, LitBool> ||
                               std::is_same_v<T, LitDouble>) {
            return n.value == m.value;
          } else {
            return n.type == m.type;  // ResultVar, LitNull
          }
        },
        x->v);
    if (!eq) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// The checker

namespace {

// The name of a two-operand operator in messages: "Add" ... "Implies", "ArrayIndex"; a
// relation by its own name ("Lt").
std::string operatorName(const BinOp& op) {
  if (op.kind == BinOp::RelOp) return showROp(op.rop);
  return showBinOp(op, 0);
}

// A null literal out of place, a cast or a real literal.
std::string cannotTypecheck(const ast::Expr& e) {
  std::ostringstream os;
  os << "Can't typecheck ";
  ast::showExpr(os, e);
  return os.str();
}

std::string notFound(const std::string& name) { return name + " not found in declarations"; }

// The type of a checked sub-expression, typed (a node) or followed (its type).
Type typeOf(const TExprP& e) { return texprType(*e); }
const Type& typeOf(const Type& t) { return t; }

using Outcome = std::optional<std::string>;  // an error message, or nothing

// Type of a field of the structure `s`: the first structure of that name, the first field
// of that name.
Outcome lookupAttrType(const std::vector<Struct>& structs, const std::string& f,
                       const std::string& s, Type& out) {
  for (const Struct& st : structs) {
    if (st.structName != s) continue;
    for (const Decl& d : st.structDecls)
      if (d.declName == f) {
        out = d.declType;
        return std::nullopt;
      }
    return notFound(f);
  }
  return "<" + s + "> not found";
}

// The type of an operator applied to operands of these types, or nothing when the operand
// types do not suit it.
std::optional<Type> unOpType(UnOp op, const Type& t) {
  switch (op) {
    case UnOp::Not: return t.is<BoolType>() ? std::optional<Type>(t) : std::nullopt;
    case UnOp::Neg: return t.is<IntType>() || t.is<DoubleType>() ? std::optional<Type>(t) : std::nullopt;
    case UnOp::Old: return t;
  }
  return std::nullopt;
}

std::optional<Type> binOpType(const BinOp& op, const Type& tl, const Type& tr) {
  switch (op.kind) {
    case BinOp::Add:
    case BinOp::Sub:
    case BinOp::Mul:
    case BinOp::Div:
      if (tl.is<IntType>() && tr.is<IntType>()) return IntType{};
      if (tl.is<DoubleType>() && tr.is<DoubleType>()) return DoubleType{};
      break;
    case BinOp::Or:
    case BinOp::And:
    case BinOp::Implies:
      if (tl.is<BoolType>() && tr.is<BoolType>()) return BoolType{};
      break;
    case BinOp::RelOp: {
      // = and /= compare values of any one type; an ordering compares numbers only (the
      // solver has no order on truth values or objects).
      bool ordering = op.rop != ROp::Eq && op.rop != ROp::Neq;
      if (tl == tr && (!ordering || tl.is<IntType>() || tl.is<DoubleType>())) return BoolType{};
      break;
    }
    case BinOp::ArrayIndex:  // no operand types are accepted
      break;
  }
  return std::nullopt;
}

// The messages of unsuitable operands, which show the typed operands.
std::string unsuitableUnOp(UnOp op, const TExpr& operand) {
  return "(" + showTExpr(operand) + ") is an unsuitable argument for " + showUnOp(op);
}
std::string unsuitableBinOp(const BinOp& op, const TExpr& l, const TExpr& r) {
  return "(" + showTExpr(l) + "," + showTExpr(r) + ") are unsuitable arguments for " +
         operatorName(op);
}

// The message a check that only follows types reports: it is never shown, since that check
// is followed by the full one wherever it fails (see domainTypeError).
const char* const kTypesOnlyFailure = "ill-typed";

template <class R>
Outcome checkFunctionArgs(const ast::Procedure& fn, const R* targs, std::size_t n, Type& out) {
  if (fn.prcdArgs.size() != n) return std::string("Arguments not same length");
  for (std::size_t i = 0; i < n; ++i)
    if (fn.prcdArgs[i].declType != typeOf(targs[i]))
      return std::string("Some types don't conform in arguments");
  out = fn.prcdResult;
  return std::nullopt;
}

const ast::Procedure* findFunction(const ast::Domain& dom, const std::string& name) {
  for (const auto& f : dom.domFuncs)
    if (f.prcdName == name) return &f;
  return nullptr;
}

bool isNull(const ast::ExprP& e) { return e->is<ast::LitNull>(); }

// One expression under examination. Its sub-expressions are checked in order; their typed
// forms wait on the checker's stack of results, from `base` on.
struct Frame {
  explicit Frame(const ast::Expr* e, std::size_t b) : expr(e), base(b) {}
  const ast::Expr* expr;
  std::size_t base;
  bool entered = false;
  std::size_t count = 0;                       // sub-expressions to check
  const ast::Expr* two[2] = {nullptr, nullptr};  // ... for an operator or an access
  const std::vector<ast::ExprP>* args = nullptr;  // ... for a call
  const ast::Procedure* fn = nullptr;  // Call: the function called
  int nullSide = 0;                    // null comparison: 1 left operand null, 2 right

  const ast::Expr* sub(std::size_t i) const { return args ? (*args)[i].get() : two[i]; }
  void subs(const ast::Expr* a) { two[0] = a, count = 1; }
  void subs(const ast::Expr* a, const ast::Expr* b) { two[0] = a, two[1] = b, count = 2; }
};

// The checker proper. With kBuild it builds the typed expression (R = TExprP); without, it
// only follows the types (R = Type) and so allocates no node, and its failures carry no
// message. Both take the same decisions.
template <bool kBuild>
class Checker {
 public:
  using R = std::conditional_t<kBuild, TExprP, Type>;

  Checker(const DeclMap& scope, const ast::Domain& dom, const Type& result)
      : scope_(scope), dom_(dom), result_(result) {}

  Checked<R> run(const ast::Expr& root) {
    stack_.clear();
    results_.clear();
    stack_.push_back(Frame{&root, 0});
    while (true) {
      Frame& f = stack_.back();
      std::optional<R> typed;
      if (!f.entered) {
        f.entered = true;
        if (Outcome err = enter(f, typed)) return Checked<R>::failure(std::move(*err));
      }
      if (!typed) {
        const std::size_t done = results_.size() - f.base;
        if (done < f.count) {
          stack_.push_back(Frame{f.sub(done), results_.size()});  // invalidates f
          continue;
        }
        if (Outcome err = finish(f, results_.data() + f.base, typed))
          return Checked<R>::failure(std::move(*err));
        results_.resize(f.base);
      }
      stack_.pop_back();
      results_.push_back(std::move(*typed));
      if (stack_.empty()) return Checked<R>::success(std::move(results_.back()));
    }
  }

 private:
  // Checks what can be decided before the sub-expressions: a leaf is typed at once
  // (`typed` set); otherwise the sub-expressions to check are set in `f`.
  Outcome enter(Frame& f, std::optional<R>& typed) {
    const ast::Expr& e = *f.expr;
    return std::visit(
        [&](const auto& n) -> Outcome {
          using T = std::decay_t<decltype(n)>;
          if constexpr (std::is_same_v<T, ast::Var>) {
            auto it = scope_.find(n.name);
            if (it == scope_.end()) return notFound(n.name);
            if constexpr (kBuild) typed = mk(Var{n.name, it->second});
            else typed = it->second;
          } else if constexpr (std::is_same_v<T, ast::ResultVar>) {
            if constexpr (kBuild) typed = mk(ResultVar{result_});
            else typed = result_;
          } else if constexpr (std::is_same_v<T, ast::LitInt>) {
            if constexpr (kBuild) typed = mk(LitInt{n.value});
            else typed = IntType{};
          } else if constexpr (std::is_same_v<T, ast::LitBool>) {
            if constexpr (kBuild) typed = mk(LitBool{n.value});
            else typed = BoolType{};
          } else if constexpr (std::is_same_v<T, ast::Access>) {
            ast::accessField(n);  // an access that could not be built fails here
            f.subs(n.object.get());
          } else if constexpr (std::is_same_v<T, ast::UnOpExpr>) {
            f.subs(n.operand.get());
          } else if constexpr (std::is_same_v<T, ast::BinOpExpr>) {
            bool nullRule = n.op.kind == BinOp::RelOp &&
                            (n.op.rop == ROp::Eq || n.op.rop == ROp::Neq) &&
                            (isNull(n.left) || isNull(n.right));
            if (!nullRule) {
              f.subs(n.left.get(), n.right.get());
            } else if (isNull(n.left) && isNull(n.right)) {
              if constexpr (kBuild)
                typed = mk(BinOpExpr{n.op, mk(LitNull{VoidType{}}), mk(LitNull{VoidType{}}), BoolType{}});
              else
                typed = BoolType{};
            } else if (isNull(n.left)) {
              f.nullSide = 1;
              f.subs(n.right.get());
            } else {
              f.nullSide = 2;
              f.subs(n.left.get());
            }
          } else if constexpr (std::is_same_v<T, ast::Call>) {
            f.fn = findFunction(dom_, n.name);
            if (!f.fn) return "Coudln't find function " + n.name.str();
            f.args = &n.args;
            f.count = n.args.size();
          } else {
            // LitNull outside a comparison with Eq or Neq, Cast, LitDouble
            return cannotTypecheck(e);
          }
          return std::nullopt;
        },
        e.v);
  }

  // Builds the typed node once every sub-expression is typed: d[0 .. f.count) in order.
  Outcome finish(Frame& f, R* d, std::optional<R>& typed) {
    const ast::Expr& e = *f.expr;
    return std::visit(
        [&](const auto& n) -> Outcome {
          using T = std::decay_t<decltype(n)>;
          if constexpr (std::is_same_v<T, ast::Access>) {
            Type t = typeOf(d[0]);
            const StructType* st = t.as<StructType>();
            if (!st) return showType(t) + " not a struct";
            Type ft;
            if (Outcome err = lookupAttrType(dom_.domStructs, ast::accessField(n), st->name, ft))
              return err;
            if constexpr (kBuild) typed = mk(Access{std::move(d[0]), ast::accessField(n), std::move(ft)});
            else typed = std::move(ft);
          } else if constexpr (std::is_same_v<T, ast::UnOpExpr>) {
            std::optional<Type> t = unOpType(n.op, typeOf(d[0]));
            if constexpr (kBuild) {
              if (!t) return unsuitableUnOp(n.op, *d[0]);
              typed = mk(UnOpExpr{n.op, std::move(d[0]), std::move(*t)});
            } else {
              if (!t) return std::string(kTypesOnlyFailure);
              typed = std::move(*t);
            }
          } else if constexpr (std::is_same_v<T, ast::BinOpExpr>) {
            if (f.nullSide != 0) {
              if constexpr (kBuild) {
                TExprP nul = mk(LitNull{typeOf(d[0])});
                if (f.nullSide == 1) typed = mk(BinOpExpr{n.op, std::move(nul), std::move(d[0]), BoolType{}});
                else typed = mk(BinOpExpr{n.op, std::move(d[0]), std::move(nul), BoolType{}});
              } else {
                typed = BoolType{};
              }
            } else {
              std::optional<Type> t = binOpType(n.op, typeOf(d[0]), typeOf(d[1]));
              if constexpr (kBuild) {
                if (!t) return unsuitableBinOp(n.op, *d[0], *d[1]);
                typed = mk(BinOpExpr{n.op, std::move(d[0]), std::move(d[1]), std::move(*t)});
              } else {
                if (!t) return std::string(kTypesOnlyFailure);
                typed = std::move(*t);
              }
            }
          } else if constexpr (std::is_same_v<T, ast::Call>) {
            Type t;
            if (Outcome err = checkFunctionArgs(*f.fn, d, f.count, t)) return err;
            if constexpr (kBuild) {
              std::vector<TExprP> args(std::make_move_iterator(d), std::make_move_iterator(d + f.count));
              typed = mk(Call{n.name, std::move(args), std::move(t)});
            } else {
              typed = std::move(t);
            }
          } else {
            // Only nodes with sub-expressions get here.
            return cannotTypecheck(e);
          }
          return std::nullopt;
        },
        e.v);
  }

  const DeclMap& scope_;
  const ast::Domain& dom_;
  const Type& result_;
  // Kept from one expression to the next, so that their room is allocated once.
  std::vector<Frame> stack_;
  std::vector<R> results_;
};

// A condition (a clause, an initial condition, the goal) must be a truth value.
Outcome notBoolean(const std::string& what, const TExpr& e) {
  Type t = texprType(e);
  if (t.is<BoolType>()) return std::nullopt;
  return what + " has type " + showType(t) + ", not Bool";
}

// The clauses of a procedure, checked in order. With kBuild the typed procedure is returned;
// without, only whether the whole procedure is well typed (see Checker).
template <bool kBuild>
Checked<Procedure> typecheckProc(const ast::Domain& dom, const ast::Procedure& p) {
  const DeclMap scope = declsToMap(p.prcdArgs);
  Checker<kBuild> checker(scope, dom, p.prcdResult);
  Procedure out;
  if constexpr (kBuild) out = Procedure{p.prcdName, p.prcdArgs, p.prcdResult, {}, {}};
  const char* kind = p.prcdResult == Type(NoType{}) ? "procedure " : "function ";
  auto clauses = [&](const std::vector<ast::Clause>& in, std::vector<Clause>& typed) -> Outcome {
    if constexpr (kBuild) typed.reserve(in.size());
    for (const ast::Clause& c : in) {
      auto r = checker.run(*c.clauseExpr);
      if (!r.ok) return std::move(r.error);
      const Type type = typeOf(r.value);
      const bool boolean = type.is<BoolType>();
      if constexpr (kBuild) {
        if (!boolean) return notBoolean("clause " + c.clauseName + " of " + kind + p.prcdName, *r.value);
        typed.push_back(Clause{c.clauseName, std::move(r.value)});
      } else if (!boolean) {
        return std::string(kTypesOnlyFailure);
      }
    }
    return std::nullopt;
  };
  if (Outcome err = clauses(p.prcdReq, out.prcdReq)) return Checked<Procedure>::failure(*err);
  if (Outcome err = clauses(p.prcdEns, out.prcdEns)) return Checked<Procedure>::failure(*err);
  return Checked<Procedure>::success(std::move(out));
}

// The first error of a procedure: its types are followed first, and only a procedure that
// fails is checked again in full, for its message.
Outcome procedureTypeError(const ast::Domain& dom, const ast::Procedure& p) {
  if (typecheckProc<false>(dom, p).ok) return std::nullopt;
  Checked<Procedure> r = typecheckProc<true>(dom, p);
  if (r.ok) fatal("the type checker's two passes disagree on procedure " + p.prcdName);
  return std::move(r.error);
}

}  // namespace

Checked<TExprP> typecheckExpr(const DeclMap& scope, const ast::Domain& dom, const Type& result,
                              const ast::ExprP& e) {
  return Checker<true>(scope, dom, result).run(*e);
}

TExprP unsafeCheck(const std::vector<Decl>& decls, const ast::Domain& dom, const ast::ExprP& e) {
  Checked<TExprP> r = typecheckExpr(declsToMap(decls), dom, NoType{}, e);
  if (!r.ok) fatal(r.error);
  return r.value;
}

TExprP checkCondition(const std::string& what, const std::vector<Decl>& decls,
                      const ast::Domain& dom, const ast::ExprP& e) {
  TExprP t = unsafeCheck(decls, dom, e);
  if (Outcome err = notBoolean(what, *t)) fatal(std::move(*err));
  return t;
}

namespace {

// Types the procedures, then the functions, each in stored order, and hands each typed one
// to take(typed, isFunction); the first error ends the walk and is returned.
template <class Take>
std::optional<std::string> eachProcedure(const ast::Domain& dom, Take take) {
  for (bool isFunction : {false, true})
    for (const ast::Procedure& p : isFunction ? dom.domFuncs : dom.domProcs) {
      Checked<Procedure> r = typecheckProc<true>(dom, p);
      if (!r.ok) return std::move(r.error);
      take(std::move(r.value), isFunction);
    }
  return std::nullopt;
}

}  // namespace

Checked<Domain> typecheckDomain(const ast::Domain& dom) {
  Domain out;
  out.domStructs = dom.domStructs;
  out.domProcs.reserve(dom.domProcs.size());
  out.domFuncs.reserve(dom.domFuncs.size());
  if (auto err = eachProcedure(dom, [&](Procedure p, bool isFunction) {
        (isFunction ? out.domFuncs : out.domProcs).push_back(std::move(p));
      }))
    return Checked<Domain>::failure(*err);
  return Checked<Domain>::success(std::move(out));
}

std::optional<std::string> domainTypeError(const ast::Domain& dom) {
  for (const auto* list : {&dom.domProcs, &dom.domFuncs})
    for (const ast::Procedure& p : *list)
      if (Outcome err = procedureTypeError(dom, p)) return err;
  return std::nullopt;
}

Checked<Procedure> typecheckProcedure(const ast::Domain& dom, const ast::Procedure& p) {
  return typecheckProc<true>(dom, p);
}

}  // namespace vorlax::tc
