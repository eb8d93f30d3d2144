// The running solver: a child process with its standard input and output on pipes, the
// upload of commands, and the check exchange with its verdict.
#pragma once
#include <gmpxx.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "math/smt/yices/syntax.hpp"

namespace vorlax::yices {

// The two pipe ends of one solver: the block-buffered input stream and the line reader of
// the output. While an upload waits for the solver to take more input, the solver's output
// is read into memory here, so the next line read sees it first (no deadlock on a full
// output pipe). The ends are closed when the last handle sharing them goes away, or by
// endSolvers() after keepSolversUntilTheEnd().
struct PipeStreams;

// Handle of the running solver. Copies share the same process and streams; a handle from
// createYicesPipe holds one PipeStreams in both members.
struct YicesPipe {
  std::shared_ptr<PipeStreams> in;   // write end of the solver's standard input
  std::shared_ptr<PipeStreams> out;  // read end of the solver's standard output
  // the error stream is always absent: the solver's standard error is inherited
  pid_t process = -1;
};

// Every solver started here is ended with the run. endSolvers() (call it on every way out
// of the program, after the program's own output) sends each solver what is still buffered
// for it, closes its input and gives it a second to end by itself, reading and dropping its
// output meanwhile; then it kills and reaps those still running. After
// endSolversOnSignals() an interrupt, termination or hang-up signal kills them at once
// before it ends the program with the signal's usual status.
void endSolvers();
void endSolversOnSignals();
// From here on, the pipes of a solver whose last handle goes away are kept open, with what
// is still buffered for the solver, until endSolvers() ends it; without this they close
// with the last handle (and what is buffered is dropped).
void keepSolversUntilTheEnd();
// Blocks (or unblocks) those signals on the calling thread. A program that starts solvers
// on one thread blocks them on every other, so that a signal never finds a solver
// started but not yet known.
void setEndSignalsBlocked(bool blocked);

// Starts `path -i -e extraArgs...`; fatal when it cannot be started.
YicesPipe createYicesPipe(const std::string& path, const std::vector<std::string>& extraArgs);

// Writes each command's text and a line feed into the block-buffered input; never flushes.
void runCmdsYPrime(const YicesPipe& p, const std::vector<CmdY>& cmds);  // runCmdsY'
// The same for commands already in text form (each command's text and its line feed).
void uploadText(const YicesPipe& p, std::string_view text);
void runCmdsY(const YicesPipe& p, const std::vector<CmdY>& cmds);       // upload, then flush
void flushY(const YicesPipe& p);
void exitY(const YicesPipe& p);

// The verdict of one check. The payload is derived from the answer lines on first use.
class ResY {
 public:
  enum Kind { Sat, Unknown, UnSat, InCon };

  ResY(Kind k, std::vector<std::string> lines);
  Kind kind() const { return kind_; }
  // Sat and Unknown: the model, parsed (once) on first use; a parse error is fatal.
  const std::vector<ExpYP>& model() const;
  // UnSat: the numbers after the first ":" of the second answer line, on first use.
  const std::vector<mpz_class>& unsatCore() const;
  // InCon: all answer lines; for the others, the lines after the verdict line.
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  Kind kind_;
  std::vector<std::string> lines_;
  mutable std::shared_ptr<std::vector<ExpYP>> model_;
  mutable std::shared_ptr<std::vector<mpz_class>> core_;
};
std::string showResY(const ResY& r, int precedence = 0);

// The lines of a text, split at line feeds; a final line feed ends the last line.
std::vector<std::string> splitLines(const std::string& text);

// One check exchange: echo the begin marker, check, echo the end marker, flush, read the
// framed reply and decide the verdict.
ResY checkY(const YicesPipe& p);

// Batch variants: run the solver once to completion on the commands (no prompts).
ResY quickCheckYPrime(const std::string& path, const std::vector<std::string>& extraArgs,
                      const std::vector<CmdY>& cmds);  // quickCheckY'
ResY quickCheckY(const std::string& path, const std::vector<std::string>& extraArgs,
                 const std::vector<CmdY>& cmds);

}  // namespace vorlax::yices
