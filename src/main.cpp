// vorlax: reads a domain and a serialization file and searches for a shortest call script.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "ast.hpp"
#include "driver.hpp"
#include "fatal.hpp"
#include "goal.hpp"
#include "math/smt/yices/pipe.hpp"
#include "parsing/large_stack.hpp"
#include "parser.hpp"
#include "search.hpp"

namespace {

using namespace vorlax;

// The whole file as bytes.
std::string readInputFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ioFailure(path, "openFile", errno);
  struct stat sb;
  if (::fstat(fd, &sb) == 0 && S_ISDIR(sb.st_mode)) {
    ::close(fd);
    ioFailure(path, "openFile", EISDIR);
  }
  std::string text;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      ioFailure(path, "hGetContents", err);
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// "Left <parse error>" or "Right (<record>)".
template <class T, class Show>
void showResult(std::ostream& os, const parsing::Result<T>& r, Show show) {
  if (!r.ok) {
    os << "Left " << parsing::showParseFailure(r.failure);
    return;
  }
  os << "Right ";
  show(os, r.value);
}

int run(const std::vector<std::string>& args) {
  if (args.size() < 2) {
    std::cout << "Usage: vorlax domain serialization [-d]\n";
    return 0;
  }
  const std::string& domainFile = args[0];
  const std::string& serialFile = args[1];
  std::string domainText = readInputFile(domainFile);
  std::string serialText = readInputFile(serialFile);

  auto dom = parser::parseDomain(domainFile, domainText);
  auto goal = parseSerialGoal(serialFile, serialText);
  if (!dom.ok || !goal.ok) {
    // Composed whole before anything is written, so that a failure while a record's text
    // is produced ends the run with that failure instead.
    std::ostringstream msg;
    msg << "Error during parsing:\n(";
    showResult(msg, dom, [](std::ostream& os, const ast::Domain& d) { ast::showDomain(os, d, kAppPrec); });
    msg << ',';
    showResult(msg, goal, [](std::ostream& os, const SerialGoal& g) { showSerialGoal(os, g, kAppPrec); });
    msg << ')';
    fatal(msg.str());
  }
  // Each dump is complete before the next step starts; the serialization dump is not
  // touched when the domain fails.
  auto domainCmds = generateDomain(dom.value, domainFile, serialFile);
  auto goalCmds = generateGoal(dom.value, goal.value, domainFile, serialFile);
  bool debug = args.size() == 3 && args[2] == "-d";
  runCommands(debug, domainCmds, goalCmds, dom.value, goal.value);
  return 0;
}

int runProgram(const std::string& program, const std::vector<std::string>& args) {
  try {
    int status = 0;
    // The ending signals are taken only by the thread of the run, which starts the solver.
    yices::setEndSignalsBlocked(true);
    parsing::runWithLargeStack([&] {
      yices::setEndSignalsBlocked(false);
      status = run(args);
    });
    return status;
  } catch (const vorlax::Fatal& f) {
    return vorlax::reportFatal(program, f.message);
  } catch (const std::bad_alloc&) {
    return vorlax::reportFatal(program, "out of memory");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string program = vorlax::programName(argc > 0 ? argv[0] : nullptr);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  yices::endSolversOnSignals();
  yices::keepSolversUntilTheEnd();
  int status = runProgram(program, args);
  std::cout.flush();
  // A signal that came meanwhile ends the program now, and one while the solver is given
  // its moment to end kills it at once.
  yices::setEndSignalsBlocked(false);
  yices::endSolvers();
  return status;
}
