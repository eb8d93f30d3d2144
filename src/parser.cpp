#include "parser.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace vorlax::parser {

using parsing::NestingGuard;
using parsing::Error;
using parsing::Seq;
using lexer::Reserved;
using lexer::ReservedOp;
using lexer::Unit;

// ---------------------------------------------------------------- types

namespace {

Out keywordType(State& st, Type& out, std::string_view word, Type t) {
  Out o = lexer::reserved(st, word);
  if (isOk(o)) out = std::move(t);
  return o;
}

Out typeArgs(State& st, std::vector<Type>& out) {
  return lexer::squares(st, out, [](State& s, std::vector<Type>& v) {
    NestingGuard guard(s);
    if (!guard.ok()) return Out::ConsumedErr;
    return parsing::sepBy(s, v, typeP, lexer::comma);
  });
}

}  // namespace

Out intType(State& st, Type& out) { return keywordType(st, out, "Int", IntType{}); }
Out boolType(State& st, Type& out) { return keywordType(st, out, "Bool", BoolType{}); }
Out doubleType(State& st, Type& out) { return keywordType(st, out, "Double", DoubleType{}); }

Out classType(State& st, Type& out) {
  Seq s(st);
  std::string name;
  std::vector<Type> args;
  if (!s(lexer::identifier, name) || !s.step(parsing::option(st, args, std::vector<Type>{}, typeArgs)))
    return s.fail();
  out = StructType{std::move(name), std::move(args)};
  return s.ok();
}

Out typeP(State& st, Type& out) {
  return parsing::choice(st, out, intType, boolType, doubleType, classType);
}

// ---------------------------------------------------------------- expressions

