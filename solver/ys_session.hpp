// One run of the solver program: the commands of the solver language executed in order
// against Z3 solvers that keep their state across checks (push and pop open and close
// scopes of indicator literals, see Session::scopes_; a check is decided by one of them
// alone or else by a race of differently configured solvers, see ys_check.cpp), with the
// interactive prompt, the line discipline of the output and the model printed after a
// check.
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

class Race;

// How much of Z3's resource count solver_ may spend on a check alone before the check
// becomes a race: about 0.1 to 0.5 s of its work.
constexpr unsigned kAloneLimit = 3000000;

struct Options {
  bool interactive = false;  // "-i": a prompt before each command
  bool evidence = false;     // "-e": the model after "sat" and "unknown"
  unsigned aloneLimit = kAloneLimit;  // 0: every check is a race (for tests)
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
  // solver_ checks alone under opt_.aloneLimit; whether that decided (res, and the model).
  bool decideFirst(const z3::expr_vector& assumptions, z3::check_result& res, std::optional<z3::model>& model);
  z3::expr_vector currentAssertions();
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
  // A check is decided by solver_ alone, or else by a race (ys_check.cpp): solver_, the
  // side solvers, each in a Z3 context of its own, incremental like solver_ (one
  // through the indicators of the scopes, one through Z3's own push and pop), and the
  // portfolio of fresh solvers (ys_race.hpp) whose winner's model is printed. The side
  // solvers follow given_ (translated into their contexts when they are asked a check);
  // each context is only used by one thread at a time.
  struct Side {
    Side(bool pp, const SolverConfig& config) : pending(config), pushPop(pp) {}
    // Begins making its solver, unless that is begun.
    void begin() {
      if (!begun) pending.start();
      begun = true;
    }
    // Whether its solver is made (so that solver() does not wait).
    bool ready() const { return s || (begun && pending.ready()); }
    SideSolver& solver() {
      if (!s) s = pending.take();
      begun = true;
      return *s;
    }
    // Made anew from given_ (the old one freed on the thread that makes the new one).
    void renew();
    Prepared pending;
    std::unique_ptr<SideSolver> s;
    bool begun = false;
    bool pushPop;     // Z3's own push and pop; else the indicators of solver_
    size_t seen = 0;  // entries of given_ it has been given
    // The plain formulas of given_ in its context, by their ids in the session's: the
    // formulas that its models are checked against are translated once, not per check.
    std::unordered_map<unsigned, z3::expr> plain;
  };
  std::vector<Side> sides_;  // none until a search has shown that it needs them
  // Whether every check so far was decided by solver_ alone within opt_.aloneLimit: then its
  // state, and so its models, depend on the input alone, and it checks alone first.
  // The first check that it cannot decide so begins the races for good: what the clock
  // interrupts depends on timing, and from then on only the portfolio gives models.
  bool alone_;
  // How solver_ searches: the simplex configuration, which decides linear searches
  // fastest, until it gives up on a check (on products of unknowns, say) before its
  // limit; from then on Z3's default arithmetic.
  SolverConfig mainConfig_ = sideConfig();
  // The solvers of the races are made ahead as a search grows: the side solver that
  // checks beside solver_ once a check alone has taken an eighth of its limit, the others
  // once one has taken half.
  void prepare(double work);
  std::vector<Given> given_;
  void makeSides();
  // Gives the side solver what the session has given since; the check's assumptions and
  // the current assertions in its context.
  std::pair<z3::expr_vector, z3::expr_vector> catchUp(Side& side, const z3::expr_vector& assumptions);
  // Enters the side solvers whose contexts are made in the race: to join it later, or,
  // the portfolio's source, once the portfolio has its assertions (afterFill).
  void enterSides(Race& race, const z3::expr_vector& assumptions, std::vector<size_t>& later,
                  std::vector<size_t>& afterFill);
  void renewRefuted(Race& race);
  // Enters the portfolio in the race, to be given the source's formulas; its index.
  size_t enterPortfolio(Race& race, const z3::expr_vector& source);
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
