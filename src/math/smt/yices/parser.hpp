// Reader of the solver's reply text: expressions, types and commands. Each entry point
// returns its value or ends the run with a fatal error whose message is the rendered
// parse error. Trailing text after what was read is ignored.
#pragma once
#include <gmpxx.h>

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "math/smt/yices/syntax.hpp"
#include "parsing/engine.hpp"

namespace vorlax::yices {

std::vector<ExpYP> parseExpYs(std::string_view text);  // source name "parseExpYs"
ExpYP parseExpY(std::string_view text);                // source name "parseExpY"
TypYP parseTypY(std::string_view text);                // source name "parseTypY"
CmdY parseCmdY(std::string_view text);                 // source name "parseCmdY"

// The grammar rules behind the entry points, each a parser of the shared engine. They are
// exposed for tests; the program uses only the entry points above.
namespace grammar {

using parsing::Out;
using parsing::State;

struct Unit {};

// ---- tokens ----
// Skips the longest run of whitespace; never fails.
Out whiteSpaceY(State& st, Unit&);
// The same without its error record; true when it skipped anything.
bool skipSpaceY(State& st);
// Whitespace, p, whitespace.
template <class T, class P>
Out tokenY(State& st, T& out, P&& p) {
  if (!st.track) {  // the outcome of the sequence below, without its records
    bool before = skipSpaceY(st);
    Out o = p(st, out);
    if (!parsing::isOk(o)) return before || o == Out::ConsumedErr ? Out::ConsumedErr : Out::EmptyErr;
    bool after = skipSpaceY(st);
    return before || after || o == Out::ConsumedOk ? Out::ConsumedOk : Out::EmptyOk;
  }
  parsing::Seq s(st);
  if (!s(whiteSpaceY) || !s(p, out) || !s(whiteSpaceY)) return s.fail();
  return s.ok();
}
// tokenY over the single character c.
Out charTokenY(State& st, char c);
// "(" p ")", each parenthesis a character token.
template <class T, class P>
Out parensY(State& st, T& out, P&& p) {
  parsing::Seq s(st);
  if (!s.step(charTokenY(st, '(')) || !s(p, out) || !s.step(charTokenY(st, ')'))) return s.fail();
  return s.ok();
}
Out identY(State& st, std::string& out);
Out boolY(State& st, bool& out);
Out naturalY(State& st, mpz_class& out);
Out integerY(State& st, mpz_class& out);
Out rationalY(State& st, Ratio& out);
// tokenY over the exact text w, without and with backtracking.
Out keywordTokenY(State& st, std::string_view w);
Out keywordY(State& st, std::string_view w);

// ---- expressions ----
struct FunIx { std::vector<ExpYP> args; };
struct TupIx { mpz_class index; };
struct RecIx { std::string field; };
using UpdateIx = std::variant<FunIx, TupIx, RecIx>;

Out expY(State& st, ExpYP& out);
Out compoundExpY(State& st, ExpYP& out);
Out letBindingY(State& st, LetBinding& out);
Out updateIxY(State& st, UpdateIx& out);
Out recFieldY(State& st, std::pair<std::string, ExpYP>& out);

// ---- types ----
Out typY(State& st, TypYP& out);
Out typFormY(State& st, TypYP& out);
Out idTypY(State& st, IdTyp& out);

// ---- commands ----
Out cmdY(State& st, CmdY& out);
Out stringY(State& st, std::string& out);

// ---- the two readings of expressions ----
// parseExpYs and parseExpY first try the direct reader, a plain recursive descent that
// covers what a model holds and gives up (returns nothing) at anything else or at the first
// sign of an error; then they run the grammar above, which reads every text and builds the
// exact parse error. Both readings give the same value wherever the direct one succeeds.
std::optional<std::vector<ExpYP>> readExpYsDirect(std::string_view text);
std::optional<ExpYP> readExpYDirect(std::string_view text);
std::vector<ExpYP> parseExpYsByGrammar(std::string_view text);  // as parseExpYs, grammar only
ExpYP parseExpYByGrammar(std::string_view text);                // as parseExpY, grammar only

// The direct reader keeps the node memory of dropped trees for the next reading, up to a
// bound. This hands all that is kept back to the C library, so that the next reading
// starts from fresh memory as the first one of a run does (for tests and benchmarks).
void releaseKeptNodeMemory();

}  // namespace grammar

}  // namespace vorlax::yices