namespace {

// An expression with the depth of its tree. A chain of operators is read in a loop, but
// it builds a tree as deep as the chain is long, and the later walks over a tree (the
// printers, the translation, the release of its nodes) go down it recursively: the depth
// of a tree is bounded separately from the nesting of the text, by what the stack of the
// run holds (see runWithLargeStack).
struct DE {
  ast::ExprP e;
  int depth = 0;
};

[[noreturn]] void tooDeep() {
  fatal("an expression is too deep (more than " + std::to_string(kMaxTreeDepth) +
        " operators inside one another)");
}

template <class Node>
[[gnu::noinline]] DE build(State&, Node node, int childDepth) {
  int d = childDepth + 1;
  if (d > kMaxTreeDepth) tooDeep();
  return DE{ast::mk(std::move(node)), d};
}

// The leaves made so far while a SharedLeaves lives on this thread, and the fields of
// variables ("a.f"), which recur as often.
struct Leaves {
  struct PairHash {
    std::size_t operator()(const std::pair<const void*, const void*>& p) const {
      return std::hash<const void*>{}(p.first) * 31 + std::hash<const void*>{}(p.second);
    }
  };
  std::unordered_map<const void*, ast::ExprP> vars;  // by Name::id()
  std::unordered_map<std::int32_t, ast::ExprP> ints;
  std::unordered_map<std::pair<const void*, const void*>, ast::ExprP, PairHash> fields;  // by both ids
};
thread_local std::unique_ptr<Leaves> tLeaves;
thread_local int tLeafScopes = 0;

template <class Key, class Node>
DE leaf(std::unordered_map<Key, ast::ExprP>* made, const Key& key, Node node) {
  if (!made) return DE{ast::mk(std::move(node)), 1};
  ast::ExprP& e = (*made)[key];
  if (!e) e = ast::mk(std::move(node));
  return DE{e, 1};
}

DE varLeaf(ast::Name name) {
  return leaf(tLeaves ? &tLeaves->vars : nullptr, name.id(), ast::Var{name});
}

DE intLeaf(std::int32_t v) { return leaf(tLeaves ? &tLeaves->ints : nullptr, v, ast::LitInt{v}); }

// "left . right": while leaves are shared, the field of a variable is one node as well.
ast::ExprP access(ast::ExprP left, ast::ExprP right) {
  const ast::Var* object = left->as<ast::Var>();
  const ast::Var* field = right->as<ast::Var>();
  if (!tLeaves || !object || !field) return dotBinary(std::move(left), std::move(right));
  ast::ExprP& e = tLeaves->fields[{object->name.id(), field->name.id()}];
  if (!e) e = dotBinary(std::move(left), std::move(right));
  return e;
}


Out exprD(State& st, DE& out);

// ---- term ----

// An Int literal is a 32-bit integer: one outside that range is an error where it stands,
// not a value taken modulo 2^32.
Out termInteger(State& st, DE& out) {
  mpz_class v;
  const parsing::Pos start = st.in.pos;
  Out o = lexer::integer(st, v);
  if (!isOk(o)) return o;
  if (!v.fits_sint_p() || v > INT32_MAX || v < INT32_MIN) {
    st.errorAt(start, parsing::MsgKind::Message,
               "the integer " + v.get_str() + " does not fit in Int (-2147483648 to 2147483647)");
    return Out::ConsumedErr;
  }
  out = intLeaf(static_cast<std::int32_t>(v.get_si()));
  return o;
}

template <class Token, class Node>
Out termToken(State& st, DE& out, Token tok, Node node) {
  Unit u;
  Out o = tok(st, u);
  if (isOk(o)) out = build(st, node, 0);
  return o;
}

Out termNull(State& st, DE& out) { return termToken(st, out, Reserved{"null"}, ast::LitNull{}); }
Out termTrue(State& st, DE& out) { return termToken(st, out, Reserved{"True"}, ast::LitBool{true}); }
Out termFalse(State& st, DE& out) { return termToken(st, out, Reserved{"False"}, ast::LitBool{false}); }
Out termResult(State& st, DE& out) { return termToken(st, out, Reserved{"Result"}, ast::ResultVar{}); }

Out callArgs(State& st, std::vector<DE>& out) {
  return lexer::parens(st, out, [](State& s, std::vector<DE>& v) {
    NestingGuard guard(s);
    if (!guard.ok()) return Out::ConsumedErr;
    return parsing::sepBy(s, v, exprD, lexer::comma);
  });
}

Out callBody(State& st, DE& out) {
  Seq s(st);
  std::string name;
  std::vector<DE> args;
  if (!s(lexer::identifier, name) || !s(callArgs, args)) return s.fail();
  int d = 0;
  std::vector<ast::ExprP> es;
  es.reserve(args.size());
  for (DE& a : args) {
    d = std::max(d, a.depth);
    es.push_back(std::move(a.e));
  }
  out = build(st, ast::Call{std::move(name), std::move(es)}, d);
  return s.ok();
}

Out termCall(State& st, DE& out) { return parsing::attempt(st, out, callBody); }

Out openParen(State& st, char& c) {
  return parsing::satisfy(st, c, [](unsigned char x) { return x == '('; });
}

Out termVar(State& st, DE& out) {
  Seq s(st);
  std::string name;
  if (!s(lexer::identifier, name) || !s.step(parsing::notFollowedBy(st, openParen))) return s.fail();
  out = varLeaf(name);
  return s.ok();
}

Out termParens(State& st, DE& out) {
  return lexer::parens(st, out, [](State& s, DE& e) {
    NestingGuard guard(s);
    if (!guard.ok()) return Out::ConsumedErr;
    return exprD(s, e);
  });
}

// Without error tracking, a term that starts with a letter: the word decides at once which
// alternative of `term` can succeed, and a name is read as a variable first, a call only
// when "(" follows it. The outcome and the position after it are those of the choice.
Out wordTerm(State& st, DE& out) {
  const char* e = st.in.cur;
  while (e != st.end && lexer::isIdentContinue(static_cast<unsigned char>(*e))) ++e;
  const std::string_view word(st.in.cur, static_cast<std::size_t>(e - st.in.cur));
  if (word == "null") return termNull(st, out);
  if (word == "True") return termTrue(st, out);
  if (word == "False") return termFalse(st, out);
  if (word == "Result") return termResult(st, out);
  const parsing::Input start = st.in;
  Out o = termVar(st, out);
  if (o != Out::ConsumedErr) return o;  // a variable, or no name at all
  // "(" follows the name: a call, or else the variable's failure, as the choice has it.
  const parsing::Input afterName = st.in;
  st.in = start;
  o = termCall(st, out);
  if (o != Out::EmptyErr) return o;
  st.in = afterName;
  return Out::ConsumedErr;
}

Out term(State& st, DE& out) {
  if (!st.track && !st.atEnd() && lexer::isLetter(st.peek())) return wordTerm(st, out);
  return parsing::choice(st, out, termInteger, termNull, termTrue, termFalse, termResult, termCall,
                         termVar, termParens);
}

// ---- operator levels ----

struct PrefixOp {
  std::string_view text;
  UnOp op;
};

enum class Infix : std::uint8_t { Dot, Bin };

struct InfixOp {
  std::string_view text;
  Infix kind;
  BinOp op;
};

struct Level {
  std::vector<PrefixOp> prefix;
  std::vector<InfixOp> infix;
};

// From the tightest (1) to the loosest (7); level 0 is `term`.
const Level kLevels[8] = {
      {},
      {{}, {{".", Infix::Dot, BinOp{}}}},
      {{{"old", UnOp::Old}}, {}},
      {{{"not", UnOp::Not}, {"-", UnOp::Neg}}, {}},
      {{}, {{"*", Infix::Bin, BinOp{BinOp::Mul}}, {"/", Infix::Bin, BinOp{BinOp::Div}}}},
      {{}, {{"+", Infix::Bin, BinOp{BinOp::Add}}, {"-", Infix::Bin, BinOp{BinOp::Sub}}}},
      {{},
       {{"<=", Infix::Bin, BinOp::rel(ROp::Lte)},
        {"<", Infix::Bin, BinOp::rel(ROp::Lt)},
        {"=", Infix::Bin, BinOp::rel(ROp::Eq)},
        {"/=", Infix::Bin, BinOp::rel(ROp::Neq)},
        {">", Infix::Bin, BinOp::rel(ROp::Gt)},
        {">=", Infix::Bin, BinOp::rel(ROp::Gte)}}},
      {{},
       {{"and", Infix::Bin, BinOp{BinOp::And}},
        {"or", Infix::Bin, BinOp{BinOp::Or}},
        {"implies", Infix::Bin, BinOp{BinOp::Implies}}}},
};

// The first of the operator texts that matches, tried in order as a choice; on failure
// the errors of all attempts are combined.
template <class Ops>
Out chooseOp(State& st, const Ops& ops, std::size_t& which) {
  // Without error tracking, a character that starts none of the texts decides at once.
  if (!st.track) {
    bool any = false;
    for (const auto& op : ops) any = any || (!st.atEnd() && st.peek() == static_cast<unsigned char>(op.text[0]));
    if (!any) return Out::EmptyErr;
  }
  Error acc;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    // A word operator is a whole word: "nothing" is a name, not "not hing".
    const std::string_view text = ops[i].text;
    Out o = lexer::isLetter(static_cast<unsigned char>(text[0])) ? lexer::reserved(st, text)
                                                                 : lexer::reservedOp(st, text);
    if (o != Out::EmptyErr) {
      which = i;
      return o;  // a matching operator always consumes its text
    }
    if (st.track) {
      if (i == 0) acc = std::move(st.err);
      else State::merge(acc, std::move(st.err));
    }
  }
  if (st.track) st.err = std::move(acc);
  return Out::EmptyErr;
}

