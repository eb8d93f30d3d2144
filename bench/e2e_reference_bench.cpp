// Whole searches side by side with Z3 answering the same questions itself.
//
// The domains are the files of bench/domains (NAME.dom and NAME.ser, listed in its
// MANIFEST with the length of the shortest plan, 0 for none within the bound); the Z3
// references ask their questions from a model of each domain written below in SMT-LIB.
// For each domain the contenders answer the checks of one search:
//   vorlax        the built vorlax end to end, with YICES_EXE pointing at vorlax-solver
//                 (total only, and its peak resident set; it is started through a fresh
//                 copy of this program, see launch, so that the figure holds nothing of
//                 this process's own peak);
//   solver        vorlax-solver driven over pipes with what vorlax sends (its domain and
//                 goal dumps, then per attempt: step, push, goal, check, pop), timed per
//                 attempt;
//   z3_inc_*      the same questions written here as SMT-LIB 2 (the steps and frames in the
//                 form vorlax gives them) and given to the Z3 library in one context
//                 (Z3_eval_smtlib2_string keeps its state from one call to the next, as the
//                 z3 command line does): the steps asserted at the base, the goal of each
//                 attempt between push and pop;
//   z3_assume_*   the same in one context without push and pop: the goal of each attempt
//                 implied by a literal of its own that the check assumes (check-sat-assuming)
//                 and that is asserted false afterwards;
//   z3_scratch_*  a new context for every attempt, which asserts the steps up to that
//                 attempt and its goal and checks once;
//   z3_cli_*      the questions of z3_assume_* given over pipes to the z3 command-line
//                 program, when one is installed: like vorlax-solver it pays for starting a
//                 process and loading Z3, which the references inside this process do not.
//   seeds         the best reference of the domain run again with Z3's random seeds 1 to 4
//                 (where it took at most 30 s): the seed decides among equal choices in
//                 Z3's search, and the spread shows how far one figure is a lucky draw.
// The references run with Z3's default options (arithmetic solver 6, relevancy 2), with
// the simplex arithmetic solver (arith2: smt.arith.solver=2), and without relevancy
// filtering (rel0: smt.relevancy=0).
// Each contender, vorlax included, is capped at the domain's cap (Z3's timeout on the
// remaining time); a capped run counts as "at least" its time and is not a best reference
// unless all are. A reference where Z3 gives up before the cap ("unknown", as it may on
// nonlinear arithmetic) has no valid figure and is never the best.
// After the runs a table gives per domain each contender's total and slowest attempt and
// the ratios vorlax / best reference, solver / best reference and vorlax / best from
// scratch, then the totals of the best reference with seeds 0 to 4.
// The figures that decide come last, per domain: vorlax's time; the median of its best
// reference over the seeds (seed 0 alone, marked, where they were not run) and vorlax /
// median; the domain's ceiling (1.25 x median; median + 0.05 s where the median is under
// 0.3 s) and whether vorlax is within it; the best z3 program over pipes (of the z3_cli_*
// runs that answered every attempt within the cap, the one of least total), vorlax / it and
// whether vorlax is no slower; the longest number of vorlax's script; and peak_rss_MB, the
// larger of the peak resident sets of vorlax and of its solver, not their sum (ru_maxrss
// of vorlax from wait4, which takes in the children vorlax waited for, and vorlax waits
// for its solver), in MB of 1024 KB. Then, over the light domains (those not marked heavy):
// the geometric mean of vorlax / median against its target 2.0, the geometric mean of
// vorlax / best z3 over pipes, and on how many vorlax is no slower than the best z3
// program over pipes (the target: all). Last, account10 and task20 against their targets of
// 0.6 and 1.0 x median. A ratio from a capped run is a bound ("<=" or ">="), and so is the
// peak of a capped vorlax, whose solver is killed without being waited for.
// The table comes after the load average of the machine before and after the runs.
//
// The default run is kept to a few minutes: each contender stops at 12 s per domain. With
// VORLAX_BENCH_HEAVY=1 the cap is 300 s and the domains marked heavy in the MANIFEST
// (account12, twelve calls) run too.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <z3.h>

#include "e2e_child.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;


// ---------------------------------------------------------------- domains
//
// The vorlax inputs of each domain are the files NAME.dom and NAME.ser in bench/domains
// (VORLAX_BENCH_DOMAINS), listed in its MANIFEST with the length of the shortest plan.
// Z3's references ask the same questions from a model of each domain written here in
// SMT-LIB 2: its structures, its procedures (their requires and ensures over the step index
// i, the frame added by smtDomain), its goal variables and initial state, and its goal.

struct Param {
  std::string name, type;  // type: Int, Bool, Double or a structure
};

struct Proc {
  std::string name;
  std::vector<Param> params;
  std::vector<std::string> unframed;  // parameters that the frame leaves out
  std::map<std::string, std::vector<std::string>> kept;  // ... only while these fields stay
  std::string body;                   // SMT-LIB over the parameters and the step index i
};

struct Domain {
  std::string name;
  std::string dom, ser;  // the vorlax inputs, as read from the files
  long bound = 0;        // the "@ n" of the serialization file
  long plan = 0;         // length of the shortest plan (MANIFEST); 0: none within the bound
  bool heavy = false;    // marked heavy in the MANIFEST: only in the long run, outside the means
  double cap = 12;       // seconds a contender may take on the whole search (see heavy())
  std::vector<std::pair<std::string, std::vector<Param>>> structs;  // name, fields
  std::string defs;                                                 // the functions, as define-fun over i
  std::vector<Proc> procs;                                          // in the order vorlax lists them
  std::string vars;                                                 // goal variables, initial state
  std::string goal;                                                 // "{n}": the number of steps
  std::string solverGoal;                                           // the same in the solver language
};

std::string subst(std::string s, long n) {
  for (size_t p; (p = s.find("{n}")) != std::string::npos;) s.replace(p, 3, std::to_string(n));
  return s;
}

// account10, account12 (deposits of at most 10) and even6 (steps of 2 v, an odd target).
Domain bank(long target, bool even) {
  Domain d;
  std::string stepY = even ? "(* 2 v)" : "v";
  d.structs = {{"Account", {{"balance", "Int"}, {"open", "Bool"}}}};
  d.procs = {
      {"withdraw",
       {{"a", "Account"}, {"v", "Int"}},
       {"a"},
       {{"a", {"open"}}},
       "(open a i) (> v 0) (>= (balance a i) " + stepY + ") (= (balance a (+ i 1)) (- (balance a i) " + stepY +
           "))"},
      {"deposit",
       {{"a", "Account"}, {"v", "Int"}},
       {"a"},
       {{"a", {"open"}}},
       std::string("(open a i) (> v 0) ") + (even ? "" : "(<= v 10) ") + "(= (balance a (+ i 1)) (+ (balance a i) " +
           stepY + "))"},
      {"open_account", {{"a", "Account"}}, {"a"}, {}, "(not (open a i)) (open a (+ i 1)) (= (balance a (+ i 1)) 0)"},
  };
  d.vars = "(declare-const acc Account_ref)\n" +
           std::string(even ? "(assert (not (open acc 0)))\n" : "(assert (open acc 0))\n(assert (= (balance acc 0) 0))\n");
  d.goal = "(= (balance acc {n}) " + std::to_string(target) + ")";
  if (even) d.goal = "(and (open acc {n}) " + d.goal + ")";
  d.solverGoal = d.goal;
  return d;
}

// step1 .. stepk, each taking one task from one stage to the next.
Domain task(long k) {
  Domain d;
  d.structs = {{"Task", {{"stage", "Int"}}}};
  for (long i = k; i >= 1; --i)
    d.procs.push_back({"step" + std::to_string(i), {{"t", "Task"}}, {"t"}, {},
                       "(= (stage t i) " + std::to_string(i - 1) + ") (= (stage t (+ i 1)) " + std::to_string(i) + ")"});
  d.vars = "(declare-const t Task_ref)\n(assert (= (stage t 0) 0))\n";
  d.goal = d.solverGoal = "(= (stage t {n}) " + std::to_string(k) + ")";
  return d;
}

