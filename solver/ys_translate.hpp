// Translation of checked expressions into Z3 terms. Expressions are evaluated in an
// environment: first-order values become Z3 terms, function values stay closures
// (lambdas with their environment), uninterpreted functions waiting for their
// arguments, constructors, selectors and recognisers, or function updates. Applying a
// closure evaluates its body with the parameters bound, so defined symbols reduce to
// their bodies, a lambda passed as an argument is applied without capturing names, and
// the result is quantifier-free wherever the input is. Applications of closures to
// terms are memoised, so shared definitions are expanded once per argument tuple.
// Small facts are folded as terms are built (constants, numerals, constructors against
// their selectors and recognisers), and quantifiers over finite types are expanded.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>

#include "ys_state.hpp"

namespace vxsolver {

struct FunVal;
struct Val {
  std::optional<z3::expr> term;            // first-order value
  std::shared_ptr<const FunVal> fun;       // function value
  bool isFun() const { return fun != nullptr; }
};

struct Env;
using EnvP = std::shared_ptr<const Env>;
struct Env {
  std::string name;
  Val val;
  EnvP next;
};

struct FunVal {
  enum Kind { Closure, UF, Builtin, Update, Ite } kind = Closure;
  long uid = 0;
  // Closure
  std::vector<Binder> params;
  ExprP body;
  EnvP env;
  // UF: the arguments of the groups applied so far
  std::shared_ptr<const UFInfo> uf;
  std::vector<z3::expr> applied;
  size_t group = 0;
  // Builtin: a constructor, selector or recogniser
  SymbolP sym;
  // Update: base updated at the arguments `at` to `value`; Ite: if cond then a else b
  std::shared_ptr<const FunVal> a, b;
  std::vector<Val> at;
  std::optional<z3::expr> value, cond;
};

// Applications of closures and their results, keyed by the closure's uid and the
// identities of the arguments (a term's handle, a function value's uid). An entry holds
// its arguments, so that no identity is reused while it lives. The table is open
// addressing over flat arrays, so that a lookup touches a slot, the entry and the
// identities of its arguments and nothing else.
class ApplyMemo {
 public:
  const Val* find(long fun, const std::vector<Val>& args) const;
  void insert(long fun, const std::vector<Val>& args, const Val& result);
  void clear();
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    uint64_t hash;
    long fun;
    uint32_t first, count;  // the arguments: ids_[first, first + count) and args_ alike
    Val result;
  };
  struct Slot {  // small, so that the slots of a large memo stay in the caches
    uint32_t tag = 0;    // the high half of the entry's hash
    uint32_t entry = 0;  // 1 + the index of the entry; 0 for a free slot
  };
  void place(uint64_t hash, uint32_t entry);
  static uint64_t hash(long fun, const std::vector<Val>& args);
  bool matches(const Entry& e, long fun, const std::vector<Val>& args) const;
  void grow();
  std::vector<Slot> slots_;  // a power of two of them, at most half in use
  // Entries and arguments in blocks that stay where they are as the memo grows.
  std::deque<Entry> entries_;
  std::deque<uintptr_t> ids_;
  std::deque<Val> args_;
};

class Translator {
 public:
  explicit Translator(Globals& g) : g_(g), ctx_(g.ctx), true_(ctx_.bool_val(true)), false_(ctx_.bool_val(false)) {}

  // A closed formula.
  z3::expr formula(const Expr& e);
  Val eval(const Expr& e, const EnvP& env);
  Val apply(const Val& f, const std::vector<Val>& args);
  // The equality of two function values (pointwise).
  z3::expr funEq(const Val& a, const Val& b);
  // The constraint that a term of type t satisfies (subranges, subtypes); true if none.
  z3::expr typeConstraint(const Type& t, const z3::expr& x);
  // The same for a value of any type: a function value satisfies it at every argument.
  z3::expr valueConstraint(const Type& t, const Val& v);
  // Expands or builds a quantifier over the binders; body gets one value per binder.
  z3::expr quantify(bool forall, const std::vector<TypeP>& types, const std::vector<std::string>& names,
                    const std::function<z3::expr(const std::vector<Val>&)>& body);
  // Forgets memoised results (after pop, reset, or a change of a symbol's meaning).
  void clearMemo() {
    memo_.clear();
    globals_.clear();
  }
  // The types of the parameters of a function value's first application.
  std::vector<TypeP> paramTypes(const FunVal& f) const;

  // Term builders that fold what is evident.
  z3::expr mkAnd(const std::vector<z3::expr>& es);
  // The same over conjuncts borrowed from terms that the caller holds.
  z3::expr andOf(const std::vector<Z3_ast>& conjs);
  z3::expr mkOr(const std::vector<z3::expr>& es);
  z3::expr mkNot(const z3::expr& a);
  z3::expr mkImplies(const z3::expr& a, const z3::expr& b);
  z3::expr mkIte(const z3::expr& c, const z3::expr& t, const z3::expr& e);
  z3::expr mkEq(const z3::expr& a, const z3::expr& b);
  z3::expr coerce(const z3::expr& e, const z3::sort& s);
  z3::sort joinSort(const z3::sort& a, const z3::sort& b);

  size_t quantifierExpansionLimit = 4096;
  // Expressions, with the bodies of the definitions they apply, nest at most this deep
  // while a formula is expanded (as deep as the reader admits within one command).
  static constexpr long kMaxExpansionDepth = kNestingBound;

 private:
  Val global(const std::string& name);  // cached in globals_
  Val evalGlobal(const std::string& name);
  Val evalArith(const Expr& e, const EnvP& env);
  Val evalCompare(const Expr& e, const EnvP& env);
  std::vector<z3::expr> enumerate(const Type& t);
  bool isCtorApp(const z3::expr& e, const z3::func_decl& d) const;
  long ctorIndex(const Type& t, const z3::expr& e) const;
  const Type& tupleTypeOf(const z3::expr& e) const;
  z3::expr rebuildTuple(const Type& from, const z3::expr& e, const Type& to);

  Globals& g_;
  z3::context& ctx_;
  // The two truth values. Each is one term of its context, so a term is true (false) when
  // it is the same term: told without asking Z3.
  z3::expr true_, false_;
  bool isTrue(Z3_ast a) const { return a == static_cast<Z3_ast>(true_); }
  bool isFalse(Z3_ast a) const { return a == static_cast<Z3_ast>(false_); }
  z3::expr boolVal(bool b) const { return b ? true_ : false_; }
  // The memoised applications of closures.
  ApplyMemo memo_;
  // The values of global names as evaluated since the last clearMemo (a symbol's meaning
  // only changes where that is called).
  std::unordered_map<std::string, Val> globals_;
  long nextFunUid_ = 1;
  long nextVar_ = 1;
  long depth_ = 0;
  std::set<long> inProgress_;
};

// Numerals of Z3 terms as exact fractions.
bool numeralValue(const z3::expr& e, mpq_class& q);

}  // namespace vxsolver
