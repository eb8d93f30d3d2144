#include <iostream>

#include "fatal.hpp"

int main(int argc, char** argv) {
  (void)argc;
  std::string program = vorlax::programName(argc > 0 ? argv[0] : nullptr);
  try {
    return 0;
  } catch (const vorlax::Fatal& f) {
    return vorlax::reportFatal(program, f.message);
  }
}