// A list whose head is linked to a node, and the node's value.
Domain list() {
  Domain d;
  d.structs = {{"Node", {{"value", "Int"}}}, {"List", {{"head", "Node"}, {"length", "Int"}}}};
  d.procs = {
      {"link",
       {{"l", "List"}, {"n", "Node"}},
       {"l", "n"},
       {{"n", {"value"}}},
       "(distinct n null_Node) (= (head l (+ i 1)) n) (= (length l (+ i 1)) (+ (length l i) 1))"},
      {"set_value", {{"n", "Node"}, {"v", "Int"}}, {"n"}, {}, "(= (value n (+ i 1)) v)"},
  };
  d.vars = "(declare-const l List_ref)\n(declare-const n Node_ref)\n(assert (= (length l 0) 0))\n"
           "(assert (= (head l 0) null_Node))\n(assert (distinct n null_Node))\n(assert (= (value n 0) 0))\n";
  d.goal = d.solverGoal = "(and (= (head l {n}) n) (= (value (head l {n}) {n}) 42))";
  return d;
}

// A mix of acid and water (Double fields) whose goal divides by their sum: nonlinear.
Domain acid() {
  Domain d;
  d.structs = {{"Mix", {{"acid", "Double"}, {"water", "Double"}}}};
  d.procs = {
      {"addWater", {{"m", "Mix"}, {"v", "Double"}}, {"m"}, {{"m", {"acid"}}},
       "(> (+ v v) v) (= (water m (+ i 1)) (+ (water m i) v))"},
      {"addAcid", {{"m", "Mix"}, {"v", "Double"}}, {"m"}, {{"m", {"water"}}},
       "(> (+ v v) v) (= (acid m (+ i 1)) (+ (acid m i) v))"},
  };
  d.vars = "(declare-const m Mix_ref)\n(assert (distinct m null_Mix))\n"
           "(assert (> (+ (water m 0) (water m 0)) (water m 0)))\n(assert (= (acid m 0) (- (water m 0) (water m 0))))\n";
  const std::string sum = "(+ (acid m {n}) (water m {n}))", share = "(/ (acid m {n}) " + sum + ")";
  d.goal = d.solverGoal =
      "(and (= (+ " + share + " " + share + ") (/ (water m {n}) " + sum + ")) (> (acid m {n}) (water m 0)))";
  return d;
}

// The README's tank: a valve, and a capacity given by a function.
Domain tank() {
  Domain d;
  d.structs = {{"Tank", {{"level", "Int"}, {"open", "Bool"}}}};
  d.defs = "(define-fun capacity ((t Tank_ref) (i Int)) Int 10)\n";
  d.procs = {
      {"fill", {{"t", "Tank"}, {"litres", "Int"}}, {"t"}, {{"t", {"open"}}},
       "(open t i) (> litres 0) (<= (+ (level t i) litres) (capacity t i)) (= (level t (+ i 1)) (+ (level t i) litres))"},
      {"open_valve", {{"t", "Tank"}}, {"t"}, {{"t", {"level"}}}, "(not (open t i)) (open t (+ i 1))"},
  };
  d.vars = "(declare-const tank Tank_ref)\n(assert (distinct tank null_Tank))\n(assert (= (level tank 0) 4))\n"
           "(assert (not (open tank 0)))\n";
  d.goal = "(= (level tank {n}) (capacity tank {n}))";
  d.solverGoal = "(= (level tank {n}) ((capacity tank) {n}))";
  return d;
}

// An account with a fee: a function of both fields decides in a require what may be
// withdrawn, and the goal is written with it.
Domain fnpre() {
  Domain d;
  d.structs = {{"Account", {{"balance", "Int"}, {"fee", "Int"}}}};
  d.defs = "(define-fun spendable ((a Account_ref) (i Int)) Int (- (balance a i) (fee a i)))\n";
  d.procs = {
      {"withdraw", {{"a", "Account"}, {"v", "Int"}}, {"a"}, {{"a", {"fee"}}},
       "(> v 0) (<= v (spendable a i)) (= (balance a (+ i 1)) (- (balance a i) v))"},
      {"deposit", {{"a", "Account"}, {"v", "Int"}}, {"a"}, {{"a", {"fee"}}},
       "(> v 0) (<= v 10) (= (balance a (+ i 1)) (+ (balance a i) v))"},
  };
  d.vars = "(declare-const acc Account_ref)\n(assert (distinct acc null_Account))\n(assert (= (balance acc 0) 0))\n"
           "(assert (= (fee acc 0) 3))\n";
  d.goal = "(= (spendable acc {n}) 72)";
  d.solverGoal = "(= ((spendable acc) {n}) 72)";
  return d;
}

// A point: diagonal and swap change both coordinates at once, up only one.
Domain twofields() {
  Domain d;
  d.structs = {{"Point", {{"x", "Int"}, {"y", "Int"}}}};
  d.procs = {
      {"swap", {{"p", "Point"}}, {"p"}, {},
       "(distinct (x p i) (y p i)) (= (x p (+ i 1)) (y p i)) (= (y p (+ i 1)) (x p i))"},
      {"diagonal", {{"p", "Point"}}, {"p"}, {}, "(= (x p (+ i 1)) (+ (x p i) 1)) (= (y p (+ i 1)) (+ (y p i) 1))"},
      {"up", {{"p", "Point"}}, {"p"}, {{"p", {"x"}}}, "(= (y p (+ i 1)) (+ (y p i) 1))"},
  };
  d.vars = "(declare-const pt Point_ref)\n(assert (distinct pt null_Point))\n(assert (= (x pt 0) 0))\n"
           "(assert (= (y pt 0) 0))\n";
  d.goal = d.solverGoal = "(and (= (x pt {n}) 5) (= (y pt {n}) 2))";
  return d;
}

// People and cars referring to each other; a car is sold, bought and driven.
Domain refs() {
  Domain d;
  d.structs = {{"Person", {{"ride", "Car"}}}, {"Car", {{"owner", "Person"}, {"km", "Int"}}}};
  d.procs = {
      {"drive", {{"c", "Car"}, {"d", "Int"}}, {"c"}, {{"c", {"owner"}}},
       "(distinct (owner c i) null_Person) (> d 0) (<= d 100) (= (km c (+ i 1)) (+ (km c i) d))"},
      {"sell", {{"p", "Person"}, {"c", "Car"}}, {"p", "c"}, {{"c", {"km"}}},
       "(= (ride p i) c) (= (owner c i) p) (= (ride p (+ i 1)) null_Car) (= (owner c (+ i 1)) null_Person)"},
      {"buy", {{"p", "Person"}, {"c", "Car"}}, {"p", "c"}, {{"c", {"km"}}},
       "(= (owner c i) null_Person) (= (ride p i) null_Car) (= (ride p (+ i 1)) c) (= (owner c (+ i 1)) p)"},
  };
  d.vars = "(declare-const alice Person_ref)\n(declare-const bob Person_ref)\n(declare-const car Car_ref)\n"
           "(assert (distinct alice null_Person))\n(assert (distinct bob null_Person))\n(assert (distinct alice bob))\n"
           "(assert (distinct car null_Car))\n(assert (= (owner car 0) alice))\n(assert (= (ride alice 0) car))\n"
           "(assert (= (ride bob 0) null_Car))\n(assert (= (km car 0) 0))\n";
  d.goal = d.solverGoal = "(and (and (= (ride bob {n}) car) (= (owner car {n}) bob)) (> (km car {n}) 150))";
  return d;
}

// A jar of fills of 3 and 5 and spills of 10: seven units need six calls, the bound is five.
Domain impossible() {
  Domain d;
  d.structs = {{"Jar", {{"units", "Int"}}}};
  d.procs = {
      {"spill", {{"j", "Jar"}}, {"j"}, {}, "(>= (units j i) 10) (= (units j (+ i 1)) (- (units j i) 10))"},
      {"fill5", {{"j", "Jar"}}, {"j"}, {}, "(= (units j (+ i 1)) (+ (units j i) 5))"},
      {"fill3", {{"j", "Jar"}}, {"j"}, {}, "(= (units j (+ i 1)) (+ (units j i) 3))"},
  };
  d.vars = "(declare-const jar Jar_ref)\n(assert (distinct jar null_Jar))\n(assert (= (units jar 0) 0))\n";
  d.goal = d.solverGoal = "(= (units jar {n}) 7)";
  return d;
}

