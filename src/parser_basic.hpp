// The lexical level of the domain language: character classes, white space and comments,
// and the token operations every grammar of the domain and serialization files uses.
//
// Every token reads its text and then skips the white space and comments after it.
#pragma once
#include <gmpxx.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "parsing/engine.hpp"

namespace vorlax::lexer {

using parsing::Out;
using parsing::State;

// The value of a parser whose value nobody needs.
struct Unit {};

// ---- character classes (by byte value; bytes above 127 by their Latin-1 meaning) ----
enum CharClass : std::uint8_t {
  kLetter = 1,        // A-Z a-z and the Latin-1 letters
  kLetterDigit = 2,   // letters, 0-9 and the Latin-1 digits (superscripts, fractions)
  kDigit = 4,         // 0-9
  kHexDigit = 8,      // 0-9 A-F a-f
  kOctDigit = 16,     // 0-7
  kSpace = 32,        // tab, LF, VT, FF, CR, blank, no-break space
  kOpChar = 64,       // : ! # $ % & * + . / < = > ? @ \ ^ | - ~
};

extern const std::array<std::uint8_t, 256> kCharClasses;

inline bool hasClass(unsigned char c, std::uint8_t cls) { return (kCharClasses[c] & cls) != 0; }
inline bool isLetter(unsigned char c) { return hasClass(c, kLetter); }
inline bool isLetterOrDigit(unsigned char c) { return hasClass(c, kLetterDigit); }
inline bool isDigit(unsigned char c) { return hasClass(c, kDigit); }
inline bool isHexDigit(unsigned char c) { return hasClass(c, kHexDigit); }
inline bool isOctDigit(unsigned char c) { return hasClass(c, kOctDigit); }
inline bool isSpace(unsigned char c) { return hasClass(c, kSpace); }
inline bool isOpChar(unsigned char c) { return hasClass(c, kOpChar); }
// A character that may continue an identifier: a letter or digit, "_" or "'".
inline bool isIdentContinue(unsigned char c) { return isLetterOrDigit(c) || c == '_' || c == '\''; }

// The eleven names that are never identifiers.
bool isReservedName(std::string_view word);

// ---- token operations ----
// White space, line comments "--" and nested block comments "{-" "-}", any number of them.
Out whiteSpace(State& st, Unit& out);
// A letter, then letters, digits, "_" and "'"; never a reserved name.
Out identifier(State& st, std::string& out);
// The keyword w, not followed by an identifier character.
Out reserved(State& st, std::string_view w);
// The operator text o, not followed by an operator character.
Out reservedOp(State& st, std::string_view o);
// An optional sign, then a decimal, hexadecimal (0x) or octal (0o) natural number.
Out integer(State& st, mpz_class& out);
// The literal text s (no test on what follows), then white space.
Out symbol(State& st, std::string_view s);
Out comma(State& st, std::string& out);
Out colon(State& st, Unit& out);
Out dot(State& st, std::string& out);

// Adapters that make the parametrised tokens into parsers of the engine.
struct Reserved {
  std::string_view word;
  Out operator()(State& st, Unit&) const { return reserved(st, word); }
};
struct ReservedOp {
  std::string_view op;
  Out operator()(State& st, Unit&) const { return reservedOp(st, op); }
};
struct Symbol {
  std::string_view text;
  Out operator()(State& st, Unit&) const { return symbol(st, text); }
};

template <class T, class P>
Out parens(State& st, T& out, P&& p) {
  return parsing::between(st, out, Symbol{"("}, Symbol{")"}, std::forward<P>(p));
}
template <class T, class P>
Out braces(State& st, T& out, P&& p) {
  return parsing::between(st, out, Symbol{"{"}, Symbol{"}"}, std::forward<P>(p));
}
template <class T, class P>
Out squares(State& st, T& out, P&& p) {
  return parsing::between(st, out, Symbol{"["}, Symbol{"]"}, std::forward<P>(p));
}

// The token record: one constant value, shared by every grammar.
struct Lexeme {
  Out (*identifier)(State&, std::string&);
  Out (*reserved)(State&, std::string_view);
  Out (*reservedOp)(State&, std::string_view);
  Out (*integer)(State&, mpz_class&);
  Out (*whiteSpace)(State&, Unit&);
  Out (*comma)(State&, std::string&);
  Out (*colon)(State&, Unit&);
  Out (*dot)(State&, std::string&);
  template <class T, class P>
  static Out parens(State& st, T& out, P&& p) { return lexer::parens(st, out, std::forward<P>(p)); }
  template <class T, class P>
  static Out braces(State& st, T& out, P&& p) { return lexer::braces(st, out, std::forward<P>(p)); }
  template <class T, class P>
  static Out squares(State& st, T& out, P&& p) { return lexer::squares(st, out, std::forward<P>(p)); }
};
extern const Lexeme lexeme;

}  // namespace vorlax::lexer
