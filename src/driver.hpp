// The dump part of the driver: dump file names, dump text, and writing the domain and
// goal-setup command lists to their dumps while they are produced.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "ast.hpp"
#include "goal.hpp"
#include "math/smt/yices/syntax.hpp"
#include "yices.hpp"

namespace vorlax {

// name + ".lisp"
std::string outputFileName(const std::string& fileName);
// Each command's text followed by a line end; "" for an empty list.
std::string showCmds(const std::vector<yices::CmdY>& cmds);

// The text of a dump, held as the pieces it was written in, so that a long text is never
// copied to grow.
class DumpText {
 public:
  DumpText() = default;
  DumpText(std::string whole);  // one piece
  void append(std::string piece);
  const std::vector<std::string>& pieces() const { return pieces_; }
  bool empty() const { return pieces_.empty(); }
  std::string str() const;  // the whole text

 private:
  std::vector<std::string> pieces_;  // none of them empty
};

// Creates or truncates outputFileName(fileName), then runs `produce`; each command it emits
// is printed (text, then a line end) as it arrives and then dropped. Returns the text of all
// commands, which is what the file holds. A failure inside `produce` ends the run with the
// text in front of it in the file.
DumpText writeYices(const std::string& fileName,
                    const std::function<void(const CmdSink&)>& produce);

// The domain dump: procDom of the domain written to domainFile + ".lisp"; returns its text.
// Before anything is created, neither dump (domainFile + ".lisp", serialFile + ".lisp") may
// be one of the two input files.
DumpText generateDomain(const ast::Domain& dom, const std::string& domainFile,
                        const std::string& serialFile);
// The serialization dump: goalSetup written to serialFile + ".lisp", which may not be one of
// the two input files; returns its text.
DumpText generateGoal(const ast::Domain& dom, const SerialGoal& goal,
                      const std::string& domainFile, const std::string& serialFile);

// Fatal "<path>: openFile: <kind> (<description>)" for the errno value err of a failed open.
[[noreturn]] void openFileFailure(const std::string& path, int err);
// Fatal "<path>: <operation>: <kind> (<description>)" for the errno value err.
[[noreturn]] void ioFailure(const std::string& path, const char* operation, int err);

}  // namespace vorlax
