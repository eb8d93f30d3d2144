// The encoding's shared vocabulary: the names of every generated solver symbol, the solver
// types of domain types, and the translation of typed expressions into solver expressions
// at a pair of step indexes (pre-state, current state).
#pragma once
#include <gmpxx.h>

#include <functional>
#include <string>
#include <vector>

#include "math/smt/yices/syntax.hpp"
#include "typecheck.hpp"
#include "types.hpp"

namespace vorlax {

// Receives the commands of a list one at a time, in list order, as they are produced.
using CmdSink = std::function<void(const yices::CmdY&)>;

// ---- fixed names and values ----
inline const std::string idxStr = "idx";
inline const std::string objStr = "obj";
inline const std::string allRefStr = "ALL_ref";
inline const yices::TypYP intTypeY = yices::mkT(yices::VarT{"int"});
inline const yices::TypYP boolTypeY = yices::mkT(yices::VarT{"bool"});
inline const yices::TypYP realTypeY = yices::mkT(yices::VarT{"real"});
inline const yices::TypYP allRefType = yices::mkT(yices::VarT{allRefStr});
inline const yices::TypYP indexType = intTypeY;
inline const yices::IdTyp idxDecl{idxStr, intTypeY};
inline const yices::ExpYP preIdx = yices::mkE(yices::VarE{idxStr});
inline const yices::ExpYP postIdx =
    yices::mkE(yices::PLUS{preIdx, yices::mkE(yices::LitI{mpz_class(1)})});
inline const yices::ExpYP objY = yices::mkE(yices::VarE{objStr});

// ---- naming scheme ----
std::string structStr(const std::string& s);     // S_ref
std::string nullStr(const std::string& s);       // null_S
std::string objName(const std::string& s, int k);  // S_obj<k>
std::string allWrapStr(const std::string& s);    // S_ref_wrap
std::string allUnwrapStr(const std::string& s);  // S_ref_unwrap
std::string procTagStr(const std::string& p);        // P_tag
// The argument selector applied to a parameter of type t: the text form of t + "_arg".
std::string argSelStr(const Type& t);

// ---- names that must not clash ----
// Every name that the encoding of a domain declares lives in one namespace of the solver's
// language, and so do the words of that language. Two declarations that would get one
// name (two fields of one name, a field named idx, a structure named ALL, a parameter
// named like a field its body reads ...) end the run with a fatal error naming both and
// the file they come from, before any command is produced; so does a structure type that
// names no structure of the domain.
void checkDomainNames(const ast::Domain& dom, const std::string& domainFile);
// The goal variables against each other and against every name of the domain's encoding.
void checkGoalNames(const ast::Domain& dom, const std::vector<Decl>& goalVars,
                    const std::string& domainFile, const std::string& serialFile);

// ---- small builders ----
yices::ExpYP varE(const std::string& name);
yices::ExpYP litI(const mpz_class& k);
yices::ExpYP app(yices::ExpYP fn, std::vector<yices::ExpYP> args);
yices::ExpYP incr(yices::ExpYP e);  // (+ e 1)
yices::ExpYP allWrap(const std::string& s, yices::ExpYP e);
yices::ExpYP allUnwrap(const std::string& s, yices::ExpYP e);
// (define-type ALL_ref (datatype (S_ref_wrap S_ref_unwrap::S_ref) ..)), one constructor per
// structure in list order; (define-type ALL_ref) without structures.
yices::CmdY allType(const std::vector<Struct>& structs);
// Conjunction / disjunction of a list: "true" / "false" when empty, otherwise (and ..) /
// (or ..), also for a single member.
yices::ExpYP andPrime(std::vector<yices::ExpYP> es);
yices::ExpYP orPrime(std::vector<yices::ExpYP> es);

// ---- types ----
// Structure S -> S_ref (type arguments ignored), Int -> int, Double -> real, Bool -> bool,
// NONE -> NONE; NoType is fatal ("no type").
yices::TypYP basicTypeY(const Type& t);
std::vector<yices::IdTyp> declsToArgsY(const std::vector<Decl>& ds);

// ---- expressions ----
// State-dependent terms (field accesses, calls) read the state `cur`; inside `old` the
// whole operand is read at `pre`.
yices::ExpYP exprY(const yices::ExpYP& pre, const yices::ExpYP& cur, const tc::TExpr& e);
yices::ExpYP binYices(const BinOp& op, yices::ExpYP a, yices::ExpYP b);
yices::ExpYP relYices(ROp r, yices::ExpYP a, yices::ExpYP b);
yices::ExpYP unaryYices(UnOp op, const yices::ExpYP& pre, const yices::ExpYP& cur,
                        const tc::TExpr& e);
// null of structure S -> null_S; any other type is fatal.
yices::ExpYP nullValue(const Type& t);

std::vector<tc::TExprP> clauseExprs(const std::vector<tc::Clause>& cs);

}  // namespace vorlax