[[gnu::noinline]] void relabelCold(State& st, std::string_view name) { parsing::relabel(st, name); }

[[gnu::noinline]] DE applyPrefix(State& st, UnOp op, DE x) {
  return build(st, ast::UnOpExpr{op, std::move(x.e)}, x.depth);
}

[[gnu::noinline]] DE combine(State& st, const InfixOp& op, DE x, DE y) {
  int d = std::max(x.depth, y.depth);
  if (op.kind == Infix::Dot) {
    if (d + 1 > kMaxTreeDepth) tooDeep();
    return DE{access(std::move(x.e), std::move(y.e)), d + 1};
  }
  return build(st, ast::BinOpExpr{op.op, std::move(x.e), std::move(y.e)}, d);
}

Out levelExpr(State& st, DE& out, int k);

// An operand of level k, as steps of the caller's sequence: at most one prefix operator
// of the level, then level k-1.
bool operand(State& st, Seq& s, DE& x, int k, const Level& lv) {
  bool prefixed = false;
  std::size_t which = 0;
  if (!lv.prefix.empty()) {
    Out o = chooseOp(st, lv.prefix, which);
    if (o == Out::EmptyErr) {
      if (st.track) relabelCold(st, "");
      o = Out::EmptyOk;
    } else {
      prefixed = true;
    }
    if (!s.step(o)) return false;
  }
  if (!s.step(levelExpr(st, x, k - 1))) return false;
  if (prefixed) x = applyPrefix(st, lv.prefix[which].op, std::move(x));
  return true;
}

// Level k: an operand, then any number of (operator, operand), folded to the left, in a
// loop: a chain of any length costs no recursion. When no operator follows the first
// operand at all, the expectation shown is "operator". Only parentheses and argument
// lists nest (see termParens, callArgs).
Out levelExpr(State& st, DE& out, int k) {
  if (k == 0) return term(st, out);
  const Level& lv = kLevels[k];
  Seq s(st);
  if (!operand(st, s, out, k, lv)) return s.fail();
  if (lv.infix.empty()) return s.ok();
  for (bool first = true;; first = false) {
    std::size_t which = 0;
    Out o = chooseOp(st, lv.infix, which);
    if (o == Out::EmptyErr) {
      if (first && st.track && !st.err.msgs.empty()) relabelCold(st, "operator");
      s.step(Out::EmptyOk);
      return s.ok();
    }
    DE y;
    if (!s.step(o) || !operand(st, s, y, k, lv)) return s.fail();
    out = combine(st, lv.infix[which], std::move(out), std::move(y));
  }
}

Out exprD(State& st, DE& out) { return levelExpr(st, out, 7); }

}  // namespace

