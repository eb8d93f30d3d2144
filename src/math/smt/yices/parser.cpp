// The reply grammar: tokens, expressions, types and commands over the shared engine.
//
// Every rule is a parser `Out rule(State&, T&)`. Error records are built only when the
// state tracks errors (the engine's second, failure-only pass); the first pass only steers
// by outcomes, so the rules may skip alternatives that cannot start at the current
// character when they do not track.
#include "math/smt/yices/parser.hpp"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <numeric>

#include "fatal.hpp"

namespace vorlax::yices {

namespace grammar {

using parsing::Error;
using parsing::Input;
using parsing::Message;
using parsing::MsgKind;
using parsing::Seq;
using parsing::isConsumed;
using parsing::isOk;
using parsing::showOneCharString;
using parsing::showStringLit;

namespace {

// ---- character classes (one character per byte) ----
enum : std::uint8_t { kSpace = 1, kLetter = 2, kNumber = 4, kUpper = 8, kDigit = 16 };

constexpr std::array<std::uint8_t, 256> makeClasses() {
  std::array<std::uint8_t, 256> t{};
  for (int c = 9; c <= 13; ++c) t[c] |= kSpace;
  t[32] |= kSpace;
  t[160] |= kSpace;  // no-break space
  for (int c = 'a'; c <= 'z'; ++c) t[c] |= kLetter;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] |= kLetter | kUpper;
  for (int c = '0'; c <= '9'; ++c) t[c] |= kNumber | kDigit;
  t[0xAA] |= kLetter;
  t[0xB5] |= kLetter;
  t[0xBA] |= kLetter;
  for (int c = 0xC0; c <= 0xFF; ++c)
    if (c != 0xD7 && c != 0xF7) t[c] |= kLetter;
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) t[c] |= kUpper;
  t[0xB2] |= kNumber;
  t[0xB3] |= kNumber;
  t[0xB9] |= kNumber;
  for (int c = 0xBC; c <= 0xBE; ++c) t[c] |= kNumber;
  return t;
}
constexpr std::array<std::uint8_t, 256> kClasses = makeClasses();

inline bool isSpaceY(unsigned char c) { return kClasses[c] & kSpace; }
inline bool isDigitY(unsigned char c) { return kClasses[c] & kDigit; }
inline bool isIdentStart(unsigned char c) { return (kClasses[c] & kLetter) || c == '_'; }
inline bool isIdentRest(unsigned char c) {
  return (kClasses[c] & (kLetter | kNumber)) || c == '_' || c == '\'';
}

// ---- error records (tracking pass only) ----
std::string found(const State& st) {
  return st.atEnd() ? std::string() : showOneCharString(st.peek());
}
// A failed look at the current character: the found character and the expected items.
void lookFailed(State& st, std::initializer_list<std::string_view> expects) {
  if (!st.track) return;
  Error e{st.in.pos, {}};
  for (std::string_view x : expects) e.msgs.push_back(Message{MsgKind::Expect, std::string(x)});
  e.msgs.push_back(Message{MsgKind::SysUnExpect, found(st)});
  st.err = std::move(e);
}
using parsing::Alt;
using parsing::backtrackFrom;
using parsing::labelOutcome;

// An optional step: a failure without consuming means the part is absent.
Out optional(Out o, bool& present) {
  present = isOk(o);
  return o == Out::EmptyErr ? Out::EmptyOk : o;
}

// One character c, expected as c in double quotes.
Out charY(State& st, char c) {
  if (!st.atEnd() && st.peek() == static_cast<unsigned char>(c)) {
    st.bump();
    st.emptyError();
    return Out::ConsumedOk;
  }
  if (st.track) lookFailed(st, {showOneCharString(static_cast<unsigned char>(c))});
  return Out::EmptyErr;
}

// One character of a class, expected under the class label.
template <class Pred>
Out classY(State& st, Pred pred, std::string_view name, unsigned char* out = nullptr) {
  if (!st.atEnd() && pred(st.peek())) {
    if (out) *out = st.peek();
    st.bump();
    st.emptyError();
    return Out::ConsumedOk;
  }
  lookFailed(st, {name});
  return Out::EmptyErr;
}

// One or more characters of a class, each looked at under the label; the text read is
// [b, e). Its record is that of the look that ended the run.
template <class Pred>
Out many1Class(State& st, Pred pred, std::string_view name, const char*& b, const char*& e) {
  b = st.in.cur;
  if (st.atEnd() || !pred(st.peek())) {
    lookFailed(st, {name});
    return Out::EmptyErr;
  }
  do st.bump();
  while (!st.atEnd() && pred(st.peek()));
  e = st.in.cur;
  lookFailed(st, {name});
  return Out::ConsumedOk;
}

// Up to 18 decimal digits fit a machine word.
constexpr std::ptrdiff_t kWordDigits = 18;
unsigned long wordValue(const char* b, const char* e) {
  unsigned long v = 0;
  for (const char* p = b; p != e; ++p) v = v * 10 + static_cast<unsigned long>(*p - '0');
  return v;
}

mpz_class digitsValue(const char* b, const char* e) {
  mpz_class z;
  if (e - b <= kWordDigits) {
    z = wordValue(b, e);
  } else {
    mpz_set_str(z.get_mpz_t(), std::string(b, e).c_str(), 10);
  }
  return z;
}

// The exact text w; when wholeWord, w must not be followed by a character that can
// continue an identifier.
Out wordY(State& st, std::string_view w, bool wholeWord) {
  Input start = st.in;
  Out o = parsing::literal(st, w);
  if (o == Out::ConsumedOk && wholeWord && !st.atEnd() && isIdentRest(st.peek())) {
    if (st.track) {
      st.err = Error{start.pos,
                     {Message{MsgKind::Expect, showStringLit(w)}, Message{MsgKind::SysUnExpect, found(st)}}};
    }
    return Out::ConsumedErr;
  }
  return o;
}

Out keywordTok(State& st, std::string_view w, bool wholeWord) {
  if (!st.track) {
    bool before = skipSpaceY(st);
    Out o = wordY(st, w, wholeWord);
    if (!isOk(o)) return before || o == Out::ConsumedErr ? Out::ConsumedErr : Out::EmptyErr;
    skipSpaceY(st);
    return Out::ConsumedOk;
  }
  Seq s(st);
  if (!s(whiteSpaceY) || !s.step(wordY(st, w, wholeWord)) || !s(whiteSpaceY)) return s.fail();
  return s.ok();
}
Out keywordAttempt(State& st, std::string_view w, bool wholeWord) {
  Input start = st.in;
  return backtrackFrom(st, keywordTok(st, w, wholeWord), start);
}

// "true" or "false"; when wholeWord, only as a whole word.
Out boolWordY(State& st, bool& out, bool wholeWord) {
  Alt a(st);
  if (a.decided(wordY(st, "true", wholeWord))) {
    out = true;
    return a.result();
  }
  if (a.decided(wordY(st, "false", wholeWord))) {
    out = false;
    return a.result();
  }
  return a.fail();
}

// The label of a token read at this point: label (tokenY p).
template <class T, class P>
Out labelledToken(State& st, T& out, std::string_view name, P&& p) {
  return labelOutcome(st, tokenY(st, out, std::forward<P>(p)), name);
}

Out identTokenY(State& st, std::string& out) { return labelledToken(st, out, "identifier", identY); }
Out integerTokenY(State& st, mpz_class& out) { return labelledToken(st, out, "integer", integerY); }
Out boolTokenY(State& st, bool& out) { return labelledToken(st, out, "boolean", boolY); }

// ---- repetitions ----
// p at least `min` times, then as often as it succeeds, values in order: the first `min`
// elements in sequence, then a repetition whose stopping element leaves its record.
template <class T, class P>
Out repeat(State& st, std::vector<T>& out, std::size_t min, P&& p) {
  Seq s(st);
  for (std::size_t i = 0; i < min; ++i) {
    T v{};
    if (!s(p, v)) return s.fail();
    out.push_back(std::move(v));
  }
  if (!s.step(parsing::many(st, out, p))) return s.fail();
  return s.ok();
}

// ---- expression forms ----
enum class Form : std::uint8_t {
  And, Or, Not, Implies, Eq, Neq, Lt, Le, Gt, Ge, Plus, Minus, Times, Divide, Div, Mod, If,
  Ite, Let, Forall, Exists, Lambda, MkTuple, MkRecord, Update, Select
};

struct FormKey {
  std::string_view keyword;
  Form form;
  bool word;       // matched only as a whole word
  bool backtrack;  // the whole form gives its input back on failure
};

constexpr FormKey kForms[] = {
    {"and", Form::And, true, false},         {"or", Form::Or, true, false},
    {"not", Form::Not, true, false},         {"=>", Form::Implies, false, true},
    {"=", Form::Eq, false, false},           {"/=", Form::Neq, false, false},
    {"<", Form::Lt, false, true},            {"<=", Form::Le, false, false},
    {">", Form::Gt, false, true},            {">=", Form::Ge, false, false},
    {"+", Form::Plus, false, false},         {"-", Form::Minus, false, false},
    {"*", Form::Times, false, false},        {"/", Form::Divide, false, false},
    {"div", Form::Div, true, false},         {"mod", Form::Mod, true, false},
    {"if", Form::If, true, false},           {"ite", Form::Ite, true, false},
    {"let", Form::Let, true, false},         {"forall", Form::Forall, true, false},
    {"exists", Form::Exists, true, false},   {"lambda", Form::Lambda, true, false},
    {"mk-tuple", Form::MkTuple, true, false}, {"mk-record", Form::MkRecord, true, false},
    {"update", Form::Update, true, false},   {"select", Form::Select, true, false},
};

template <class B>
ExpYP bin(ExpYP a, ExpYP b) {
  return mkE(B{std::move(a), std::move(b)});
}

// Exactly n expressions.
Out expsY(State& st, ExpYP* es, int n) {
  Seq s(st);
  for (int i = 0; i < n; ++i)
    if (!s(expY, es[i])) return s.fail();
  return s.ok();
}

// "(" binders ")" then the body.
Out bindersBodyY(State& st, std::vector<IdTyp>& vars, ExpYP& body) {
  Seq s(st);
  auto list = [](State& s2, std::vector<IdTyp>& v) -> Out { return repeat(s2, v, 1, idTypY); };
  if (!s.step(parensY(st, vars, list)) || !s(expY, body)) return s.fail();
  return s.ok();
}

// The operands of a form after its keyword, and the expression built from them.
Out formBodyY(State& st, Form f, ExpYP& out) {
  ExpYP e[3];
  Out o;
  switch (f) {
    case Form::And:
    case Form::Or: {
      std::vector<ExpYP> args;
      o = repeat(st, args, 1, expY);
      if (isOk(o)) out = f == Form::And ? mkE(AND{std::move(args)}) : mkE(OR{std::move(args)});
      return o;
    }
    case Form::Not:
      o = expsY(st, e, 1);
      if (isOk(o)) out = mkE(NOT{e[0]});
      return o;
    case Form::If:
    case Form::Ite:
      o = expsY(st, e, 3);
      if (isOk(o)) out = f == Form::If ? mkE(IF{e[0], e[1], e[2]}) : mkE(ITE{e[0], e[1], e[2]});
      return o;
    case Form::Let: {
      Seq s(st);
      std::vector<LetBinding> bs;
      auto list = [](State& s2, std::vector<LetBinding>& v) -> Out { return repeat(s2, v, 1, letBindingY); };
      if (!s.step(parensY(st, bs, list)) || !s(expY, e[0])) return s.fail();
      out = mkE(LET{std::move(bs), e[0]});
      return s.ok();
    }
    case Form::Forall:
    case Form::Exists:
    case Form::Lambda: {
      std::vector<IdTyp> vs;
      o = bindersBodyY(st, vs, e[0]);
      if (isOk(o)) {
        if (f == Form::Forall) out = mkE(FORALL{std::move(vs), e[0]});
        else if (f == Form::Exists) out = mkE(EXISTS{std::move(vs), e[0]});
        else out = mkE(LAMBDA{std::move(vs), e[0]});
      }
      return o;
    }
    case Form::MkTuple: {
      std::vector<ExpYP> items;
      o = repeat(st, items, 2, expY);
      if (isOk(o)) out = mkE(MKTUP{std::move(items)});
      return o;
    }
    case Form::MkRecord: {
      std::vector<std::pair<std::string, ExpYP>> fields;
      o = repeat(st, fields, 1, recFieldY);
      if (isOk(o)) out = mkE(MKREC{std::move(fields)});
      return o;
    }
    case Form::Update: {
      Seq s(st);
      UpdateIx ix;
      if (!s(expY, e[0]) || !s(updateIxY, ix) || !s(expY, e[1])) return s.fail();
      if (auto* fi = std::get_if<FunIx>(&ix)) out = mkE(UPDATE_F{e[0], std::move(fi->args), e[1]});
      else if (auto* ti = std::get_if<TupIx>(&ix)) out = mkE(UPDATE_T{e[0], std::move(ti->index), e[1]});
      else out = mkE(UPDATE_R{e[0], std::move(std::get<RecIx>(ix).field), e[1]});
      return s.ok();
    }
    case Form::Select: {
      Seq s(st);
      if (!s(expY, e[0])) return s.fail();
      // the index: an integer, else a field name
      mpz_class n;
      std::string name;
      Alt a(st);
      bool tuple = a.decided(integerTokenY(st, n));
      Out io = tuple ? a.result() : a.decided(identTokenY(st, name)) ? a.result() : a.fail();
      if (!s.step(io)) return s.fail();
      out = tuple ? mkE(SELECT_T{e[0], std::move(n)}) : mkE(SELECT_R{e[0], std::move(name)});
      return s.ok();
    }
    default:
      break;
  }
  // The eleven binary operators.
  o = expsY(st, e, 2);
  if (!isOk(o)) return o;
  switch (f) {
    case Form::Implies: out = bin<IMPLIES>(e[0], e[1]); break;
    case Form::Eq: out = bin<EQ>(e[0], e[1]); break;
    case Form::Neq: out = bin<NEQ>(e[0], e[1]); break;
    case Form::Lt: out = bin<LT>(e[0], e[1]); break;
    case Form::Le: out = bin<LE>(e[0], e[1]); break;
    case Form::Gt: out = bin<GT>(e[0], e[1]); break;
    case Form::Ge: out = bin<GE>(e[0], e[1]); break;
    case Form::Plus: out = bin<PLUS>(e[0], e[1]); break;
    case Form::Minus: out = bin<MINUS>(e[0], e[1]); break;
    case Form::Times: out = bin<TIMES>(e[0], e[1]); break;
    case Form::Divide: out = bin<DIVIDE>(e[0], e[1]); break;
    case Form::Div: out = bin<DIV>(e[0], e[1]); break;
    default: out = bin<MOD>(e[0], e[1]); break;
  }
  return o;
}

Out formY(State& st, const FormKey& k, ExpYP& out) {
  Input start = st.in;
  Seq s(st);
  Out o;
  if (!s.step(keywordAttempt(st, k.keyword, k.word)) || !s.step(formBodyY(st, k.form, out))) o = s.fail();
  else o = s.ok();
  return k.backtrack ? backtrackFrom(st, o, start) : o;
}

// The application after "(": a function expression and one or more arguments.
Out applicationY(State& st, ExpYP& out) {
  Seq s(st);
  ExpYP fn;
  std::vector<ExpYP> args;
  if (!s(expY, fn) || !s.step(repeat(st, args, 1, expY))) return s.fail();
  out = mkE(APP{std::move(fn), std::move(args)});
  return s.ok();
}

// A type after "::" in a let binding: a name, or "(" typFormY ")".
Out letTypeY(State& st, TypYP& out) {
  std::string name;
  Alt a(st);
  if (a.decided(identTokenY(st, name))) {
    if (isOk(a.result())) out = mkT(VarT{std::move(name)});
    return a.result();
  }
  if (a.decided(parensY(st, out, typFormY))) return a.result();
  return a.fail();
}

// ---- types ----
enum class TForm : std::uint8_t { Subtype, Subrange, Arrow, Tuple, Record, Datatype, Scalar };
struct TFormKey {
  std::string_view keyword;
  TForm form;
};
constexpr TFormKey kTypeForms[] = {
    {"subtype", TForm::Subtype}, {"subrange", TForm::Subrange}, {"->", TForm::Arrow},
    {"tuple", TForm::Tuple},     {"record", TForm::Record},     {"datatype", TForm::Datatype},
    {"scalar", TForm::Scalar},
};

using Ctor = std::pair<std::string, std::vector<IdTyp>>;

Out ctorY(State& st, Ctor& out) {
  auto inner = [](State& s2, Ctor& c) -> Out {
    Seq s(s2);
    if (!s(identTokenY, c.first)) return s.fail();
    // zero or more binders
    Out o = repeat(s2, c.second, 0, idTypY);
    if (!s.step(o)) return s.fail();
    return s.ok();
  };
  return parensY(st, out, inner);
}

Out typFormBodyY(State& st, TForm f, TypYP& out) {
  Seq s(st);
  switch (f) {
    case TForm::Subtype: {
      IdTyp b;
      ExpYP pred;
      if (!s.step(parensY(st, b, idTypY)) || !s(expY, pred)) return s.fail();
      out = mkT(SUBTYPE{std::move(b), std::move(pred)});
      break;
    }
    case TForm::Subrange: {
      ExpYP lo, hi;
      if (!s(expY, lo) || !s(expY, hi)) return s.fail();
      out = mkT(SUBRANGE{std::move(lo), std::move(hi)});
      break;
    }
    case TForm::Arrow:
    case TForm::Tuple: {
      std::vector<TypYP> ts;
      if (!s.step(repeat(st, ts, 2, typY))) return s.fail();
      out = f == TForm::Arrow ? mkT(ARR{std::move(ts)}) : mkT(TUP{std::move(ts)});
      break;
    }
    case TForm::Record: {
      std::vector<IdTyp> fs;
      if (!s.step(repeat(st, fs, 1, idTypY))) return s.fail();
      out = mkT(REC{std::move(fs)});
      break;
    }
    case TForm::Datatype: {
      std::vector<Ctor> cs;
      if (!s.step(repeat(st, cs, 1, ctorY))) return s.fail();
      out = mkT(DATATYPE{std::move(cs)});
      break;
    }
    case TForm::Scalar: {
      std::vector<std::string> ns;
      if (!s.step(repeat(st, ns, 1, identTokenY))) return s.fail();
      out = mkT(SCALAR{std::move(ns)});
      break;
    }
  }
  return s.ok();
}

// ---- string literals ----
constexpr std::pair<std::string_view, int> kMnemonics[] = {
    {"NUL", 0},  {"SOH", 1},  {"STX", 2},  {"ETX", 3},  {"EOT", 4},  {"ENQ", 5},  {"ACK", 6},
    {"BEL", 7},  {"DLE", 16}, {"DC1", 17}, {"DC2", 18}, {"DC3", 19}, {"DC4", 20}, {"NAK", 21},
    {"SYN", 22}, {"ETB", 23}, {"CAN", 24}, {"SUB", 26}, {"ESC", 27}, {"DEL", 127}, {"BS", 8},
    {"HT", 9},   {"LF", 10},  {"VT", 11},  {"FF", 12},  {"CR", 13},  {"SO", 14},  {"SI", 15},
    {"EM", 25},  {"FS", 28},  {"GS", 29},  {"RS", 30},  {"US", 31},  {"SP", 32},
};
constexpr std::pair<char, int> kEscapeLetters[] = {
    {'a', 7}, {'b', 8}, {'f', 12}, {'n', 10}, {'r', 13}, {'t', 9}, {'v', 11},
    {'\\', 92}, {'"', 34}, {'\'', 39},
};

// Appends the character of a code point: a single byte below 256, UTF-8 above.
void appendCode(std::string& out, std::uint32_t c) {
  if (c < 256) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The character of a numeric escape: the low 32 bits of the number, as a signed value.
void appendNumericCode(std::string& out, const char* b, const char* e, int base) {
  std::uint32_t v = 0;
  for (const char* p = b; p != e; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    std::uint32_t d = isDigitY(c) ? c - '0' : (c | 0x20) - 'a' + 10;
    v = v * static_cast<std::uint32_t>(base) + d;
  }
  auto code = static_cast<std::int32_t>(v);
  if (code < 0 || code > 1114111) {
    std::string n = std::to_string(code);
    fatal("Prelude.chr: bad argument: " + (code < 0 ? "(" + n + ")" : n));
  }
  appendCode(out, static_cast<std::uint32_t>(code));
}

bool isOctal(unsigned char c) { return c >= '0' && c <= '7'; }
bool isHex(unsigned char c) { return isDigitY(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

// The escape code after a backslash (letter, number, mnemonic, control), labelled.
Out escapeCodeY(State& st, std::string& out) {
  Alt a(st);
  auto done = [&] { return labelOutcome(st, a.result(), "escape code"); };
  // a letter
  for (const auto& [c, code] : kEscapeLetters) {
    if (a.decided(charY(st, c))) {
      out += static_cast<char>(code);
      return done();
    }
  }
  // a number: decimal, or "o" and octal digits, or "x" and hexadecimal digits
  const char *b = nullptr, *e = nullptr;
  if (a.decided(many1Class(st, isDigitY, "digit", b, e))) {
    appendNumericCode(out, b, e, 10);
    return done();
  }
  for (auto [prefix, base] : {std::pair<char, int>{'o', 8}, std::pair<char, int>{'x', 16}}) {
    Seq s(st);
    Out o = charY(st, prefix);
    if (s.step(o)) {
      o = base == 8 ? many1Class(st, isOctal, "octal digit", b, e)
                    : many1Class(st, isHex, "hexadecimal digit", b, e);
      o = s.step(o) ? s.ok() : s.fail();
    } else {
      o = s.fail();
    }
    if (a.decided(o)) {
      if (isOk(o)) appendNumericCode(out, b, e, base);
      return done();
    }
  }
  // a mnemonic, each read whole or given back
  for (const auto& [m, code] : kMnemonics) {
    Input start = st.in;
    if (a.decided(backtrackFrom(st, parsing::literal(st, m), start))) {
      out += static_cast<char>(code);
      return done();
    }
  }
  // a control escape: "^" and an upper-case letter
  Seq s(st);
  unsigned char u = 0;
  Out o = s.step(charY(st, '^')) &&
                  s.step(classY(st, [](unsigned char c) { return (kClasses[c] & kUpper) != 0; },
                                "uppercase letter", &u))
              ? s.ok()
              : s.fail();
  if (a.decided(o)) {
    if (isOk(o)) appendCode(out, static_cast<std::uint32_t>(u) - 65);
    return done();
  }
  return labelOutcome(st, a.fail(), "escape code");
}

// A backslash escape: gap, empty escape or escape code.
Out escapeY(State& st, std::string& out) {
  Seq s(st);
  if (!s.step(charY(st, '\\'))) return s.fail();
  Alt a(st);
  // gap: whitespace, then the closing backslash
  Seq g(st);
  const char *b = nullptr, *e = nullptr;
  Out gap = g.step(many1Class(st, isSpaceY, "space", b, e)) &&
                    g.step(labelOutcome(st, charY(st, '\\'), "end of string gap"))
                ? g.ok()
                : g.fail();
  Out o = a.decided(gap)                  ? a.result()
          : a.decided(charY(st, '&'))     ? a.result()  // the empty escape
          : a.decided(escapeCodeY(st, out)) ? a.result()
                                            : a.fail();
  return s.step(o) ? s.ok() : s.fail();
}

Out stringCharY(State& st, std::string& out) {
  // a plain character: anything but the double quote, the backslash and codes 0 to 26
  if (!st.atEnd()) {
    unsigned char c = st.peek();
    if (c != '"' && c != '\\' && c > 26) {
      out += static_cast<char>(c);
      st.bump();
      st.emptyError();
      return Out::ConsumedOk;
    }
  }
  Alt a(st);
  if (st.track) st.err = Error{st.in.pos, {Message{MsgKind::SysUnExpect, found(st)}}};
  a.decided(Out::EmptyErr);
  Out o = a.decided(escapeY(st, out)) ? a.result() : a.fail();
  return labelOutcome(st, o, "string character");
}

// Whitespace after a string literal: skipped without an expected item of its own.
void quietSpace(State& st, Seq& s) {
  bool any = false;
  while (!st.atEnd() && isSpaceY(st.peek())) {
    st.bump();
    any = true;
  }
  if (st.track)
    st.err = Error{st.in.pos, {Message{MsgKind::Expect, std::string()}, Message{MsgKind::SysUnExpect, found(st)}}};
  s.step(any ? Out::ConsumedOk : Out::EmptyOk);
}

// ---- commands ----
enum class CForm : std::uint8_t {
  DefineType, Define, Assert, AssertP, Retract, Check, MaxSat, SetEvidence, SetVerbosity,
  SetArithOnly, Push, Pop, Echo, Include, Reset, Status, Dump, Exit
};
struct CFormKey {
  std::string_view keyword;
  CForm form;
  bool backtrack;
};
constexpr CFormKey kCmdForms[] = {
    {"define-type", CForm::DefineType, true},
    {"define", CForm::Define, false},
    {"assert", CForm::Assert, true},
    {"assert+", CForm::AssertP, false},
    {"retract", CForm::Retract, false},
    {"check", CForm::Check, false},
    {"max-sat", CForm::MaxSat, false},
    {"set-evidence!", CForm::SetEvidence, false},
    {"set-verbosity!", CForm::SetVerbosity, false},
    {"set-arith-only!", CForm::SetArithOnly, false},
    {"push", CForm::Push, false},
    {"pop", CForm::Pop, false},
    {"echo", CForm::Echo, false},
    {"include", CForm::Include, false},
    {"reset", CForm::Reset, false},
    {"status", CForm::Status, false},
    {"dump-context", CForm::Dump, false},
    {"exit", CForm::Exit, false},
};

// The operands of a command after its keyword, and the command built from them.
Out cmdOperandsY(State& st, CForm f, CmdY& out) {
  Seq s(st);
  switch (f) {
    case CForm::DefineType: {
      std::string name;
      auto ident = [](State& s2, std::string& v) -> Out { return tokenY(s2, v, identY); };
      if (!s(ident, name)) return s.fail();
      TypYP t;
      bool present = false;
      if (!s.step(optional(typY(st, t), present))) return s.fail();
      out = mkC(DEFTYP{std::move(name), present ? std::optional<TypYP>(std::move(t)) : std::nullopt});
      break;
    }
    case CForm::Define: {
      IdTyp b;
      ExpYP v;
      bool present = false;
      if (!s(idTypY, b) || !s.step(optional(expY(st, v), present))) return s.fail();
      out = mkC(DEFINE{std::move(b), present ? std::optional<ExpYP>(std::move(v)) : std::nullopt});
      break;
    }
    case CForm::Assert: {
      ExpYP e;
      if (!s(expY, e)) return s.fail();
      out = mkC(ASSERT{std::move(e)});
      break;
    }
    case CForm::AssertP: {
      ExpYP e;
      mpz_class w;
      bool present = false;
      if (!s(expY, e) || !s.step(optional(integerTokenY(st, w), present))) return s.fail();
      out = mkC(ASSERT_P{std::move(e), present ? std::optional<mpz_class>(std::move(w)) : std::nullopt});
      break;
    }
    case CForm::Retract:
    case CForm::SetVerbosity: {
      mpz_class n;
      if (!s(integerTokenY, n)) return s.fail();
      out = f == CForm::Retract ? mkC(RETRACT{std::move(n)}) : mkC(SETV{std::move(n)});
      break;
    }
    case CForm::SetEvidence:
    case CForm::SetArithOnly: {
      bool b = false;
      if (!s(boolTokenY, b)) return s.fail();
      out = f == CForm::SetEvidence ? mkC(SETE{b}) : mkC(SETAO{b});
      break;
    }
    case CForm::Echo:
    case CForm::Include: {
      std::string text;
      if (!s(stringY, text)) return s.fail();
      out = f == CForm::Echo ? mkC(ECHO{std::move(text)}) : mkC(INCLUDE{std::move(text)});
      break;
    }
    default:
      switch (f) {
        case CForm::Check: out = mkC(CHECK{}); break;
        case CForm::MaxSat: out = mkC(MAXSAT{}); break;
        case CForm::Push: out = mkC(PUSH{}); break;
        case CForm::Pop: out = mkC(POP{}); break;
        case CForm::Reset: out = mkC(RESET{}); break;
        case CForm::Status: out = mkC(STATUS{}); break;
        case CForm::Dump: out = mkC(DUMP{}); break;
        default: out = mkC(EXIT{}); break;
      }
      st.emptyError();
      return Out::EmptyOk;
  }
  return s.ok();
}

// What stands between the parentheses of a command.
Out cmdBodyY(State& st, CmdY& out) {
  // The "(" token skipped the whitespace in front, so the keyword starts here.
  const bool fast = !st.track;
  const unsigned char c = st.atEnd() ? 0 : st.peek();
  Alt a(st);
  for (const CFormKey& k : kCmdForms) {
    if (fast && static_cast<unsigned char>(k.keyword[0]) != c) continue;
    Input start = st.in;
    Seq s(st);
    Out o = s.step(keywordY(st, k.keyword)) && s.step(cmdOperandsY(st, k.form, out)) ? s.ok() : s.fail();
    if (k.backtrack) o = backtrackFrom(st, o, start);
    if (a.decided(o)) return a.result();
  }
  return a.fail();
}

}  // namespace

// ---- tokens ----

bool skipSpaceY(State& st) {
  bool any = false;
  while (!st.atEnd() && isSpaceY(st.peek())) {
    st.bump();
    any = true;
  }
  return any;
}

Out whiteSpaceY(State& st, Unit&) {
  bool any = skipSpaceY(st);
  if (st.track) lookFailed(st, {any ? "space" : "white space"});
  return any ? Out::ConsumedOk : Out::EmptyOk;
}

Out charTokenY(State& st, char c) {
  if (!st.track) {
    bool before = skipSpaceY(st);
    if (st.atEnd() || st.peek() != static_cast<unsigned char>(c)) return before ? Out::ConsumedErr : Out::EmptyErr;
    st.bump();
    skipSpaceY(st);
    return Out::ConsumedOk;
  }
  Seq s(st);
  if (!s(whiteSpaceY) || !s.step(charY(st, c)) || !s(whiteSpaceY)) return s.fail();
  return s.ok();
}

Out identY(State& st, std::string& out) {
  if (st.atEnd() || !isIdentStart(st.peek())) {
    if (st.track) {
      std::string f = found(st);
      st.err = Error{st.in.pos,
                     {Message{MsgKind::Expect, "letter"}, Message{MsgKind::SysUnExpect, f},
                      Message{MsgKind::Expect, "\"_\""}, Message{MsgKind::SysUnExpect, f}}};
    }
    return Out::EmptyErr;
  }
  const char* b = st.in.cur;
  do st.bump();
  while (!st.atEnd() && isIdentRest(st.peek()));
  out.assign(b, st.in.cur);
  if (st.track) {
    std::string f = found(st);
    st.err = Error{st.in.pos,
                   {Message{MsgKind::Expect, "letter or digit"}, Message{MsgKind::SysUnExpect, f},
                    Message{MsgKind::SysUnExpect, f}}};
  }
  return Out::ConsumedOk;
}

Out boolY(State& st, bool& out) { return boolWordY(st, out, false); }

Out naturalY(State& st, mpz_class& out) {
  const char *b = nullptr, *e = nullptr;
  Out o = many1Class(st, isDigitY, "digit", b, e);
  if (isOk(o)) out = digitsValue(b, e);
  return o;
}

namespace {
// An optional "-" directly before digits; the digits are [b, e).
// False when the sequence s has failed.
bool signedDigits(State& st, Seq& s, bool& neg, const char*& b, const char*& e) {
  bool present = false;
  s.step(optional(charY(st, '-'), present));
  neg = present;
  return s.step(many1Class(st, isDigitY, "digit", b, e));
}
}  // namespace

Out integerY(State& st, mpz_class& out) {
  Seq s(st);
  bool neg = false;
  const char *b = nullptr, *e = nullptr;
  if (!signedDigits(st, s, neg, b, e)) return s.fail();
  out = digitsValue(b, e);
  if (neg) out = -out;
  return s.ok();
}

Out rationalY(State& st, Ratio& out) {
  Seq s(st);
  bool neg = false;
  const char *b = nullptr, *e = nullptr, *b2 = nullptr, *e2 = nullptr;
  if (!signedDigits(st, s, neg, b, e)) return s.fail();
  if (!s.step(charY(st, '/')) || !s.step(many1Class(st, isDigitY, "digit", b2, e2))) return s.fail();
  if (e - b <= kWordDigits && e2 - b2 <= kWordDigits) {
    // the common small fraction, reduced in machine words
    unsigned long n = wordValue(b, e), d = wordValue(b2, e2);
    if (d != 0) {
      unsigned long g = std::gcd(n, d);
      mpz_class num(n / g);
      if (neg) num = -num;
      out = Ratio{std::move(num), mpz_class(d / g)};
      return s.ok();
    }
  }
  mpz_class n = digitsValue(b, e);
  if (neg) n = -n;
  out = Ratio::make(n, digitsValue(b2, e2));
  return s.ok();
}

Out keywordTokenY(State& st, std::string_view w) { return keywordTok(st, w, false); }
Out keywordY(State& st, std::string_view w) { return keywordAttempt(st, w, false); }

// ---- expressions ----

Out expY(State& st, ExpYP& out) {
  parsing::DepthGuard guard(st);
  // Without tracking, an alternative that cannot start at a non-blank character fails
  // without consuming, so it need not be run.
  const bool fast = !st.track && !st.atEnd() && !isSpaceY(st.peek());
  const unsigned char c = st.atEnd() ? 0 : st.peek();
  if (fast && c == '(') return parensY(st, out, compoundExpY);
  Alt a(st);
  // 1: a boolean, only as a whole word
  if (!fast || c == 't' || c == 'f') {
    Input start = st.in;
    bool b = false;
    auto tok = [](State& s2, bool& v) -> Out { return boolWordY(s2, v, true); };
    if (a.decided(backtrackFrom(st, labelledToken(st, b, "boolean", tok), start))) {
      if (isOk(a.result())) out = mkE(LitB{b});
      return a.result();
    }
  }
  const bool number = c == '-' || isDigitY(c);
  // 2: a fraction
  if (!fast || number) {
    Input start = st.in;
    Ratio r;
    if (a.decided(backtrackFrom(st, labelledToken(st, r, "rational", rationalY), start))) {
      if (isOk(a.result())) out = mkE(LitR{std::move(r)});
      return a.result();
    }
  }
  // 3: an integer
  if (!fast || number) {
    mpz_class n;
    if (a.decided(integerTokenY(st, n))) {
      if (isOk(a.result())) out = mkE(LitI{std::move(n)});
      return a.result();
    }
  }
  // 4: an identifier
  if (!fast || isIdentStart(c)) {
    std::string name;
    if (a.decided(identTokenY(st, name))) {
      if (isOk(a.result())) out = mkE(VarE{std::move(name)});
      return a.result();
    }
  }
  // 5: a parenthesised form
  if (!fast && a.decided(parensY(st, out, compoundExpY))) return a.result();
  return a.fail();
}

Out compoundExpY(State& st, ExpYP& out) {
  // The "(" token skipped the whitespace in front, so the keyword starts here.
  const bool fast = !st.track;
  const unsigned char c = st.atEnd() ? 0 : st.peek();
  Alt a(st);
  for (const FormKey& k : kForms) {
    if (fast && static_cast<unsigned char>(k.keyword[0]) != c) continue;
    if (a.decided(formY(st, k, out))) return a.result();
  }
  if (a.decided(applicationY(st, out))) return a.result();
  return a.fail();
}

Out letBindingY(State& st, LetBinding& out) {
  Seq s(st);
  if (!s(identTokenY, out.first.first)) return s.fail();
  // an optional "::" and type
  {
    Input start = st.in;
    Out k = backtrackFrom(st, keywordTok(st, "::", false), start);
    if (k == Out::EmptyErr) {
      s.step(Out::EmptyOk);
    } else {
      Seq t(st);
      t.step(k);
      TypYP ty;
      if (!t(letTypeY, ty)) {
        s.step(t.fail());
        return s.fail();
      }
      s.step(t.ok());
      out.first.second = std::move(ty);
    }
  }
  if (!s(expY, out.second)) return s.fail();
  return s.ok();
}

Out updateIxY(State& st, UpdateIx& out) {
  Alt a(st);
  std::vector<ExpYP> args;
  auto list = [](State& s2, std::vector<ExpYP>& v) -> Out { return repeat(s2, v, 0, expY); };
  if (a.decided(parensY(st, args, list))) {
    if (isOk(a.result())) out = FunIx{std::move(args)};
    return a.result();
  }
  mpz_class n;
  if (a.decided(integerTokenY(st, n))) {
    if (isOk(a.result())) out = TupIx{std::move(n)};
    return a.result();
  }
  std::string name;
  if (a.decided(identTokenY(st, name))) {
    if (isOk(a.result())) out = RecIx{std::move(name)};
    return a.result();
  }
  return a.fail();
}

Out recFieldY(State& st, std::pair<std::string, ExpYP>& out) {
  Seq s(st);
  if (!s(identTokenY, out.first) || !s.step(keywordY(st, "::")) || !s(expY, out.second)) return s.fail();
  return s.ok();
}

// ---- types ----

Out typY(State& st, TypYP& out) {
  parsing::DepthGuard guard(st);
  std::string name;
  Out o;
  {
    Seq s(st);
    if (s(identTokenY, name)) {
      Input start = st.in;
      Out k = backtrackFrom(st, keywordTok(st, "::", false), start);
      if (k == Out::EmptyErr) {
        s.step(Out::EmptyOk);
        out = mkT(VarT{std::move(name)});
        return s.ok();
      }
      s.step(k);
      TypYP inner;
      if (!s(letTypeY, inner)) return s.fail();
      out = mkT(DEP{IdTyp{std::move(name), std::move(inner)}});
      return s.ok();
    }
    o = s.fail();
  }
  Alt a(st);
  if (a.decided(o)) return a.result();
  if (a.decided(parensY(st, out, typFormY))) return a.result();
  return a.fail();
}

Out typFormY(State& st, TypYP& out) {
  parsing::DepthGuard guard(st);
  const bool fast = !st.track;
  const unsigned char c = st.atEnd() ? 0 : st.peek();
  Alt a(st);
  for (const TFormKey& k : kTypeForms) {
    if (fast && static_cast<unsigned char>(k.keyword[0]) != c) continue;
    Seq s(st);
    Out o = s.step(keywordY(st, k.keyword)) && s.step(typFormBodyY(st, k.form, out)) ? s.ok() : s.fail();
    if (a.decided(o)) return a.result();
  }
  return a.fail();
}

Out idTypY(State& st, IdTyp& out) {
  Seq s(st);
  if (!s(identTokenY, out.first) || !s.step(keywordY(st, "::")) || !s(typY, out.second)) return s.fail();
  return s.ok();
}

// ---- commands ----

Out stringY(State& st, std::string& out) {
  Seq s(st);
  Out o = charY(st, '"');
  if (o == Out::EmptyErr) return labelOutcome(st, o, "literal string");
  s.step(o);
  bool any = false;
  for (;;) {
    Out c = stringCharY(st, out);
    if (c == Out::EmptyErr) {
      s.step(any ? Out::ConsumedOk : Out::EmptyOk);
      break;
    }
    if (!s.step(c)) return s.fail();
    any = true;
  }
  if (!s.step(labelOutcome(st, charY(st, '"'), "end of string"))) return s.fail();
  quietSpace(st, s);
  return s.ok();
}

Out cmdY(State& st, CmdY& out) { return parensY(st, out, cmdBodyY); }

}  // namespace grammar

// ---- entry points ----

namespace {

template <class P>
auto runOrFail(P&& p, std::string_view source, std::string_view text) {
  auto r = parsing::runParser(std::forward<P>(p), source, text);
  if (!r.ok) fatal(parsing::showParseFailure(r.failure));
  return std::move(r.value);
}

}  // namespace

std::vector<ExpYP> parseExpYs(std::string_view text) {
  auto p = [](grammar::State& st, std::vector<ExpYP>& v) -> grammar::Out {
    return grammar::repeat(st, v, 0, grammar::expY);
  };
  return runOrFail(p, "parseExpYs", text);
}

ExpYP parseExpY(std::string_view text) { return runOrFail(grammar::expY, "parseExpY", text); }
TypYP parseTypY(std::string_view text) { return runOrFail(grammar::typY, "parseTypY", text); }
CmdY parseCmdY(std::string_view text) { return runOrFail(grammar::cmdY, "parseCmdY", text); }

}  // namespace vorlax::yices