// A binary counter of four Bool fields counted from 0 to 15: one possible call a step.
Domain longplan() {
  Domain d;
  d.structs = {{"Counter", {{"b0", "Bool"}, {"b1", "Bool"}, {"b2", "Bool"}, {"b3", "Bool"}}}};
  d.procs = {
      {"inc3", {{"c", "Counter"}}, {"c"}, {},
       "(b0 c i) (b1 c i) (b2 c i) (not (b3 c i)) (b3 c (+ i 1)) (not (b0 c (+ i 1))) (not (b1 c (+ i 1))) "
       "(not (b2 c (+ i 1)))"},
      {"inc2", {{"c", "Counter"}}, {"c"}, {{"c", {"b3"}}},
       "(b0 c i) (b1 c i) (not (b2 c i)) (b2 c (+ i 1)) (not (b0 c (+ i 1))) (not (b1 c (+ i 1)))"},
      {"inc1", {{"c", "Counter"}}, {"c"}, {{"c", {"b2", "b3"}}},
       "(b0 c i) (not (b1 c i)) (b1 c (+ i 1)) (not (b0 c (+ i 1)))"},
      {"inc0", {{"c", "Counter"}}, {"c"}, {{"c", {"b1", "b2", "b3"}}}, "(not (b0 c i)) (b0 c (+ i 1))"},
  };
  d.vars = "(declare-const cnt Counter_ref)\n(assert (distinct cnt null_Counter))\n";
  for (const char* b : {"b0", "b1", "b2", "b3"}) d.vars += std::string("(assert (not (") + b + " cnt 0)))\n";
  d.goal = d.solverGoal = "(and (and (and (b0 cnt {n}) (b1 cnt {n})) (b2 cnt {n})) (b3 cnt {n}))";
  return d;
}

// Three jobs of three stages each, interleaved as the search likes.
Domain stages() {
  Domain d;
  d.structs = {{"Job", {{"stage", "Int"}}}};
  const char* names[] = {"ship", "build", "begin"};
  for (int k = 0; k < 3; ++k)
    d.procs.push_back({names[k], {{"j", "Job"}}, {"j"}, {},
                       "(= (stage j i) " + std::to_string(2 - k) + ") (= (stage j (+ i 1)) " + std::to_string(3 - k) + ")"});
  d.vars = "(declare-const a Job_ref)\n(declare-const b Job_ref)\n(declare-const c Job_ref)\n"
           "(assert (distinct a null_Job))\n(assert (distinct b null_Job))\n(assert (distinct c null_Job))\n"
           "(assert (distinct a b))\n(assert (distinct a c))\n(assert (distinct b c))\n"
           "(assert (= (stage a 0) 0))\n(assert (= (stage b 0) 0))\n(assert (= (stage c 0) 0))\n";
  d.goal = d.solverGoal = "(and (and (= (stage a {n}) 3) (= (stage b {n}) 3)) (= (stage c {n}) 3))";
  return d;
}

// Towers of Hanoi with three disks: the peg of each disk an Int field; seven moves.
Domain towers() {
  Domain d;
  d.structs = {{"Game", {{"d1", "Int"}, {"d2", "Int"}, {"d3", "Int"}}}};
  const std::string peg = "(>= p 0) (<= p 2) ";
  d.procs = {
      {"move3", {{"g", "Game"}, {"p", "Int"}}, {"g"}, {{"g", {"d1", "d2"}}},
       peg + "(distinct p (d3 g i)) (distinct (d1 g i) (d3 g i)) (distinct (d2 g i) (d3 g i)) (distinct (d1 g i) p) "
             "(distinct (d2 g i) p) (= (d3 g (+ i 1)) p)"},
      {"move2", {{"g", "Game"}, {"p", "Int"}}, {"g"}, {{"g", {"d1", "d3"}}},
       peg + "(distinct p (d2 g i)) (distinct (d1 g i) (d2 g i)) (distinct (d1 g i) p) (= (d2 g (+ i 1)) p)"},
      {"move1", {{"g", "Game"}, {"p", "Int"}}, {"g"}, {{"g", {"d2", "d3"}}},
       peg + "(distinct p (d1 g i)) (= (d1 g (+ i 1)) p)"},
  };
  d.vars = "(declare-const g Game_ref)\n(assert (distinct g null_Game))\n(assert (= (d1 g 0) 0))\n"
           "(assert (= (d2 g 0) 0))\n(assert (= (d3 g 0) 0))\n";
  d.goal = d.solverGoal = "(and (and (= (d1 g {n}) 2) (= (d2 g {n}) 2)) (= (d3 g {n}) 2))";
  return d;
}

// The model of each domain the MANIFEST may list.
const std::map<std::string, Domain (*)()>& models() {
  static const std::map<std::string, Domain (*)()> m = {
      {"account10", [] { return bank(95, false); }},
      {"account12", [] { return bank(115, false); }},
      {"even6", [] { return bank(7, true); }},
      {"task20", [] { return task(20); }},
      {"list", list},
      {"acid", acid},
      {"tank", tank},
      {"fnpre", fnpre},
      {"twofields", twofields},
      {"refs", refs},
      {"impossible", impossible},
      {"longplan", longplan},
      {"stages", stages},
      {"towers", towers},
  };
  return m;
}

