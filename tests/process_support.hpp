// Processes seen from the test programs.
#pragma once
#include <signal.h>
#include <sys/types.h>

#include <string>

#include "file_support.hpp"

namespace vorlax::testing_support {

// Whether the process runs: it exists and has not ended (an ended process that nobody
// reaps stays as a zombie).
inline bool running(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  auto close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

}  // namespace vorlax::testing_support
