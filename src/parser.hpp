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

// ---- types ----
// "Int", "Bool", "Double", or a structure name with an optional bracketed argument list.
Out typeP(State& st, Type& out);
Out intType(State& st, Type& out);
Out boolType(State& st, Type& out);
Out doubleType(State& st, Type& out);
Out classType(State& st, Type& out);

// ---- expressions ----
// One expression: seven operator levels over simple terms. Fatal when the input nests
// deeper than the state's depth bound (parentheses, calls, or the built tree itself).
Out expr(State& st, ast::ExprP& out);
// The node of "left . right": an access when right is a plain name; otherwise an access
// that cannot be built (its first use is fatal, see ast::accessField).
ast::ExprP dotBinary(ast::ExprP left, ast::ExprP right);

// ---- the domain file ----
// A name, ":" and a type.
Out decl(State& st, Decl& out);
// A whole domain file: leading white space, then structure, procedure and function items
// until no item can start. Every list of the result is in reverse file order.
Out domain(State& st, ast::Domain& out);

// Runs `domain` over a whole file; the source name is used in error positions.
parsing::Result<ast::Domain> parseDomain(std::string_view source, std::string_view text);

}  // namespace vorlax::parser
