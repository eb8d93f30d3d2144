// The solver language: types (TypY), expressions (ExpY) and commands (CmdY) as immutable
// trees, and their exact solver text.
//
// Operator constructors of the solver language and their C++ names:
//   :=>  IMPLIES    :=   EQ       :/=  NEQ      :<   LT      :<=  LE     :>  GT
//   :>=  GE         :+:  PLUS     :-:  MINUS    :*:  TIMES   :/:  DIVIDE
// (DIV and MOD are the solver's "div" and "mod".)
#pragma once
#include <gmpxx.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vorlax::yices {

struct TypY;
struct ExpY;
struct CmdY;
using TypYP = std::shared_ptr<const TypY>;
using ExpYP = std::shared_ptr<const ExpY>;

using IdTyp = std::pair<std::string, TypYP>;

// ---- types ----
struct VarT { std::string name; };
struct SUBTYPE { IdTyp binder; ExpYP pred; };
struct SUBRANGE { ExpYP lo; ExpYP hi; };
struct ARR { std::vector<TypYP> types; };
struct TUP { std::vector<TypYP> types; };
struct REC { std::vector<IdTyp> fields; };
struct DEP { IdTyp binder; };
struct DATATYPE { std::vector<std::pair<std::string, std::vector<IdTyp>>> ctors; };
struct SCALAR { std::vector<std::string> names; };

struct TypY {
  using V = std::variant<VarT, SUBTYPE, SUBRANGE, ARR, TUP, REC, DEP, DATATYPE, SCALAR>;
  V v;
  template <class T> bool is() const { return std::holds_alternative<T>(v); }
  template <class T> const T* as() const { return std::get_if<T>(&v); }
};

// ---- expressions ----
// An exact fraction kept in lowest terms with a positive denominator. A fraction read from
// a reply may have the denominator 0; using its value is then fatal
// ("Ratio.%: zero denominator").
struct Ratio {
  mpz_class num;
  mpz_class den{1};
  // Reduces and normalises the sign; den == 0 is kept as given (num, 0).
  static Ratio make(const mpz_class& n, const mpz_class& d);
  static Ratio fromDouble(double x);  // exact conversion of a finite double
  bool zeroDenominator() const { return den == 0; }
  // The value as a GMP rational; fatal when the denominator is 0.
  mpq_class value() const;
};

struct VarE { std::string name; };
struct LitB { bool value; };
struct LitI { mpz_class value; };
struct LitR { Ratio value; };
struct AND { std::vector<ExpYP> args; };
struct OR { std::vector<ExpYP> args; };
struct NOT { ExpYP arg; };
// The eleven binary operators share one shape; Tag is the constructor number.
template <int Tag>
struct BinY { ExpYP left; ExpYP right; };
using IMPLIES = BinY<7>;
using EQ = BinY<8>;
using NEQ = BinY<9>;
using LT = BinY<10>;
using LE = BinY<11>;
using GT = BinY<12>;
using GE = BinY<13>;
using PLUS = BinY<14>;
using MINUS = BinY<15>;
using TIMES = BinY<16>;
using DIVIDE = BinY<17>;
using DIV = BinY<18>;
using MOD = BinY<19>;
struct IF { ExpYP cond; ExpYP then_; ExpYP else_; };
struct ITE { ExpYP cond; ExpYP then_; ExpYP else_; };
using LetBinding = std::pair<std::pair<std::string, std::optional<TypYP>>, ExpYP>;
struct LET { std::vector<LetBinding> bindings; ExpYP body; };
struct FORALL { std::vector<IdTyp> vars; ExpYP body; };
struct EXISTS { std::vector<IdTyp> vars; ExpYP body; };
struct APP { ExpYP fn; std::vector<ExpYP> args; };
struct UPDATE_F { ExpYP fn; std::vector<ExpYP> args; ExpYP value; };
struct LAMBDA { std::vector<IdTyp> params; ExpYP body; };
struct MKTUP { std::vector<ExpYP> items; };
struct SELECT_T { ExpYP tuple; mpz_class index; };
struct UPDATE_T { ExpYP tuple; mpz_class index; ExpYP value; };
struct MKREC { std::vector<std::pair<std::string, ExpYP>> fields; };
struct SELECT_R { ExpYP record; std::string field; };
struct UPDATE_R { ExpYP record; std::string field; ExpYP value; };

struct ExpY {
  using V = std::variant<VarE, LitB, LitI, LitR, AND, OR, NOT, IMPLIES, EQ, NEQ, LT, LE, GT, GE,
                         PLUS, MINUS, TIMES, DIVIDE, DIV, MOD, IF, ITE, LET, FORALL, EXISTS, APP,
                         UPDATE_F, LAMBDA, MKTUP, SELECT_T, UPDATE_T, MKREC, SELECT_R, UPDATE_R>;
  V v;
  template <class T> bool is() const { return std::holds_alternative<T>(v); }
  template <class T> const T* as() const { return std::get_if<T>(&v); }
};