// Whether the long run is asked for (VORLAX_BENCH_HEAVY=1).
bool heavy() {
  const char* h = std::getenv("VORLAX_BENCH_HEAVY");
  return h && std::string(h) == "1";
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The domains of the MANIFEST in its order (the heavy ones only in the long run), with
// their files read; an empty list and the reason when something is wrong with them.
std::vector<Domain> loadDomains(const fs::path& dir, std::string& error) {
  std::vector<Domain> v;
  std::ifstream manifest(dir / "MANIFEST");
  if (!manifest) {
    error = "cannot read " + (dir / "MANIFEST").string();
    return {};
  }
  long lineNo = 0;
  for (std::string line; std::getline(manifest, line);) {
    ++lineNo;
    std::istringstream words(line);
    std::string name, calls, flag, extra;
    if (!(words >> name) || name[0] == '#') continue;
    const std::string where = (dir / "MANIFEST").string() + ":" + std::to_string(lineNo) + ": ";
    words >> calls >> flag >> extra;
    if (calls.empty() || calls.find_first_not_of("0123456789") != std::string::npos || calls.size() > 6 ||
        (!flag.empty() && flag != "heavy") || !extra.empty()) {
      error = where + "expected 'name calls [heavy]', found '" + line + "'";
      return {};
    }
    auto model = models().find(name);
    if (model == models().end()) {
      error = where + "no Z3 model of domain " + name + " in this benchmark";
      return {};
    }
    if (flag == "heavy" && !heavy()) continue;
    Domain d = model->second();
    d.name = name;
    d.plan = std::stol(calls);
    d.heavy = flag == "heavy";
    d.cap = heavy() ? 300 : 12;
    for (const char* ext : {".dom", ".ser"}) {
      fs::path p = dir / (name + ext);
      std::error_code ec;
      if (!fs::is_regular_file(p, ec)) {
        error = "cannot read " + p.string();
        return {};
      }
      (ext[1] == 'd' ? d.dom : d.ser) = slurp(p);
    }
    std::smatch m;
    if (!std::regex_search(d.ser, m, std::regex("(^|\n)[ \t]*@[ \t]*([0-9]{1,6})[ \t\r]*(\n|--)"))) {
      error = (dir / (name + ".ser")).string() + ": no bound '@ n' on a line of its own";
      return {};
    }
    d.bound = std::stol(m[2]);
    if (d.plan > d.bound) {
      error = where + "a plan of " + calls + " calls is beyond the bound " + std::to_string(d.bound);
      return {};
    }
    v.push_back(std::move(d));
  }
  if (v.empty()) error = "no domain in " + (dir / "MANIFEST").string();
  return v;
}

std::vector<Domain>& domains() {
  static std::vector<Domain> all;
  return all;
}

std::string sortOf(const std::string& type) {
  if (type == "Int" || type == "Bool") return type;
  return type == "Double" ? "Real" : type + "_ref";
}

// The domain as SMT-LIB 2: the step of each procedure a macro over its arguments and the
// step index, the frame written out object by object.
std::string smtDomain(const Domain& d) {
  std::string s = "(declare-datatype proc_tag (";
  for (const auto& p : d.procs) s += "(" + p.name + "_tag)";
  s += "))\n(declare-fun tag_array (Int) proc_tag)\n";
  std::vector<std::string> objects = {"null_", "_obj1", "_obj2", "_obj3", "_obj4"};
  auto object = [&](const std::string& st, size_t k) { return k == 0 ? "null_" + st : st + objects[k]; };
  for (const auto& [st, fields] : d.structs) {
    s += "(declare-datatype " + st + "_ref (";
    for (size_t k = 0; k < objects.size(); ++k) s += "(" + object(st, k) + ")";
    s += "))\n";
  }
  std::vector<std::string> argTypes;
  for (const auto& p : d.procs)
    for (const auto& a : p.params)
      if (std::find(argTypes.begin(), argTypes.end(), a.type) == argTypes.end()) argTypes.push_back(a.type);
  for (const auto& t : argTypes) s += "(declare-fun " + t + "_arg (Int Int) " + sortOf(t) + ")\n";
  for (const auto& [st, fields] : d.structs) {
    std::string eq;
    for (const auto& f : fields) {
      s += "(declare-fun " + f.name + " (" + st + "_ref Int) " + sortOf(f.type) + ")\n";
      eq += " (= (" + f.name + " o (+ i 1)) (" + f.name + " o i))";
    }
    s += "(define-fun " + st + "_eq ((o " + st + "_ref) (i Int)) Bool (and" + eq + "))\n";
  }
  s += d.defs;
  for (const auto& p : d.procs) {
    s += "(define-fun " + p.name + " (";
    for (const auto& a : p.params) s += "(" + a.name + " " + sortOf(a.type) + ") ";
    s += "(i Int)) Bool (and " + p.body;
    for (const auto& [st, fields] : d.structs) {
      std::string except;
      for (const auto& a : p.params) {
        if (a.type != st || std::find(p.unframed.begin(), p.unframed.end(), a.name) == p.unframed.end()) continue;
        auto k = p.kept.find(a.name);
        if (k == p.kept.end()) {
          except += " (= o " + a.name + ")";
          continue;
        }
        except += " (and (= o " + a.name + ")";
        for (const auto& f : k->second) except += " (= (" + f + " o i) (" + f + " o (+ i 1)))";
        except += ")";
      }
      for (size_t k = 0; k < objects.size(); ++k) {
        std::string eq = "(" + st + "_eq " + object(st, k) + " i)";
        std::string ex = except;
        for (size_t q; (q = ex.find(" o ")) != std::string::npos;) ex.replace(q, 3, " " + object(st, k) + " ");
        s += except.empty() ? " " + eq : " (=> (not (or" + ex + ")) " + eq + ")";
      }
    }
    s += " (= (tag_array i) " + p.name + "_tag)))\n";
  }
  return s + d.vars;
}

std::string smtStep(const Domain& d, long i) {
  std::string s = "(assert (or";
  for (const auto& p : d.procs) {
    s += " (" + p.name;
    for (size_t k = 0; k < p.params.size(); ++k)
      s += " (" + p.params[k].type + "_arg " + std::to_string(k + 1) + " " + std::to_string(i) + ")";
    s += " " + std::to_string(i) + ")";
  }
  return s + "))\n";
}

// ---------------------------------------------------------------- results

struct Result {
  double total = 0, slowest = 0;
  long answered = 0;  // attempts answered (within the cap)
  bool capped = false, ok = false;
  bool unknown = false;  // the solver gave up before the cap ("unknown"): no valid figure
};
std::map<std::string, std::map<std::string, Result>>& results() {
  static std::map<std::string, std::map<std::string, Result>> r;
  return r;
}

void report(benchmark::State& state, const Domain& d, const std::string& who, const Result& r) {
  results()[d.name][who] = r;
  state.counters["total_s"] = r.total;
  if (r.slowest > 0) state.counters["slowest_attempt_s"] = r.slowest;
  if (r.capped) state.counters["capped"] = 1;
  if (r.unknown) state.counters["unknown"] = 1;
  if (r.answered > 0) state.counters["attempts_answered"] = static_cast<double>(r.answered);
}

// ---------------------------------------------------------------- Z3 references

struct Z3Run {
  Z3_context ctx;
  explicit Z3Run(const std::string& options) {
    Z3_config cfg = Z3_mk_config();
    ctx = Z3_mk_context(cfg);
    Z3_del_config(cfg);
    eval(options);
  }
  ~Z3Run() { Z3_del_context(ctx); }
  std::string eval(const std::string& s) {
    const char* out = Z3_eval_smtlib2_string(ctx, s.c_str());
    return out ? out : "";
  }
};

std::string verdictOf(const std::string& out) {
  std::istringstream in(out);
  std::string line, last;
  while (std::getline(in, line))
    if (line == "sat" || line == "unsat" || line == "unknown") last = line;
    else if (!line.empty() && line != "success") last = "error: " + line;
  return last;
}

// How a reference asks Z3: in one context (push/pop or assumptions), from scratch, or
// through the z3 program; with which options and random seed.
struct Config {
  enum Kind { Incremental, Scratch, Program } kind;
  bool assume;
  std::string arith, relevancy;
};

std::string optionsText(const Config& c, double timeoutSeconds, int seed) {
  return "(set-option :smt.arith.solver " + c.arith + ")\n(set-option :smt.relevancy " + c.relevancy +
         ")\n(set-option :timeout " + std::to_string(static_cast<long>(1000 * std::max(0.1, timeoutSeconds))) +
         ")\n" + (seed ? "(set-option :smt.random_seed " + std::to_string(seed) + ")\n" : std::string());
}

// Z3 answers "unknown" both when its timeout (the cap) stops a check and when it gives up
// (nonlinear arithmetic, for one): the first is "timeout", the second stays "unknown".
// reason is its reply to (get-info :reason-unknown); took and left the attempt's time and
// what was left of the cap when it began.
std::string classify(const std::string& verdict, const std::string& reason, double took, double left) {
  if (verdict != "unknown") return verdict;
  for (const char* stop : {"timeout", "canceled", "resource"})
    if (reason.find(stop) != std::string::npos) return "timeout";
  return took >= left - 0.05 ? "timeout" : "unknown";
}

// Checks the verdict of attempt i against the domain; false if it differs (with the
// error unless the attempt was stopped at the cap or the solver gave up).
bool expected(std::string& error, const Domain& d, long i, const std::string& verdict, Result& r) {
  std::string want = d.plan == i + 1 ? "sat" : "unsat";
  if (verdict == want) {
    r.answered = i + 1;
    return true;
  }
  if (verdict == "timeout") {
    r.capped = true;
    return false;
  }
  if (verdict == "unknown") {
    r.unknown = true;
    return false;
  }
  error = d.name + ": attempt " + std::to_string(i) + " answered " + verdict + ", expected " + want;
  return false;
}

// One context for the whole search; the goal of an attempt between push and pop, or
// (assume) under a literal that the check assumes and that is then asserted false.
Result runIncremental(const Domain& d, const Config& c, int seed, std::string& error) {
  Result r;
  Z3_global_param_reset_all();
  auto t0 = Clock::now();
  Z3Run z(optionsText(c, d.cap, seed));
  z.eval(smtDomain(d));
  r.ok = true;
  for (long i = 0; i < d.bound; ++i) {
    double left = d.cap - std::chrono::duration<double>(Clock::now() - t0).count();
    auto a0 = Clock::now();
    std::string timeout =
        "(set-option :timeout " + std::to_string(static_cast<long>(1000 * std::max(0.1, left))) + ")\n";
    std::string g = "goal_" + std::to_string(i + 1), goal = subst(d.goal, i + 1);
    std::string v = verdictOf(z.eval(
        smtStep(d, i) + timeout +
        (c.assume ? "(declare-const " + g + " Bool)\n(assert (=> " + g + " " + goal + "))\n(check-sat-assuming (" + g + "))\n"
                  : "(push)\n(assert " + goal + ")\n(check-sat)\n")));
    double took = std::chrono::duration<double>(Clock::now() - a0).count();
    if (v == "unknown") v = classify(v, z.eval("(get-info :reason-unknown)\n"), took, left);
    r.slowest = std::max(r.slowest, took);
    if (!expected(error, d, i, v, r)) {
      r.ok = false;
      break;
    }
    if (v == "sat") break;
    z.eval(c.assume ? "(assert (not " + g + "))\n" : "(pop)\n");
  }
  r.total = std::chrono::duration<double>(Clock::now() - t0).count();
  Z3_global_param_reset_all();
  return r;
}

// A new context for every attempt, which asserts the steps up to that attempt and its
// goal and checks once.
Result runScratch(const Domain& d, const Config& c, int seed, std::string& error) {
  Result r;
  Z3_global_param_reset_all();
  auto t0 = Clock::now();
  r.ok = true;
  std::string steps;
  for (long i = 0; i < d.bound; ++i) {
    steps += smtStep(d, i);
    double left = d.cap - std::chrono::duration<double>(Clock::now() - t0).count();
    auto a0 = Clock::now();
    std::string v;
    {
      Z3Run z(optionsText(c, left, seed));
      v = verdictOf(z.eval(smtDomain(d) + steps + "(assert " + subst(d.goal, i + 1) + ")\n(check-sat)\n"));
      double took = std::chrono::duration<double>(Clock::now() - a0).count();
      if (v == "unknown") v = classify(v, z.eval("(get-info :reason-unknown)\n"), took, left);
    }
    r.slowest = std::max(r.slowest, std::chrono::duration<double>(Clock::now() - a0).count());
    if (!expected(error, d, i, v, r)) {
      r.ok = false;
      break;
    }
    if (v == "sat") break;
  }
  r.total = std::chrono::duration<double>(Clock::now() - t0).count();
  Z3_global_param_reset_all();
  return r;
}

Result runProgram(const Domain& d, const Config& c, int seed, std::string& error);

Result runConfig(const Domain& d, const Config& c, int seed, std::string& error) {
  switch (c.kind) {
    case Config::Incremental: return runIncremental(d, c, seed, error);
    case Config::Scratch: return runScratch(d, c, seed, error);
    case Config::Program: return runProgram(d, c, seed, error);
  }
  return Result();
}

// The references by name, for the runs with other seeds.
std::map<std::string, Config>& configs() {
  static std::map<std::string, Config> c;
  return c;
}

void BM_Z3(benchmark::State& state, const Domain* d, std::string who) {
  const Config& c = configs().at(who);
  Result r;
  std::string error;
  for (auto _ : state) {
    error.clear();
    r = runConfig(*d, c, 0, error);
  }
  if (!error.empty()) state.SkipWithError(error.c_str());
  if (r.ok || r.capped || r.unknown) report(state, *d, who, r);
}

// ---------------------------------------------------------------- vorlax and its solver

using vorlax_bench::Child;
using vorlax_bench::finish;
using vorlax_bench::sendAll;
using vorlax_bench::start;

// The z3 program on the PATH; "" when there is none.
std::string z3Program() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    fs::path p = fs::path(dir.empty() ? "." : dir) / "z3";
    if (access(p.c_str(), X_OK) == 0 && !fs::is_directory(p)) return p.string();
  }
  return "";
}

