// vorlax-solver on arbitrary command text: the reader, and for each command its checks and
// translation into Z3 terms, as a session executes it. The commands that would run a search
// (check, max-sat) or read a file (include) are read but not executed. A complaint of the
// solver (its own error, or a failure of the Z3 library, which it reports as one) ends the
// input, as it ends the program's run.
#include <sstream>
#include <string>

#include "fuzz_support.hpp"
#include "ys_reader.hpp"
#include "ys_session.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The program runs its session on a thread with a large stack as well.
  vorlax::parsing::runWithLargeStack([&] {
    std::ostringstream out, err;
    vxsolver::Session session(out, err, vxsolver::Options{true, true});
    vxsolver::StringSource src(std::string(vxfuzz::textOf(data, size)));
    vxsolver::Reader reader(src);
    std::string raw;
    int line = 0;
    try {
      while (auto cmd = reader.readCommand(raw, line)) {
        if (!cmd->items.empty() && cmd->items[0].kind == vxsolver::SExp::Atom) {
          const std::string& kw = cmd->items[0].text;
          if (kw == "check" || kw == "max-sat" || kw == "include") continue;
        }
        if (!session.execute(*cmd)) break;
      }
    } catch (const vxsolver::SolverError&) {
    } catch (const z3::exception&) {
    }
    session.flush();
  });
  return 0;
}
