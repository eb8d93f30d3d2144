// Helpers shared by the domain-language tests: run a parser over a text and describe the
// outcome as one string, so tables of cases can state the expected result directly.
#pragma once
#include <string>
#include <string_view>

#include "parsing/engine.hpp"

namespace vorlax::testing_support {

// "ok <value> | <rest>" on success (rest = the unread input), "error <text>" on failure.
template <class P, class Show>
std::string outcome(P&& p, std::string_view text, Show&& show, std::string_view source = "t") {
  using T = parsing::value_of<P>;
  std::string rest;
  auto wrapped = [&](parsing::State& st, T& v) -> parsing::Out {
    parsing::Out o = p(st, v);
    rest.assign(st.in.cur, st.end);
    return o;
  };
  auto r = parsing::runParser(wrapped, source, text);
  if (!r.ok) return "error " + parsing::showParseFailure(r.failure);
  return "ok " + show(r.value) + " | " + rest;
}

}  // namespace vorlax::testing_support
