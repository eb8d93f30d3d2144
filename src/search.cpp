#include "search.hpp"

#include <cstdlib>
#include <iostream>

#include "fatal.hpp"
#include "goal_serial.hpp"
#include "script.hpp"

namespace vorlax {

using yices::CmdY;
using yices::ResY;

namespace {

void send(const yices::YicesPipe& pipe, CmdY cmd) {
  yices::runCmdsYPrime(pipe, std::vector<CmdY>{std::move(cmd)});
}

void printModel(std::ostream& out, const std::vector<yices::ExpYP>& model) {
  for (const auto& e : model) {
    yices::showExpY(out, *e);
    out << '\n';
  }
  out << '\n';
}

// Model lines (with the switch), then the script and its empty line. The model is parsed
// as a whole before anything of it is printed.
void printResult(std::ostream& out, bool debug, const ResY& res, const ast::Domain& dom,
                 const SerialGoal& goal) {
  const std::vector<yices::ExpYP>& model = res.model();
  if (debug) printModel(out, model);
  out << generateScript(goal, dom, model) << '\n';
}

}  // namespace

std::optional<std::string> getEnv(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

std::string showElapsed(std::chrono::duration<long long, std::pico> d) {
  long long ps = d.count();
  unsigned long long mag = ps < 0 ? 0ULL - static_cast<unsigned long long>(ps)
                                  : static_cast<unsigned long long>(ps);
  constexpr unsigned long long perSecond = 1000000000000ULL;
  std::string text = ps < 0 ? "-" : "";
  text += std::to_string(mag / perSecond);
  unsigned long long frac = mag % perSecond;
  if (frac != 0) {
    std::string digits = std::to_string(frac);
    digits.insert(0, 12 - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text + "s";
}

void searchUpTo(std::ostream& out, bool debug, const yices::YicesPipe& pipe,
                const mpz_class& bound, const ast::Domain& dom, const SerialGoal& goal) {
  for (mpz_class i = 0; i < bound; ++i) {
    send(pipe, goalAction(i));
    send(pipe, yices::mkC(yices::PUSH{}));
    send(pipe, goalAssert(dom, goal, mpz_class(i + 1)));
    ResY res = yices::checkY(pipe);
    switch (res.kind()) {
      case ResY::Sat:
        printResult(out, debug, res, dom, goal);
        return;
      case ResY::Unknown:
        out << "Unknown\n" << std::flush;
        printResult(out, debug, res, dom, goal);
        return;
      case ResY::UnSat:
      case ResY::InCon:
        send(pipe, yices::mkC(yices::POP{}));
        break;
    }
  }
  out << "Unsatisfiable\n";
}

void searchAll(std::ostream& out, const yices::YicesPipe& pipe, const mpz_class& steps,
               const ast::Domain& dom, const SerialGoal& goal) {
  std::vector<CmdY> cmds;
  for (mpz_class i = 0; i < steps; ++i) cmds.push_back(goalAction(i));
  cmds.push_back(goalAssert(dom, goal, steps));
  yices::runCmdsYPrime(pipe, cmds);
  interpResult(out, yices::checkY(pipe), dom, goal);
}

void interpResult(std::ostream& out, const ResY& res, const ast::Domain& dom,
                  const SerialGoal& goal) {
  switch (res.kind()) {
    case ResY::Sat: {
      const std::vector<yices::ExpYP>& model = res.model();
      printModel(out, model);
      out << generateScript(goal, dom, model) << '\n';
      return;
    }
    case ResY::Unknown:
      out << "Unknown\n";
      return;
    case ResY::UnSat:
      out << "Unsat\n";
      return;
    case ResY::InCon:
      for (const auto& line : res.lines()) out << line << '\n';
      return;
  }
}

void runCommands(std::ostream& out, const EnvLookup& env, bool debug,
                 const DumpText& domainCmds, const DumpText& goalCmds,
                 const ast::Domain& dom, const SerialGoal& goal) {
  auto start = std::chrono::system_clock::now();
  std::optional<std::string> exe = env("YICES_EXE");
  if (!exe) fatal("YICES_EXE: getEnv: does not exist (no environment variable)");
  yices::YicesPipe pipe = yices::createYicesPipe(*exe, {});
  for (const DumpText* text : {&domainCmds, &goalCmds})
    for (const std::string& piece : text->pieces()) yices::uploadText(pipe, piece);
  searchUpTo(out, debug, pipe, goal.goalSteps, dom, goal);
  auto stop = std::chrono::system_clock::now();
  if (debug)
    out << showElapsed(std::chrono::duration_cast<std::chrono::duration<long long, std::pico>>(
               stop - start))
        << '\n';
}

void runCommands(bool debug, const DumpText& domainCmds, const DumpText& goalCmds,
                 const ast::Domain& dom, const SerialGoal& goal) {
  runCommands(std::cout, getEnv, debug, domainCmds, goalCmds, dom, goal);
}

}  // namespace vorlax