// ---- commands ----
struct DEFTYP { std::string name; std::optional<TypYP> type; };
struct DEFINE { IdTyp binder; std::optional<ExpYP> value; };
struct ASSERT { ExpYP expr; };
struct ASSERT_P { ExpYP expr; std::optional<mpz_class> weight; };
struct RETRACT { mpz_class id; };
struct CHECK {};
struct MAXSAT {};
struct SETE { bool on; };
struct SETV { mpz_class level; };
struct SETAO { bool on; };
struct PUSH {};
struct POP {};
struct ECHO { std::string text; };
struct INCLUDE { std::string file; };
struct RESET {};
struct STATUS {};
struct DUMP {};
struct EXIT {};

struct CmdY {
  using V = std::variant<DEFTYP, DEFINE, ASSERT, ASSERT_P, RETRACT, CHECK, MAXSAT, SETE, SETV,
                         SETAO, PUSH, POP, ECHO, INCLUDE, RESET, STATUS, DUMP, EXIT>;
  V v;
  template <class T> bool is() const { return std::holds_alternative<T>(v); }
  template <class T> const T* as() const { return std::get_if<T>(&v); }
};

// Builders.
template <class T>
TypYP mkT(T node) { return std::make_shared<const TypY>(TypY{std::move(node)}); }
template <class T>
ExpYP mkE(T node) { return std::make_shared<const ExpY>(ExpY{std::move(node)}); }
template <class T>
CmdY mkC(T node) { return CmdY{std::move(node)}; }

// ---- text form ----
// Every printer writes front to back into the stream; a value that cannot be printed (an
// empty list where an element is needed, a zero denominator) raises the fatal error after
// every character in front of it has been written.
// The append forms add the text to `out`; on a failure `out` holds the text in front of it.
void appendExpY(std::string& out, const ExpY& e);
void appendTypY(std::string& out, const TypY& t);
void appendCmdY(std::string& out, const CmdY& c);
void showExpY(std::ostream& os, const ExpY& e);
void showTypY(std::ostream& os, const TypY& t);
void showCmdY(std::ostream& os, const CmdY& c);
std::string showExpY(const ExpY& e);
std::string showTypY(const TypY& t);
std::string showCmdY(const CmdY& c);
std::ostream& operator<<(std::ostream& os, const ExpY& e);
std::ostream& operator<<(std::ostream& os, const TypY& t);
std::ostream& operator<<(std::ostream& os, const CmdY& c);
// "[" the expressions' texts joined by "," "]"; the empty list gives "[]".
void showExpYList(std::ostream& os, const std::vector<ExpYP>& es);
// "[" the types' texts joined by "," "]"; the empty list gives "[]".
void showTypYList(std::ostream& os, const std::vector<TypYP>& ts);

// name "::" type
void showIdTyp(std::ostream& os, const IdTyp& b);
// name "::" expression (the fields of a record value)
void showIdTyp(std::ostream& os, const std::pair<std::string, ExpYP>& f);
// One constructor of a datatype: its bare name when it has no fields, otherwise
// "(" name " " the fields as name "::" type joined by " " ")".
void showCtorDef(std::ostream& os, const std::pair<std::string, std::vector<IdTyp>>& ctor);
// The names joined by sep; an empty list is fatal like showListSepByWith.
void showStringsSepBy(std::ostream& os, const std::string& sep,
                      const std::vector<std::string>& names);
// "(" name " " value ")" or "(" name "::" type " " value ")"
void showBinding(std::ostream& os, const LetBinding& b);
// Writes the items separated by sep, each with show(os, item), into a stream or a text; an
// empty list is fatal ("Prelude.foldr1: empty list").
template <class Out, class T, class F>
void showListSepByWith(Out& os, const std::string& sep, const std::vector<T>& items, F show);
// A double-quoted string literal with backslash escapes (echo and include operands):
// printable ASCII as itself (a double quote and a backslash escaped), control characters by
// their names (\n, \t, \NUL, \SO ...), 127 as \DEL, bytes above 127 as their decimal code;
// "\&" separates \SO from a following 'H' and a decimal code from a following digit.
void showStringLit(std::ostream& os, const std::string& s);

[[noreturn]] void emptyListFailure();

inline void putText(std::ostream& os, const std::string& s) {
  os.write(s.data(), static_cast<std::streamsize>(s.size()));
}
inline void putText(std::string& out, const std::string& s) { out += s; }

template <class Out, class T, class F>
void showListSepByWith(Out& os, const std::string& sep, const std::vector<T>& items, F show) {
  if (items.empty()) emptyListFailure();
  bool first = true;
  for (const auto& it : items) {
    if (!first) putText(os, sep);
    first = false;
    show(os, it);
  }
}

}  // namespace vorlax::yices
