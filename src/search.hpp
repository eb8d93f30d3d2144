// The solver run: start the solver, upload the domain and goal-setup commands, and search
// for the shortest call sequence, one more step per attempt, up to the goal's bound.
#pragma once
#include <gmpxx.h>

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ast.hpp"
#include "driver.hpp"
#include "goal.hpp"
#include "math/smt/yices/pipe.hpp"
#include "math/smt/yices/syntax.hpp"

namespace vorlax {

// Looks up an environment variable; nullopt when it is not set.
using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;
std::optional<std::string> getEnv(const std::string& name);

// The whole solver run, verdict and script on standard output, solver from YICES_EXE. The
// domain and goal-setup commands come as text: each command's text and a line end.
void runCommands(bool debug, const DumpText& domainCmds, const DumpText& goalCmds,
                 const ast::Domain& dom, const SerialGoal& goal);
// The same, writing to `out` and reading the environment through `env`.
void runCommands(std::ostream& out, const EnvLookup& env, bool debug,
                 const DumpText& domainCmds, const DumpText& goalCmds,
                 const ast::Domain& dom, const SerialGoal& goal);

// Attempts 0, 1, 2, ... while below `bound`; prints the script of the first satisfiable or
// undecided attempt, else "Unsatisfiable".
void searchUpTo(std::ostream& out, bool debug, const yices::YicesPipe& pipe,
                const mpz_class& bound, const ast::Domain& dom, const SerialGoal& goal);

// One-shot variant: all step assertions below `steps`, the goal at `steps`, one check.
void searchAll(std::ostream& out, const yices::YicesPipe& pipe, const mpz_class& steps,
               const ast::Domain& dom, const SerialGoal& goal);
void interpResult(std::ostream& out, const yices::ResY& res, const ast::Domain& dom,
                  const SerialGoal& goal);

// An elapsed time in seconds: at most twelve fraction digits, trailing zeros dropped, no
// point for a whole number, then "s" ("2.5s", "-0.000001s", "3s").
std::string showElapsed(std::chrono::duration<long long, std::pico> d);

}  // namespace vorlax