std::string readAnswer(int fd, std::string& pending, double seconds);
const char* const kBegin = "_![<[BEGIN_OUTPUT]>]!_";
const char* const kEnd = "_![<[END_OUTPUT]>]!_";

// The questions of runIncremental with assumptions, asked of the z3 program over pipes.
Result runProgram(const Domain& d, const Config& cfg, int seed, std::string& error) {
  Result r;
  const std::string z3 = z3Program();
  if (z3.empty()) {
    error = "not run: no z3 program on the PATH (the Debian package z3)";
    return r;
  }
  const std::string markers[] = {std::string("(echo \"") + kBegin + "\")\n",
                                 std::string("(echo \"") + kEnd + "\")\n"};
  auto t0 = Clock::now();
  Child c = start(z3.c_str(), {"-in"});
  std::string pending;
  bool ok = c.pid > 0 && sendAll(c.in, optionsText(cfg, d.cap, seed) + smtDomain(d));
  for (long i = 0; ok && i < d.bound; ++i) {
    auto a0 = Clock::now();
    double left = d.cap - std::chrono::duration<double>(Clock::now() - t0).count();
    std::string g = "goal_" + std::to_string(i + 1);
    ok = sendAll(c.in, smtStep(d, i) + "(set-option :timeout " +
                           std::to_string(static_cast<long>(1000 * std::max(0.1, left))) + ")\n(declare-const " + g +
                           " Bool)\n(assert (=> " + g + " " + subst(d.goal, i + 1) + "))\n" + markers[0] +
                           "(check-sat-assuming (" + g + "))\n" + markers[1]);
    std::string v = ok ? readAnswer(c.out, pending, left) : "eof";
    if (v == "unknown") {
      double took = std::chrono::duration<double>(Clock::now() - a0).count();
      std::string reason = sendAll(c.in, markers[0] + "(get-info :reason-unknown)\n" + markers[1])
                               ? readAnswer(c.out, pending, std::max(1.0, left - took))
                               : "eof";
      v = classify(v, reason, took, left);
    }
    if (v == "timeout") kill(c.pid, SIGKILL);  // stopped at the cap
    r.slowest = std::max(r.slowest, std::chrono::duration<double>(Clock::now() - a0).count());
    ok = expected(error, d, i, v, r);
    if (!ok || v == "sat") break;
    ok = sendAll(c.in, "(assert (not " + g + "))\n");
  }
  finish(c);
  r.total = std::chrono::duration<double>(Clock::now() - t0).count();
  r.ok = ok;
  return r;
}

fs::path workDir(const Domain& d) {
  fs::path dir = fs::temp_directory_path() / ("vorlax_reference_bench_" + std::to_string(getpid())) / d.name;
  fs::create_directories(dir);
  return dir;
}

// vorlax is started through this program run again as its launcher ("--launch REPORT
// PROGRAM ARGS..."): the rusage that wait4 gives of a child holds the peak resident set
// that its parent had when the child was started, and this program's own peak, with Z3's
// contexts in it, would hide vorlax's. The launcher is a fresh copy of this program that
// has done nothing yet. It writes "R" when it is up, waits for "g" on its input, then forks
// and execs PROGRAM (which inherits the input, the output and the directory, and is killed
// if the launcher dies), passes a SIGTERM on to it, and writes to REPORT the ru_maxrss of
// PROGRAM from wait4 (in KB; with the children PROGRAM waited for). It ends as PROGRAM did.
const char* const kLaunch = "--launch";
volatile sig_atomic_t gLaunched = 0;

void passTerm(int) {
  if (gLaunched > 0) kill(gLaunched, SIGTERM);
}

int launch(const char* report, char** argv) {
  sigset_t term, old;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, &old);  // a SIGTERM before the fork waits for the child's pid
  struct sigaction sa {};
  sa.sa_handler = passTerm;
  sigaction(SIGTERM, &sa, nullptr);
  char go = 0;
  if (write(1, "R", 1) != 1 || read(0, &go, 1) != 1 || go != 'g') return 111;
  const pid_t self = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != self) _exit(111);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    execv(argv[0], argv);
    _exit(127);
  }
  if (pid < 0) return 111;
  gLaunched = pid;
  close(0);
  close(1);  // the end of the output is PROGRAM's
  sigprocmask(SIG_SETMASK, &old, nullptr);
  int ws = 0;
  rusage ru{};
  pid_t w;
  while ((w = wait4(pid, &ws, 0, &ru)) < 0 && errno == EINTR) {
  }
  if (w == pid)
    if (FILE* f = std::fopen(report, "w")) {
      std::fprintf(f, "%ld\n", ru.ru_maxrss);
      std::fclose(f);
    }
  if (WIFSIGNALED(ws)) {
    signal(WTERMSIG(ws), SIG_DFL);
    raise(WTERMSIG(ws));
  }
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 111;
}

std::string& launcherPath() {
  static std::string p;
  return p;
}

struct VorlaxRun {
  std::string out;      // what vorlax printed
  int status = -1;      // its exit status; -1 if it did not exit
  bool capped = false;  // still going at the cap, and ended
  double seconds = 0;   // from the launcher's go to the end of vorlax
  long maxrssKb = -1;   // ru_maxrss of vorlax from wait4; -1 if unknown
};

