// Reader of the solver's reply text: expressions, types and commands. Each entry point
// returns its value or ends the run with a fatal error whose message is the rendered
// parse error. Trailing text after what was read is ignored.
#pragma once
#include <string_view>
#include <vector>

#include "math/smt/yices/syntax.hpp"

namespace vorlax::yices {

std::vector<ExpYP> parseExpYs(std::string_view text);  // source name "parseExpYs"
ExpYP parseExpY(std::string_view text);                // source name "parseExpY"
TypYP parseTypY(std::string_view text);                // source name "parseTypY"
CmdY parseCmdY(std::string_view text);                 // source name "parseCmdY"

}  // namespace vorlax::yices
