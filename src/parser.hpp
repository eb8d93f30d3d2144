// The grammars of the domain language: types, expressions and the domain file.
#pragma once
#include <string_view>

#include "ast.hpp"
#include "parser_basic.hpp"
#include "parsing/engine.hpp"
#include "types.hpp"

namespace vorlax::parser {

using parsing::Out;
using parsing::State;

// How deeply the text of a domain or serialization file may nest: parentheses, argument
// lists and type arguments, one level each.
inline constexpr int kMaxNesting = 10000;
// How deep an expression's tree may be: a chain of n operators is n deep.
inline constexpr int kMaxTreeDepth = 100000;

// The parser p, then the end of the input: after the last item of a file only white space
// and comments may remain (p reads them after its last token).
template <class P>
auto wholeFile(P p) {
  return [p](State& st, parsing::value_of<P>& out) -> Out {
    parsing::Seq s(st);
    if (!s(p, out) || !s.step(parsing::eof(st))) return s.fail();
    return s.ok();
  };
}

// ---- types ----
// "Int", "Bool", "Double", or a structure name with an optional bracketed argument list.
Out typeP(State& st, Type& out);
Out intType(State& st, Type& out);
Out boolType(State& st, Type& out);
Out doubleType(State& st, Type& out);
Out classType(State& st, Type& out);

// ---- expressions ----
// While one lives, the expressions parsed on this thread share their recurring leaves: each
// variable, each integer and each field of a variable ("a.f") is one node however often it
// occurs. (A tree is immutable, so nothing can tell a shared node from a copy; a file of
// contracts names the same few variables and fields over and over.)
class SharedLeaves {
 public:
  SharedLeaves();
  ~SharedLeaves();
  SharedLeaves(const SharedLeaves&) = delete;
  SharedLeaves& operator=(const SharedLeaves&) = delete;
};

// One expression: seven operator levels over simple terms. Fatal when parentheses and
// calls nest deeper than the state's depth bound, or the tree is deeper than kMaxTreeDepth.
Out expr(State& st, ast::ExprP& out);
// The node of "left . right": an access when right is a plain name; otherwise an access
// that cannot be built (its first use is fatal, see ast::accessField).
ast::ExprP dotBinary(ast::ExprP left, ast::ExprP right);

// ---- the domain file ----
// A name, ":" and a type.
Out decl(State& st, Decl& out);
// A domain: leading white space, then structure, procedure and function items until no
// item can start. Every list of the result is in reverse file order.
Out domain(State& st, ast::Domain& out);

// Runs `domain` over a whole file, which must end after its last item; the source name
// is used in error positions. Its expressions share their leaves (see SharedLeaves).
parsing::Result<ast::Domain> parseDomain(std::string_view source, std::string_view text);

}  // namespace vorlax::parser