// Runs vorlax on the domain through the launcher. With dumpOnly the bound is 1: the run is
// quick, and its dumps are those of the whole search. A run still going after seconds is
// ended (SIGTERM, which ends its solver too; SIGKILL if it lingers) and capped is set.
VorlaxRun runVorlax(const Domain& d, double seconds, bool dumpOnly = false) {
  VorlaxRun run;
  fs::path dir = workDir(d);
  std::string ser = d.ser;
  if (dumpOnly) ser = std::regex_replace(ser, std::regex("(^|\n)([ \t]*)@[ \t]*[0-9]+"), "$1$2@ 1");
  std::ofstream(dir / "d.dom") << d.dom;
  std::ofstream(dir / "d.ser") << ser;
  const fs::path report = dir / "maxrss";
  std::error_code ec;
  fs::remove(report, ec);
  Child c = start(launcherPath().c_str(), {kLaunch, report.string(), VORLAX_BIN, "d.dom", "d.ser"}, dir.string());
  if (c.pid < 0) return run;
  pollfd up{c.out, POLLIN, 0};
  char ready = 0;
  if (poll(&up, 1, 30000) <= 0 || read(c.out, &ready, 1) != 1 || ready != 'R') {
    kill(c.pid, SIGKILL);
    finish(c);
    return run;
  }
  const auto t0 = Clock::now();
  sendAll(c.in, "g");
  close(c.in);
  c.in = -1;
  auto deadline = t0 + std::chrono::duration<double>(seconds);
  for (bool termed = false;;) {
    double left = std::chrono::duration<double>(deadline - Clock::now()).count();
    pollfd p{c.out, POLLIN, 0};
    int ready = left > 0 ? poll(&p, 1, static_cast<int>(1000 * left) + 1) : 0;
    if (ready > 0) {
      char buf[4096];
      ssize_t n = read(c.out, buf, sizeof buf);
      if (n <= 0) break;
      run.out.append(buf, static_cast<size_t>(n));
    } else if (ready == 0 && !termed) {
      run.capped = termed = true;
      kill(c.pid, SIGTERM);
      deadline = Clock::now() + std::chrono::seconds(2);
    } else if (ready == 0) {
      kill(c.pid, SIGKILL);
      break;
    }
  }
  run.status = finish(c);
  run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  std::ifstream in(report);
  if (long kb; in >> kb) run.maxrssKb = kb;
  return run;
}

bool planOk(const Domain& d, const std::string& out) {
  if (d.plan == 0) return out == "Unsatisfiable\n";
  long calls = std::count(out.begin(), out.end(), '\n') - 1;
  return calls == d.plan && out.size() >= 3 && out.substr(out.size() - 3) == ")\n\n";
}

// The characters of the longest number among the arguments of a script (a fraction
// counts whole: 81994785318942739357/45226601361032812500 is 41).
size_t longestNumber(const std::string& script) {
  static const std::regex number("^-?[0-9]+(/[0-9]+)?$");
  size_t longest = 0;
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) {
    size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    std::istringstream args(line.substr(open + 1, close - open - 1));
    for (std::string a; std::getline(args, a, ',');)
      if (std::regex_match(a, number)) longest = std::max(longest, a.size());
  }
  return longest;
}
std::map<std::string, size_t>& longestNumbers() {
  static std::map<std::string, size_t> n;
  return n;
}

// The peak resident set of vorlax's run per domain (KB, see launch), and whether the run
// was capped: its solver is then killed unreaped, and the figure is a bound.
std::map<std::string, std::pair<long, bool>>& peaks() {
  static std::map<std::string, std::pair<long, bool>> p;
  return p;
}

// The domains where vorlax gave no plan, or the wrong one.
std::set<std::string>& vorlaxFailed() {
  static std::set<std::string> f;
  return f;
}

void BM_Vorlax(benchmark::State& state, const Domain* d) {
  if (!fs::exists(VORLAX_BIN) || !fs::exists(VORLAX_SOLVER_BIN)) {
    state.SkipWithError("vorlax or vorlax-solver is not built");
    vorlaxFailed().insert(d->name);
    return;
  }
  Result r;
  for (auto _ : state) {
    VorlaxRun run = runVorlax(*d, d->cap);
    r.total = run.seconds;
    r.capped = run.capped;
    if (run.maxrssKb >= 0) {
      peaks()[d->name] = {run.maxrssKb, run.capped};
      state.counters["peak_rss_MB"] = static_cast<double>(run.maxrssKb) / 1024;
    }
    if (r.capped) continue;  // stopped at the cap: a bound, not a failure (the loop runs once)
    if (run.status != 0 || !planOk(*d, run.out)) {
      state.SkipWithError((d->name + ": vorlax gave no plan of " + std::to_string(d->plan) + " calls (status " +
                           std::to_string(run.status) + "): " + run.out.substr(0, 200)).c_str());
      vorlaxFailed().insert(d->name);
      return;
    }
    longestNumbers()[d->name] = longestNumber(run.out);
  }
  r.ok = !r.capped;
  report(state, *d, "vorlax", r);
}

// Reads the output up to the end-marker line; returns the first answer line.
std::string readAnswer(int fd, std::string& pending, double seconds) {
  std::string verdict;
  bool begun = false;
  for (;;) {
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::string l = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (l == kEnd) return verdict;
      if (l == kBegin) {
        begun = true;
        continue;
      }
      if (l.rfind("yices > ", 0) == 0) l = l.substr(8);
      if (begun && verdict.empty() && !l.empty()) verdict = l;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(1000 * std::max(0.1, seconds))) <= 0) return "timeout";
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return "eof";
    pending.append(buf, static_cast<size_t>(n));
  }
}

void BM_Solver(benchmark::State& state, const Domain* d) {
  fs::path dir = workDir(*d);
  if (!fs::exists(dir / "d.dom.lisp")) runVorlax(*d, d->cap, true);
  const std::string setup = slurp(dir / "d.dom.lisp") + slurp(dir / "d.ser.lisp");
  if (setup.empty()) {
    state.SkipWithError("no dumps of vorlax");
    return;
  }
  const std::string exchange = "(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")\n(check)\n(echo \"\\n_![<[END_OUTPUT]>]!_\")\n";
  Result r;
  for (auto _ : state) {
    r = Result();
    auto t0 = Clock::now();
    Child c = start(VORLAX_SOLVER_BIN, {"-i", "-e"}, dir.string());
    std::string pending;
    bool ok = c.pid > 0 && sendAll(c.in, setup);
    for (long i = 0; ok && i < d->bound; ++i) {
      auto a0 = Clock::now();
      ok = sendAll(c.in, "(assert (actions all-frames " + std::to_string(i) + "))\n(push)\n(assert " +
                             subst(d->solverGoal, i + 1) + ")\n" + exchange);
      double left = d->cap - std::chrono::duration<double>(Clock::now() - t0).count();
      std::string v = ok ? readAnswer(c.out, pending, left) : "eof";
      if (v == "timeout") kill(c.pid, SIGKILL);  // stopped at the cap
      r.slowest = std::max(r.slowest, std::chrono::duration<double>(Clock::now() - a0).count());
      std::string error;
      ok = expected(error, *d, i, v, r);
      if (!error.empty()) state.SkipWithError(error.c_str());
      if (!ok || v == "sat") break;
      ok = sendAll(c.in, "(pop)\n");
    }
    finish(c);
    r.total = std::chrono::duration<double>(Clock::now() - t0).count();
    r.ok = ok;
  }
  if (r.ok || r.capped || r.unknown) report(state, *d, "solver", r);
}

// The load average of the last minute ("?" where the system does not tell it): the
// machine is shared, and the figures are read beside it.
std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string first;
  return in >> first ? first : std::string("?");
}

// The fastest of a domain's references run so far (or of its from-scratch ones); a capped
// one only where all are.
struct Best {
  double total = 0;
  std::string who;
  bool capped = true;
  void offer(const std::string& name, const Result& r) {
    if (who.empty() || (capped && !r.capped) || (capped == r.capped && r.total < total)) {
      total = r.total;
      who = name;
      capped = r.capped;
    }
  }
};

Best bestReference(const std::map<std::string, Result>& runs, bool scratchOnly) {
  Best b;
  for (const auto& [who, r] : runs) {
    if (who.rfind("z3_", 0) != 0 || !(r.ok || r.capped)) continue;
    if (!scratchOnly || who.rfind("z3_scratch", 0) == 0) b.offer(who, r);
  }
  return b;
}

// Z3's time on a search moves with its random seed, which decides among equal choices.
// The best reference of the domain is run again with other seeds, to show how far its
// figure is one draw among many.
constexpr int kSeeds = 5;          // seed 0 (the run above) and 1..4
constexpr double kSeedsUpTo = 30;  // seconds: a slower best reference is not run again
struct Spread {
  std::string who;
  std::vector<Result> runs;  // by seed
};
std::map<std::string, Spread>& spreads() {
  static std::map<std::string, Spread> s;
  return s;
}

