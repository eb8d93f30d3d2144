// The one fatal-error path of vorlax: library code throws Fatal; only main catches it,
// flushes standard output and reports "<program>: <message>" on standard error, exit 1.
#pragma once
#include <exception>
#include <string>

namespace vorlax {

struct Fatal : std::exception {
  std::string message;
  explicit Fatal(std::string m) : message(std::move(m)) {}
  const char* what() const noexcept override { return message.c_str(); }
};

// Throws Fatal{message}.
[[noreturn]] void fatal(std::string message);

// The program name as the fatal convention writes it: argv[0] without its directory.
std::string programName(const char* argv0);

// Reports a fatal error the way main does: flush stdout, then
// "<program>: <message>\n" on stderr. Returns the exit status (1).
int reportFatal(const std::string& program, const std::string& message);

}  // namespace vorlax
