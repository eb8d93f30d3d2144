#include <signal.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "ys_session.hpp"

namespace vxsolver {

namespace {

// The solver serves the process that started it: when that process is gone (killed, or
// ended without closing the pipes), so is the solver, in the middle of a check too.
void endWithParent() {
#ifdef __linux__
  pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);  // gone already, before the request took hold
#endif
}

// Ends the process once its output is out. What the run made goes with the process:
// freeing the Z3 contexts, and waiting for the threads that make solvers ahead or free
// them, would only delay the end that the caller of the solver may be waiting for.
int endNow(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::_Exit(status);
}

}  // namespace

int solverMain(int argc, char** argv) {
  endWithParent();
  std::string program = argc > 0 && argv[0] ? argv[0] : "vorlax-solver";
  if (auto slash = program.find_last_of('/'); slash != std::string::npos) program = program.substr(slash + 1);
  Options opt;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-i") {
      opt.interactive = true;
    } else if (a == "-e") {
      opt.evidence = true;
    } else if (a == "-h" || a == "--help") {
      std::cout << "Usage: " << program << " [-i] [-e] [file]\n"
                << "  -i  interactive: write the prompt \"yices > \" before each command\n"
                << "  -e  write the model after \"sat\" and \"unknown\"\n"
                << "Reads the commands of the Yices 1 input language from the file or standard input.\n";
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << program << ": unknown option \"" << a << "\" (usage: " << program << " [-i] [-e] [file])\n";
      return 1;
    } else if (file.empty()) {
      file = a;
    } else {
      std::cerr << program << ": more than one input file\n";
      return 1;
    }
  }
  std::ios::sync_with_stdio(false);
  Session session(std::cout, std::cerr, opt, program);
  if (!file.empty()) {
    std::string text;
    try {
      text = readFileText(file);
    } catch (const SolverError& e) {
      std::cerr << program << ": " << e.what() << "\n";
      return 1;
    }
    StringSource src(std::move(text));
    return endNow(session.run(src));
  }
  FdSource src(0, [&session] { session.flush(); });
  return endNow(session.run(src));
}

}  // namespace vxsolver
