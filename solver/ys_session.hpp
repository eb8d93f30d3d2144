// One run of the solver program: the commands of the solver language executed in order
// against Z3 solvers that keep their state across checks (push and pop open and close
// scopes of indicator literals, see Session::scopes_; each check is a race of
// differently configured solvers, see Session::sides_), with the interactive prompt, the
// line discipline of the output and the model printed after a check.
#pragma once
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>

#include <unordered_map>

#include "ys_build.hpp"
#include "ys_race.hpp"
#include "ys_translate.hpp"

namespace vxsolver {

struct Options {
  bool interactive = false;  // "-i": a prompt before each command
  bool evidence = false;     // "-e": the model after "sat" and "unknown"
};

// Standard output with its line discipline: after a command has written anything, the
// current line is ended; the prompt alone does not end a line.
class Output {
 public:
  explicit Output(std::ostream& os) : os_(os) {}
  void text(const std::string& s);
  void line(const std::string& s) { text(s + "\n"); }
  void prompt();
  void endCommand();  // ends the line if the command wrote one, then flushes
  void endLine();     // ends the current line if it is open
  void flush();

 private:
  std::ostream& os_;
  bool atLineStart_ = true;
  bool wrote_ = false;
};

// What the session has given solver_, in order, for the side solver to follow: an
// assertion (guarded as solver_ has it, plain as it was made), a push, or a pop (guarded:
// the negated indicator that solver_ was given).
struct Given {
  enum Kind { Assert, Push, Pop } kind;
  z3::expr guarded, plain;
};

class Session {
 public:
  Session(std::ostream& out, std::ostream& err, Options opt, std::string program = "vorlax-solver");
  ~Session();
  // Executes every command of the source in order; the exit status: 0 at the end of
  // the input or at (exit), 1 after a complaint, which is written to the error stream.
  // Runs on a thread of its own with a large stack.
  int run(CharSource& src);
  // The same on the calling thread.
  int runHere(CharSource& src);
  // Executes one command; throws SolverError (or z3::exception). False for (exit).
  bool execute(const SExp& cmd);
  void flush() { out_.flush(); }

  // For tests: the formula of the last assertion as Z3 writes it ("" if none).
  std::string lastAssertion() const;
  Globals& globals() { return g_; }

 private:
  void defineType(const SExp& cmd);
  void define(const SExp& cmd);
  void declareUninterpreted(const std::string& name, const TypeP& type);
  void assertFormula(const SExp& e);
  bool defineByAssertion(const Expr& e);
  bool refersTo(const Expr& e, const std::string& name, std::vector<std::string>& bound,
                std::set<long>& visited, long depth) const;
  static constexpr long kMaxReferenceDepth = 100000;
  void addAssertion(const z3::expr& f);
  void addToSolvers(const z3::expr& guarded, const z3::expr& plain);
  void renewMain();
  z3::expr guarded(const z3::expr& f) const;
  void check();
  void checkAlone(const z3::expr_vector& assumptions, const std::unordered_map<unsigned, long>& idOf);
  z3::check_result race(const z3::expr_vector& assumptions, std::optional<z3::model>& model);
  void maxSat();
  void printModel(const z3::model& m);
  std::optional<std::string> valueText(const z3::expr& v) const;
  bool include(const std::string& file);  // false after (exit)
  int runCommands(CharSource& src, bool interactive, const std::string& where);

  z3::context ctx_;
  Globals g_;
  Checker checker_;
  Builder builder_;
  Translator tr_;
  z3::solver solver_;
  Output out_;
  std::ostream& err_;
  Options opt_;
  std::string program_;
  std::string status_ = "unknown";
  long nextRetractId_ = 1;
  int includeDepth_ = 0;
  std::optional<z3::expr> last_;
  // One indicator per open scope, innermost last. What a scope asserts is added to Z3
  // as (=> indicator formula), every check assumes the open indicators, and a pop
  // asserts the negation of its indicator. Z3 itself never leaves its base level, so
  // the lemmas it learns in one check that do not depend on a scope's assertions stay
  // for the next one: a search that pushes a goal, checks and pops keeps what it has
  // learned about the steps instead of deriving it again for every goal.
  std::vector<z3::expr> scopes_;
  // A check of the search races Z3 solvers on threads of their own (ys_race.hpp), the
  // first "unsat" winning and the others interrupted:
  //  - solver_, incremental through the indicators of the scopes, without relevancy
  //    filtering: what it learns about the steps of a search stays for every later goal,
  //    which pays off when many goals are refuted over the same steps;
  //  - two side solvers with relevancy filtering and the simplex arithmetic solver, far
  //    ahead where the steps add bounded amounts to numbers: one incremental through the
  //    indicators like solver_, one through Z3's own push and pop (which of the two is
  //    ahead changes from one search to the next, and from one attempt to the next);
  //  - the portfolio: fresh solvers of several configurations on the current assertions
  //    alone, made anew for each check. A satisfiable check prints the model of the
  //    portfolio's winner, which is chosen by Z3's count of its work, not by the clock:
  //    the incremental solvers are interrupted at points that depend on timing, so their
  //    models could differ from run to run, while the portfolio's only depend on the
  //    assertions, and the same input gives the same model every time.
  // solver_ and the portfolio start at once; the side solvers join a check that has not
  // been decided within a few milliseconds (most checks of a search are decided by
  // solver_ alone in that time).
  // A "sat" of an incremental solver counts only if its model satisfies the current
  // assertions: one that an interrupt has left without some of what it was given is
  // made anew from given_. The memory is that of the three incremental solvers, the
  // portfolio's, and the fresh solvers made ahead and not yet freed, whatever the search.
  // The side solvers follow given_ (translated into their contexts when a race starts);
  // each context is only used by one thread at a time.
  struct Side {
    explicit Side(bool pp) : pushPop(pp) { pending.start(); }
    SideSolver& solver() {
      if (!s) s = pending.take();
      return *s;
    }
    // Made anew from given_ (the old one freed on the thread that makes the new one).
    void renew();
    Prepared pending;
    std::unique_ptr<SideSolver> s;
    bool pushPop;     // Z3's own push and pop; else the indicators of solver_
    size_t seen = 0;  // entries of given_ it has been given
    // The plain formulas of given_ in its context, by their ids in the session's: the
    // formulas that its models are checked against are translated once, not per check.
    std::unordered_map<unsigned, z3::expr> plain;
  };
  std::vector<Side> sides_;
  std::vector<Given> given_;
  void makeSides();
  // The portfolio's solvers of the next check, one per configuration, made while the
  // session reads the commands before it.
  std::deque<Prepared> nextFresh_;
  void prepareFresh();
  // Waits until the portfolio of the last check no longer reads the context of the side
  // solver that it was given its assertions from (set by race).
  std::function<void()> awaitFill_;
  void awaitFill() {
    if (awaitFill_) awaitFill_();
    awaitFill_ = nullptr;
  }
};

// The program's main: options "-i", "-e" and an optional input file (standard input
// otherwise). Returns the exit status.
int solverMain(int argc, char** argv);

}  // namespace vxsolver
