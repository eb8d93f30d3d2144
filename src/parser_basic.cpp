#include "parser_basic.hpp"

#include <array>

namespace vorlax::lexer {

using parsing::Error;
using parsing::Input;
using parsing::Message;
using parsing::MsgKind;
using parsing::Seq;

namespace {

constexpr std::array<std::uint8_t, 256> buildClasses() {
  std::array<std::uint8_t, 256> t{};
  auto add = [&t](int from, int to, std::uint8_t cls) {
    for (int c = from; c <= to; ++c) t[static_cast<std::size_t>(c)] |= cls;
  };
  const std::uint8_t letter = kLetter | kLetterDigit;
  add('A', 'Z', letter);
  add('a', 'z', letter);
  add(0xAA, 0xAA, letter);
  add(0xB5, 0xB5, letter);
  add(0xBA, 0xBA, letter);
  add(0xC0, 0xD6, letter);
  add(0xD8, 0xF6, letter);
  add(0xF8, 0xFF, letter);
  add('0', '9', kLetterDigit | kDigit | kHexDigit);
  add('0', '7', kOctDigit);
  add('A', 'F', kHexDigit);
  add('a', 'f', kHexDigit);
  add(0xB2, 0xB3, kLetterDigit);
  add(0xB9, 0xB9, kLetterDigit);
  add(0xBC, 0xBE, kLetterDigit);
  add(0x09, 0x0D, kSpace);
  add(0x20, 0x20, kSpace);
  add(0xA0, 0xA0, kSpace);
  for (char c : std::string_view(":!#$%&*+./<=>?@\\^|-~"))
    t[static_cast<unsigned char>(c)] |= kOpChar;
  return t;
}

// What a character test reports at the current position: the next character as a
// one-character string, or the empty text at the end of input.
std::string here(const State& st) {
  return st.atEnd() ? std::string() : parsing::showOneCharString(st.peek());
}

bool nextIs(const State& st, char c) { return st.in.cur + 1 < st.end && st.in.cur[1] == c; }

// Finishes a token whose own text has been consumed (its pending error is in st.err):
// the white space after it, sequenced after the token.
Out lexemeTail(State& st) {
  Seq s(st);
  s.step(Out::ConsumedOk);
  Unit u;
  if (!s(whiteSpace, u)) return s.fail();
  return s.ok();
}

// The body of a block comment whose opening "{-" has been read. Nested comments are
// counted, not recursed into, so any depth of nesting is fine.
bool blockCommentBody(State& st) {
  std::size_t depth = 1;
  for (;;) {
    if (st.atEnd()) {
      if (st.track)
        st.err = Error{st.in.pos, {Message{MsgKind::SysUnExpect, std::string()},
                                   Message{MsgKind::Expect, "end of comment"}}};
      return false;
    }
    unsigned char c = st.peek();
    if (c == '-' && nextIs(st, '}')) {
      st.bump();
      st.bump();
      if (--depth == 0) return true;
    } else if (c == '{' && nextIs(st, '-')) {
      st.bump();
      st.bump();
      ++depth;
    } else if (c != '-' && c != '}' && c != '{') {
      do st.bump();
      while (!st.atEnd() && st.peek() != '-' && st.peek() != '}' && st.peek() != '{');
    } else {
      st.bump();
    }
  }
}

// A keyword or operator token: the text w, not followed by a character of the class.
Out keywordToken(State& st, std::string_view w, bool (*follows)(unsigned char)) {
  Input start = st.in;
  for (char ch : w) {
    if (st.atEnd() || st.peek() != static_cast<unsigned char>(ch)) {
      if (st.track)
        st.err = Error{start.pos, {Message{MsgKind::Expect, parsing::showStringLit(w)},
                                   Message{MsgKind::SysUnExpect, here(st)}}};
      st.in = start;
      return Out::EmptyErr;
    }
    st.bump();
  }
  if (!st.atEnd() && follows(st.peek())) {
    if (st.track)
      st.err = Error{start.pos, {Message{MsgKind::Expect, "end of " + parsing::showStringLit(w)},
                                 Message{MsgKind::UnExpect, parsing::showCharLit(st.peek())}}};
    st.in = start;
    return Out::EmptyErr;
  }
  if (st.track)
    st.err = Error{st.in.pos, {Message{MsgKind::Expect, "end of " + parsing::showStringLit(w)},
                               Message{MsgKind::SysUnExpect, here(st)}}};
  return lexemeTail(st);
}

// One or more digits of a class, read as a number in the base.
Out digits(State& st, mpz_class& out, int base, bool (*isDig)(unsigned char), const char* name) {
  const char* b = st.in.cur;
  while (!st.atEnd() && isDig(st.peek())) st.bump();
  bool any = st.in.cur != b;
  if (st.track) st.err = Error{st.in.pos, {Message{MsgKind::Expect, name}, Message{MsgKind::SysUnExpect, here(st)}}};
  if (!any) return Out::EmptyErr;
  out.set_str(std::string(b, st.in.cur), base);
  return Out::ConsumedOk;
}

// A natural number: "0x" hex, "0o" octal, "0" followed by decimal digits, a lone "0", or
// decimal digits.
Out natural(State& st, mpz_class& out) {
  if (!st.atEnd() && st.peek() == '0') {
    st.bump();
    if (!st.atEnd() && (st.peek() == 'x' || st.peek() == 'X')) {
      st.bump();
      Out o = digits(st, out, 16, isHexDigit, "hexadecimal digit");
      return o == Out::EmptyErr ? Out::ConsumedErr : Out::ConsumedOk;
    }
    if (!st.atEnd() && (st.peek() == 'o' || st.peek() == 'O')) {
      st.bump();
      Out o = digits(st, out, 8, isOctDigit, "octal digit");
      return o == Out::EmptyErr ? Out::ConsumedErr : Out::ConsumedOk;
    }
    if (digits(st, out, 10, isDigit, "digit") == Out::EmptyErr) out = 0;
    return Out::ConsumedOk;
  }
  Out o = digits(st, out, 10, isDigit, "digit");
  if (o == Out::EmptyErr && st.track) {
    // the failed "0" branch (under the empty label) comes first
    st.err.msgs.insert(st.err.msgs.begin(), {Message{MsgKind::Expect, std::string()},
                                             Message{MsgKind::SysUnExpect, here(st)}});
  }
  return o;
}

Out labelled(State& st, Out o, std::string_view name) {
  if (st.track && (o == Out::EmptyErr || (o == Out::EmptyOk && !st.err.msgs.empty())))
    parsing::relabel(st, name);
  return o;
}

}  // namespace

const std::array<std::uint8_t, 256> kCharClasses = buildClasses();

bool isReservedName(std::string_view word) {
  static constexpr std::string_view names[] = {"True",   "False",  "Void",    "type",
                                               "Result", "ensure", "require", "invariant",
                                               "Int",    "Double", "Bool"};
  for (std::string_view n : names)
    if (n == word) return true;
  return false;
}

Out whiteSpace(State& st, Unit&) {
  bool consumed = false;
  while (!st.atEnd()) {
    unsigned char c = st.peek();
    if (isSpace(c)) {
      do st.bump();
      while (!st.atEnd() && isSpace(st.peek()));
    } else if (c == '-' && nextIs(st, '-')) {
      st.bump();
      st.bump();
      while (!st.atEnd() && st.peek() != '\n') st.bump();
    } else if (c == '{' && nextIs(st, '-')) {
      st.bump();
      st.bump();
      if (!blockCommentBody(st)) return Out::ConsumedErr;
    } else {
      break;
    }
    consumed = true;
  }
  // The failed attempt at one more piece, under the empty label.
  if (st.track)
    st.err = Error{st.in.pos, {Message{MsgKind::Expect, std::string()},
                               Message{MsgKind::SysUnExpect, here(st)}}};
  return consumed ? Out::ConsumedOk : Out::EmptyOk;
}

Out identifier(State& st, std::string& out) {
  Input start = st.in;
  if (st.atEnd() || !isLetter(st.peek())) {
    if (st.track)
      st.err = Error{st.in.pos, {Message{MsgKind::Expect, "identifier"},
                                 Message{MsgKind::SysUnExpect, here(st)}}};
    return Out::EmptyErr;
  }
  const char* b = st.in.cur;
  do st.bump();
  while (!st.atEnd() && isIdentContinue(st.peek()));
  std::string_view word(b, static_cast<std::size_t>(st.in.cur - b));
  if (isReservedName(word)) {
    if (st.track)
      st.err = Error{start.pos, {Message{MsgKind::Expect, "letter or digit"},
                                 Message{MsgKind::SysUnExpect, here(st)},
                                 Message{MsgKind::UnExpect, "reserved word " + parsing::showStringLit(word)}}};
    st.in = start;
    return Out::EmptyErr;
  }
  out.assign(word);
  if (st.track)
    st.err = Error{st.in.pos, {Message{MsgKind::Expect, "letter or digit"},
                               Message{MsgKind::SysUnExpect, here(st)}}};
  return lexemeTail(st);
}

Out reserved(State& st, std::string_view w) { return keywordToken(st, w, isIdentContinue); }

Out reservedOp(State& st, std::string_view o) { return keywordToken(st, o, isOpChar); }

Out integer(State& st, mpz_class& out) {
  Seq s(st);
  Unit u;
  bool negative = false;
  if (!st.atEnd() && (st.peek() == '-' || st.peek() == '+')) {
    negative = st.peek() == '-';
    st.bump();
    st.emptyError();
    s.step(Out::ConsumedOk);
  } else {
    if (st.track) {
      std::string h = here(st);
      st.err = Error{st.in.pos, {Message{MsgKind::Expect, "\"-\""}, Message{MsgKind::SysUnExpect, h},
                                 Message{MsgKind::Expect, "\"+\""}, Message{MsgKind::SysUnExpect, h}}};
    }
    s.step(Out::EmptyOk);
  }
  if (!s(whiteSpace, u)) return labelled(st, s.fail(), "integer");
  if (!s.step(natural(st, out))) return labelled(st, s.fail(), "integer");
  if (negative) out = -out;
  if (!s(whiteSpace, u)) return labelled(st, s.fail(), "integer");
  return labelled(st, s.ok(), "integer");
}

Out symbol(State& st, std::string_view s) {
  Out o = parsing::literal(st, s);
  if (o != Out::ConsumedOk) return o;
  return lexemeTail(st);
}

Out comma(State& st, std::string& out) {
  Out o = symbol(st, ",");
  if (isOk(o)) out = ",";
  return o;
}

Out colon(State& st, Unit&) { return reservedOp(st, ":"); }

Out dot(State& st, std::string& out) {
  Out o = symbol(st, ".");
  if (isOk(o)) out = ".";
  return o;
}

const Lexeme lexeme{&identifier, &reserved, &reservedOp, &integer, &whiteSpace, &comma, &colon, &dot};

}  // namespace vorlax::lexer
