// Untyped syntax trees built by hand, for tests that feed the encoding and the script
// reconstruction without going through the parser.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "ast.hpp"

namespace vorlax::testing_support {

inline ast::ExprP var(const std::string& n) { return ast::mk(ast::Var{n}); }
inline ast::ExprP acc(ast::ExprP x, const std::string& f) { return ast::mk(ast::Access{std::move(x), f}); }
inline ast::ExprP lit(int k) { return ast::mk(ast::LitInt{k}); }
inline ast::ExprP bin(BinOp op, ast::ExprP a, ast::ExprP b) {
  return ast::mk(ast::BinOpExpr{std::move(op), std::move(a), std::move(b)});
}
inline ast::ExprP eq(ast::ExprP a, ast::ExprP b) { return bin(BinOp::rel(ROp::Eq), std::move(a), std::move(b)); }
inline ast::ExprP add(ast::ExprP a, ast::ExprP b) { return bin(BinOp{BinOp::Add}, std::move(a), std::move(b)); }
inline ast::ExprP old(ast::ExprP x) { return ast::mk(ast::UnOpExpr{UnOp::Old, std::move(x)}); }

// A procedure (no result type) with its parameters and no clauses.
inline ast::Procedure proc(const std::string& name, std::vector<Decl> args) {
  ast::Procedure p;
  p.prcdName = name;
  p.prcdArgs = std::move(args);
  p.prcdResult = NoType{};
  return p;
}

}  // namespace vorlax::testing_support