SharedLeaves::SharedLeaves() {
  if (tLeafScopes++ == 0) tLeaves = std::make_unique<Leaves>();
}

SharedLeaves::~SharedLeaves() {
  if (--tLeafScopes == 0) tLeaves.reset();
}

ast::ExprP dotBinary(ast::ExprP left, ast::ExprP right) {
  if (const ast::Var* v = right->as<ast::Var>()) return ast::mk(ast::Access{std::move(left), v->name, true});
  return ast::mk(ast::Access{std::move(left), std::string(), false});
}

Out expr(State& st, ast::ExprP& out) {
  DE d;
  Out o = exprD(st, d);
  if (isOk(o)) out = std::move(d.e);
  return o;
}

// ---------------------------------------------------------------- the domain file

Out decl(State& st, Decl& out) {
  Seq s(st);
  if (!s(lexer::identifier, out.declName) || !s(lexer::colon) || !s(typeP, out.declType)) return s.fail();
  return s.ok();
}

namespace {

Out clauseBody(State& st, ast::Clause& out) {
  Seq s(st);
  if (!s(lexer::identifier, out.clauseName) || !s(lexer::colon) || !s(expr, out.clauseExpr))
    return s.fail();
  return s.ok();
}

Out clause(State& st, ast::Clause& out) { return parsing::attempt(st, out, clauseBody); }

Out fieldDecls(State& st, std::vector<Decl>& out) { return parsing::many(st, out, decl); }

Out structItem(State& st, Struct& out) {
  Seq s(st);
  if (!s(Reserved{"type"}) || !s(lexer::identifier, out.structName) ||
      !s.step(lexer::braces(st, out.structDecls, fieldDecls)))
    return s.fail();
  return s.ok();
}

Out params(State& st, std::vector<Decl>& out) { return parsing::sepBy(st, out, decl, lexer::comma); }

Out resultType(State& st, Type& out) {
  Seq s(st);
  if (!s(lexer::colon) || !s(typeP, out)) return s.fail();
  return s.ok();
}

struct Section {
  std::string_view keyword;
  Out operator()(State& st, std::vector<ast::Clause>& out) const {
    Seq s(st);
    if (!s(Reserved{keyword}) || !s.step(parsing::many(st, out, clause))) return s.fail();
    return s.ok();
  }
};

Out procedureItem(State& st, ast::Procedure& out) {
  Seq s(st);
  if (!s(lexer::identifier, out.prcdName) || !s.step(lexer::parens(st, out.prcdArgs, params)) ||
      !s.step(parsing::option(st, out.prcdResult, Type(NoType{}), resultType)) ||
      !s.step(parsing::option(st, out.prcdReq, std::vector<ast::Clause>{}, Section{"require"})) ||
      !s.step(parsing::option(st, out.prcdEns, std::vector<ast::Clause>{}, Section{"ensure"})))
    return s.fail();
  return s.ok();
}

struct Item {
  bool isStruct = false;
  Struct structure;
  ast::Procedure procedure;
};

Out item(State& st, Item& out) {
  Out o = structItem(st, out.structure);
  if (o != Out::EmptyErr) {
    out.isStruct = true;
    return o;
  }
  Error first;
  if (st.track) first = std::move(st.err);
  o = procedureItem(st, out.procedure);
  if (!isConsumed(o) && st.track) {
    State::merge(first, std::move(st.err));
    st.err = std::move(first);
  }
  return o;
}

}  // namespace

Out domain(State& st, ast::Domain& out) {
  Seq s(st);
  ast::Domain d;
  // Each item goes to its list as soon as it is read, in file order; the lists are turned
  // round at the end.
  auto itemInto = [&d](State& st2, Unit&) -> Out {
    Item it;
    Out o = item(st2, it);
    if (!isOk(o)) return o;
    if (it.isStruct) d.domStructs.push_back(std::move(it.structure));
    else if (it.procedure.prcdResult == Type(NoType{})) d.domProcs.push_back(std::move(it.procedure));
    else d.domFuncs.push_back(std::move(it.procedure));
    return o;
  };
  if (!s(lexer::whiteSpace) || !s.step(parsing::skipMany(st, itemInto))) return s.fail();
  std::reverse(d.domStructs.begin(), d.domStructs.end());
  std::reverse(d.domProcs.begin(), d.domProcs.end());
  std::reverse(d.domFuncs.begin(), d.domFuncs.end());
  out = std::move(d);
  return s.ok();
}

parsing::Result<ast::Domain> parseDomain(std::string_view source, std::string_view text) {
  SharedLeaves shared;
  return parsing::runParser(wholeFile(domain), source, text, kMaxNesting);
}

}  // namespace vorlax::parser