void BM_Seeds(benchmark::State& state, const Domain* d) {
  auto it = results().find(d->name);
  Best best = it == results().end() ? Best() : bestReference(it->second, false);
  if (best.who.empty() || best.capped || best.total > kSeedsUpTo) {
    for (auto _ : state) {
    }
    state.SkipWithError("not run: no best reference, or it took more than 30 s");
    return;
  }
  Spread sp{best.who, {it->second.at(best.who)}};
  for (auto _ : state) {
    for (int seed = 1; seed < kSeeds; ++seed) {
      std::string error;
      Result r = runConfig(*d, configs().at(best.who), seed, error);
      if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
      }
      sp.runs.push_back(r);
    }
  }
  spreads()[d->name] = sp;
}

// The median of a domain's best reference over the seeds that gave a valid figure (seed 0
// alone where the seeds were not run); bound: some capped run sorts at or below the
// median, so the true median is at least this.
struct Median {
  std::string who, basis;
  double value = 0;
  bool bound = false, valid = false;
};

Median medianOf(const std::string& domain, const Best& best) {
  Median m;
  if (best.who.empty()) return m;
  m.who = best.who;
  auto sp = spreads().find(domain);
  if (sp == spreads().end()) {
    m.value = best.total;
    m.bound = best.capped;
    m.basis = "seed 0 only";
    m.valid = true;
    return m;
  }
  std::vector<std::pair<double, bool>> runs;  // total, capped
  for (const auto& r : sp->second.runs)
    if (r.ok || r.capped) runs.push_back({r.total, r.capped});
  if (runs.empty()) return m;
  std::sort(runs.begin(), runs.end());
  size_t mid = runs.size() / 2;
  m.value = runs[mid].first;
  for (size_t k = 0; k <= mid; ++k) m.bound = m.bound || runs[k].second;
  m.basis = runs.size() == sp->second.runs.size()
                ? "seeds 0-" + std::to_string(runs.size() - 1)
                : std::to_string(runs.size()) + " of " + std::to_string(sp->second.runs.size()) + " seeds";
  m.valid = true;
  return m;
}

// Whether vorlax (which ran; capped: its time is a bound) took at most limit seconds:
// "yes", "no" or "?" where a bound leaves it open (limitBound: the true limit is at
// least limit).
const char* within(bool capped, double total, double limit, bool limitBound) {
  if (!capped && total <= limit) return "yes";
  if (limitBound) return "?";
  return capped && total <= limit ? "?" : "no";
}

// The fastest z3 program over pipes of a domain: the least total of the z3_cli_* runs that
// answered every attempt within the cap. ran: some z3_cli_* ran; allCapped: none is valid
// and all were stopped at the cap.
struct Pipes {
  std::string who;
  double total = 0;
  bool ran = false, allCapped = false;
};

Pipes bestOverPipes(const std::map<std::string, Result>& runs) {
  Pipes p;
  bool capped = false, other = false;
  for (const auto& [who, r] : runs) {
    if (who.rfind("z3_cli_", 0) != 0) continue;
    p.ran = true;
    if (r.ok && !r.capped && !r.unknown) {
      if (p.who.empty() || r.total < p.total) {
        p.who = who;
        p.total = r.total;
      }
    } else if (r.capped) {
      capped = true;
    } else {
      other = true;
    }
  }
  p.allCapped = p.who.empty() && capped && !other;
  return p;
}

// A geometric mean of vorlax's ratios over the light domains; upper and lower: some ratio
// is a bound that way.
struct Mean {
  double logSum = 0;
  long ratios = 0;
  bool upper = false, lower = false, failed = false;
  std::vector<std::string> without;  // light domains without a ratio
  void add(double q, bool up, bool low) {
    logSum += std::log(q);
    ++ratios;
    upper = upper || up;
    lower = lower || low;
  }
  // The mean over the light domains run, and against target where one is given (> 0).
  void print(const char* what, long light, double target) const {
    char head[160];
    std::snprintf(head, sizeof head, "geometric mean of %s over %ld of %ld light domains", what, ratios, light);
    if (ratios == 0) {
      std::printf("%s: no ratio\n", head);
    } else {
      double g = std::exp(logSum / static_cast<double>(ratios));
      const char* mark = upper && lower ? "~" : upper ? "<=" : lower ? ">=" : "";
      std::printf("%s: %s%.3f%s\n", head, mark, g, upper && lower ? " (bounds both ways: not a figure)" : "");
      if (target > 0) {
        std::string verdict = "undecided";
        if (failed || (!upper && g > target)) verdict = "not met";
        else if (without.empty() && !lower && g <= target) verdict = "met";
        std::printf("  target <= %.1f: %s\n", target, verdict.c_str());
      }
    }
    if (ratios == 0 && target > 0) std::printf("  target <= %.1f: %s\n", target, failed ? "not met" : "undecided");
    if (!without.empty()) {
      std::string names;
      for (const auto& w : without) names += " " + w;
      std::printf("  light domains without a ratio (vorlax failed or not run, no valid reference, or both capped):%s\n",
                  names.c_str());
    }
  }
};

