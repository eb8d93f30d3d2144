#include "fatal.hpp"

#include <cstdio>
#include <iostream>

namespace vorlax {

void fatal(std::string message) { throw Fatal(std::move(message)); }

std::string programName(const char* argv0) {
  std::string p = argv0 ? argv0 : "vorlax";
  auto slash = p.find_last_of('/');
  if (slash != std::string::npos) p = p.substr(slash + 1);
  return p;
}

int reportFatal(const std::string& program, const std::string& message) {
  std::cout.flush();
  std::fflush(stdout);
  std::cerr << program << ": " << message << "\n";
  std::cerr.flush();
  return 1;
}

}  // namespace vorlax