void summary(const std::string& loadBefore) {
  std::printf("\nload average (1 min): %s before the runs, %s after them\n", loadBefore.c_str(),
              loadAverage().c_str());
  std::printf("\n%-10s %-24s %10s %12s %9s\n", "domain", "contender", "total_s", "slowest_s", "attempts");
  for (const auto& d : domains()) {
    auto it = results().find(d.name);
    if (it == results().end()) continue;
    Best best = bestReference(it->second, false), scratch = bestReference(it->second, true);
    for (const auto& [who, r] : it->second) {
      long wanted = d.plan ? d.plan : d.bound;
      if (who == "vorlax")
        std::printf("%-10s %-24s %8s%.2f %12s %9s\n", d.name.c_str(), who.c_str(), r.capped ? ">=" : "", r.total,
                    "-", "-");
      else
        std::printf("%-10s %-24s %8s%.2f %12.2f %6ld/%ld%s\n", d.name.c_str(), who.c_str(), r.capped ? ">=" : "",
                    r.total, r.slowest, r.answered, wanted,
                    r.unknown ? "  unknown at the next attempt: not a valid best" : "");
    }
    for (const char* who : {"vorlax", "solver"}) {
      auto w = it->second.find(who);
      if (w == it->second.end() || !w->second.ok) continue;
      for (const Best* b : {&best, &scratch}) {
        if (b->who.empty() || (b == &scratch && std::string(who) == "solver")) continue;
        std::printf("%-10s %s / best %s (%s): %s%.2f\n", d.name.c_str(), who,
                    b == &best ? "reference" : "from scratch", b->who.c_str(), b->capped ? "<=" : "",
                    w->second.total / b->total);
      }
    }
    if (auto sp = spreads().find(d.name); sp != spreads().end()) {
      std::string line;
      for (const auto& r : sp->second.runs) {
        char buf[48];
        std::snprintf(buf, sizeof buf, " %s%.2f%s", r.capped ? ">=" : "", r.total, r.unknown ? "(unknown)" : "");
        line += buf;
      }
      std::printf("%-10s %s with random seeds 0-%zu:%s\n", d.name.c_str(), sp->second.who.c_str(),
                  sp->second.runs.size() - 1, line.c_str());
    }
  }

  // The figures that decide: per domain vorlax against the median of its best reference,
  // the domain's ceiling and the best z3 program over pipes, then the geometric means of
  // the ratios over the light domains.
  std::printf("\n%-10s %9s  %-22s %9s  %-11s %10s %9s %4s  %-19s %7s %11s %6s %7s %11s\n", "domain", "vorlax_s",
              "best reference", "median_s", "over", "vorlax/med", "ceiling_s", "met", "best z3 over pipes", "pipe_s",
              "vorlax/pipe", "<=pipe", "longest", "peak_rss_MB");
  Mean med, pipe;
  long pipeMet = 0, pipeNot = 0, light = 0;
  std::vector<std::string> heavyRun;
  for (const auto& d : domains()) {
    static const std::map<std::string, Result> none;
    auto it = results().find(d.name);
    const auto& runs = it == results().end() ? none : it->second;
    const bool failed = vorlaxFailed().count(d.name) > 0;
    if (runs.empty() && !failed) continue;
    if (d.heavy) heavyRun.push_back(d.name);
    else ++light;
    auto v = runs.find("vorlax");
    const bool ran = v != runs.end() && (v->second.ok || v->second.capped);
    const bool vCapped = ran && v->second.capped;
    const double vTotal = ran ? v->second.total : 0;
    // A figure set against vorlax: "yes", "no", "?" (undecided) or "-" (vorlax not run).
    auto against = [&](double limit, bool limitBound) {
      return failed ? "no" : !ran ? "-" : within(vCapped, vTotal, limit, limitBound);
    };
    Median m = medianOf(d.name, bestReference(runs, false));
    Pipes p = bestOverPipes(runs);
    char vorlax[32], median[32], ratio[32], ceiling[32], pipeS[32], pipeRatio[32], longest[16], peak[32];
    std::snprintf(vorlax, sizeof vorlax, "%s", failed ? "failed" : "-");
    if (ran) std::snprintf(vorlax, sizeof vorlax, "%s%.2f", vCapped ? ">=" : "", vTotal);
    std::snprintf(median, sizeof median, "%s%.2f", m.bound ? ">=" : "", m.value);
    const double ceil = m.value < 0.3 ? m.value + 0.05 : 1.25 * m.value;
    std::snprintf(ceiling, sizeof ceiling, "%s%.2f", m.bound ? ">=" : "", ceil);
    const char* met = m.valid ? against(ceil, m.bound) : failed ? "no" : ran ? "?" : "-";
    std::snprintf(ratio, sizeof ratio, "-");
    if (ran && m.valid && !(vCapped && m.bound)) {
      double q = vTotal / m.value;
      std::snprintf(ratio, sizeof ratio, "%s%.2f", vCapped ? ">=" : m.bound ? "<=" : "", q);
      if (!d.heavy) med.add(q, m.bound, vCapped);
    } else if (!d.heavy) {
      med.without.push_back(d.name);
    }
    std::snprintf(pipeS, sizeof pipeS, "%.2f", p.total);
    std::snprintf(pipeRatio, sizeof pipeRatio, "-");
    const char* faster = failed ? "no" : "-";  // vorlax no slower than the best z3 program over pipes
    if (!p.who.empty()) faster = against(p.total, false);
    else if (p.ran && p.allCapped) faster = failed ? "no" : !ran ? "-" : vCapped ? "?" : "yes";
    else if (p.ran && ran) faster = "?";
    if (ran && !p.who.empty()) {
      double q = vTotal / p.total;
      std::snprintf(pipeRatio, sizeof pipeRatio, "%s%.2f", vCapped ? ">=" : "", q);
      if (!d.heavy) pipe.add(q, false, vCapped);
    } else if (!d.heavy) {
      pipe.without.push_back(d.name);
    }
    if (!d.heavy) {
      med.failed = pipe.failed = med.failed || failed;
      pipeMet += std::string(faster) == "yes";
      pipeNot += std::string(faster) == "no";
    }
    auto n = longestNumbers().find(d.name);
    std::snprintf(longest, sizeof longest, "%s", n == longestNumbers().end() ? "-" : std::to_string(n->second).c_str());
    auto pk = peaks().find(d.name);
    std::snprintf(peak, sizeof peak, "-");
    if (pk != peaks().end())
      std::snprintf(peak, sizeof peak, "%s%.1f", pk->second.second ? ">=" : "", pk->second.first / 1024.0);
    std::printf("%-10s %9s  %-22s %9s  %-11s %10s %9s %4s  %-19s %7s %11s %6s %7s %11s\n", d.name.c_str(), vorlax,
                m.valid ? m.who.c_str() : "none valid", m.valid ? median : "-", m.valid ? m.basis.c_str() : "-",
                ratio, m.valid ? ceiling : "-", met,
                !p.who.empty() ? p.who.c_str() : !p.ran ? "not run" : p.allCapped ? "all capped" : "none valid",
                p.who.empty() ? "-" : pipeS, pipeRatio, faster, longest, peak);
  }
  std::printf("(ceiling: 1.25 x median, or median + 0.05 s where the median is under 0.30 s; best z3 over pipes: "
              "the least total of the z3_cli_* runs that finished within the cap with a valid answer; <=pipe: "
              "vorlax no slower than it; \"longest\": characters of the longest number in vorlax's script; "
              "peak_rss_MB: the larger of the peak resident sets of vorlax and of its solver, not their sum "
              "(ru_maxrss of vorlax from wait4, which takes in the solver it waited for), in MB of 1024 KB; >= and "
              "<= mark bounds from capped runs)\n");
  if (!heavyRun.empty()) {
    std::string names;
    for (const auto& h : heavyRun) names += " " + h;
    std::printf("heavy domains, in the table but not in the means and counts below:%s\n", names.c_str());
  }

  std::printf("\n");
  med.print("vorlax / median of the best reference", light, 2.0);
  pipe.print("vorlax / best z3 over pipes", light, 0);
  std::printf("vorlax no slower than the best z3 program over pipes on %ld of %ld light domains (%ld not): %s\n",
              pipeMet, light, pipeNot, pipeNot > 0 ? "not met" : pipeMet == light && light > 0 ? "met" : "undecided");
  for (const auto& [name, target] : {std::pair<const char*, double>{"account10", 0.6}, {"task20", 1.0}}) {
    auto it = results().find(name);
    bool failed = vorlaxFailed().count(name) > 0;
    if (!failed && (it == results().end() || !it->second.count("vorlax"))) {
      std::printf("%s: vorlax not run\n", name);
      continue;
    }
    if (failed) {
      std::printf("%s: vorlax failed, against its target %.1f x median: not met\n", name, target);
      continue;
    }
    const Result& r = it->second.at("vorlax");
    Median m = medianOf(name, bestReference(it->second, false));
    if (!m.valid) {
      std::printf("%s: vorlax %s%.2f s, no valid median for its target %.1f x median: undecided\n", name,
                  r.capped ? ">=" : "", r.total, target);
      continue;
    }
    const char* ok = within(r.capped, r.total, target * m.value, m.bound);
    std::printf("%s: vorlax %s%.2f s, median %s%.2f s (%s): vorlax / median %s%.2f against its target %.1f: %s\n",
                name, r.capped ? ">=" : "", r.total, m.bound ? ">=" : "", m.value, m.who.c_str(),
                r.capped ? ">=" : m.bound ? "<=" : "", r.total / m.value, target,
                std::string(ok) == "yes" ? "met" : std::string(ok) == "no" ? "not met" : "undecided");
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == kLaunch) return launch(argv[2], argv + 3);
  std::error_code ec;
  launcherPath() = fs::read_symlink("/proc/self/exe", ec).string();
  if (ec) launcherPath() = argv[0];
  const std::string loadBefore = loadAverage();
  configs() = {
      {"z3_inc_default", {Config::Incremental, false, "6", "2"}},
      {"z3_inc_arith2", {Config::Incremental, false, "2", "2"}},
      {"z3_assume_arith2", {Config::Incremental, true, "2", "2"}},
      {"z3_assume_arith2_rel0", {Config::Incremental, true, "2", "0"}},
      {"z3_scratch_default", {Config::Scratch, false, "6", "2"}},
      {"z3_scratch_arith2", {Config::Scratch, false, "2", "2"}},
      {"z3_cli_arith2", {Config::Program, true, "2", "2"}},
      {"z3_cli_arith2_rel0", {Config::Program, true, "2", "0"}},
      {"z3_cli_default", {Config::Program, true, "6", "2"}},
  };
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::string error;
  domains() = loadDomains(VORLAX_BENCH_DOMAINS, error);
  if (!error.empty()) {
    std::fprintf(stderr, "e2e_reference_bench: %s\n", error.c_str());
    return 1;
  }
  for (const auto& d : domains()) {
    const Domain* p = &d;
    auto reg = [&](benchmark::internal::Benchmark* b) {
      b->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    reg(benchmark::RegisterBenchmark(("vorlax/" + d.name).c_str(), BM_Vorlax, p));
    reg(benchmark::RegisterBenchmark(("solver/" + d.name).c_str(), BM_Solver, p));
    for (const auto& [name, c] : configs())
      reg(benchmark::RegisterBenchmark((name + "/" + d.name).c_str(), BM_Z3, p, name));
    reg(benchmark::RegisterBenchmark(("seeds/" + d.name).c_str(), BM_Seeds, p));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  summary(loadBefore);
  fs::remove_all(fs::temp_directory_path() / ("vorlax_reference_bench_" + std::to_string(getpid())), ec);
  return 0;
}
