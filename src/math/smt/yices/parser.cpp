// The reply grammar: tokens, expressions, types and commands over the shared engine.
//
// Every rule is a parser `Out rule(State&, T&)`. Error records are built only when the
// state tracks errors (the engine's second, failure-only pass); the first pass only steers
// by outcomes, so the rules may skip alternatives that cannot start at the current
// character when they do not track.
#include "math/smt/yices/parser.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
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

// The value of an integer token: the digits [b, e), negated when neg.
mpz_class integerValue(bool neg, const char* b, const char* e) {
  mpz_class z = digitsValue(b, e);
  if (neg) z = -z;
  return z;
}

// The value of a fraction token: the numerator digits [b, e), the denominator digits
// [b2, e2), negated when neg; reduced, except that the denominator 0 is kept.
Ratio fractionValue(bool neg, const char* b, const char* e, const char* b2, const char* e2) {
  if (e - b <= kWordDigits && e2 - b2 <= kWordDigits) {
    // the common small fraction, reduced in machine words
    unsigned long n = wordValue(b, e), d = wordValue(b2, e2);
    if (d != 0) {
      unsigned long g = std::gcd(n, d);
      mpz_class num(n / g);
      if (neg) num = -num;
      return Ratio{std::move(num), mpz_class(d / g)};
    }
  }
  return Ratio::make(integerValue(neg, b, e), digitsValue(b2, e2));
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

// The node of a binary operator form, the left operand first: make(the operator's value).
template <class Make>
ExpYP binaryExp(Form f, ExpYP a, ExpYP b, Make make) {
  switch (f) {
    case Form::Implies: return make(IMPLIES{std::move(a), std::move(b)});
    case Form::Eq: return make(EQ{std::move(a), std::move(b)});
    case Form::Neq: return make(NEQ{std::move(a), std::move(b)});
    case Form::Lt: return make(LT{std::move(a), std::move(b)});
    case Form::Le: return make(LE{std::move(a), std::move(b)});
    case Form::Gt: return make(GT{std::move(a), std::move(b)});
    case Form::Ge: return make(GE{std::move(a), std::move(b)});
    case Form::Plus: return make(PLUS{std::move(a), std::move(b)});
    case Form::Minus: return make(MINUS{std::move(a), std::move(b)});
    case Form::Times: return make(TIMES{std::move(a), std::move(b)});
    case Form::Divide: return make(DIVIDE{std::move(a), std::move(b)});
    case Form::Div: return make(DIV{std::move(a), std::move(b)});
    default: return make(MOD{std::move(a), std::move(b)});
  }
}

// Exactly n expressions.
Out expsY(State& st, ExpYP* es, int n) {
  Seq s(st);
  for (int i = 0; i < n; ++i)
    if (!s(expY, es[i])) return s.fail();
  return s.ok();
}

// The bodies of the forms. Each is a function of its own, kept out of line: a deeply nested
// expression then holds on the stack, at each level, the frame of the form being read
// rather than the locals of all of them (which counts where frames are large, as under the
// address sanitizer).

// and, or: one or more expressions; mk-tuple: two or more.
[[gnu::noinline]] Out listFormY(State& st, Form f, ExpYP& out) {
  std::vector<ExpYP> items;
  Out o = repeat(st, items, f == Form::MkTuple ? 2 : 1, expY);
  if (!isOk(o)) return o;
  if (f == Form::And) out = mkE(AND{std::move(items)});
  else if (f == Form::Or) out = mkE(OR{std::move(items)});
  else out = mkE(MKTUP{std::move(items)});
  return o;
}

// not: one expression; if, ite: three; the binary operators: two.
[[gnu::noinline]] Out fixedFormY(State& st, Form f, ExpYP& out) {
  ExpYP e[3];
  const int n = f == Form::Not ? 1 : f == Form::If || f == Form::Ite ? 3 : 2;
  Out o = expsY(st, e, n);
  if (!isOk(o)) return o;
  if (f == Form::Not) out = mkE(NOT{std::move(e[0])});
  else if (f == Form::If) out = mkE(IF{std::move(e[0]), std::move(e[1]), std::move(e[2])});
  else if (f == Form::Ite) out = mkE(ITE{std::move(e[0]), std::move(e[1]), std::move(e[2])});
  else out = binaryExp(f, std::move(e[0]), std::move(e[1]), [](auto v) { return mkE(std::move(v)); });
  return o;
}

[[gnu::noinline]] Out letFormY(State& st, ExpYP& out) {
  Seq s(st);
  std::vector<LetBinding> bs;
  ExpYP body;
  auto list = [](State& s2, std::vector<LetBinding>& v) -> Out { return repeat(s2, v, 1, letBindingY); };
  if (!s.step(parensY(st, bs, list)) || !s(expY, body)) return s.fail();
  out = mkE(LET{std::move(bs), std::move(body)});
  return s.ok();
}

// forall, exists, lambda: "(" binders ")" then the body.
[[gnu::noinline]] Out binderFormY(State& st, Form f, ExpYP& out) {
  Seq s(st);
  std::vector<IdTyp> vs;
  ExpYP body;
  auto list = [](State& s2, std::vector<IdTyp>& v) -> Out { return repeat(s2, v, 1, idTypY); };
  if (!s.step(parensY(st, vs, list)) || !s(expY, body)) return s.fail();
  if (f == Form::Forall) out = mkE(FORALL{std::move(vs), std::move(body)});
  else if (f == Form::Exists) out = mkE(EXISTS{std::move(vs), std::move(body)});
  else out = mkE(LAMBDA{std::move(vs), std::move(body)});
  return s.ok();
}

[[gnu::noinline]] Out mkRecordFormY(State& st, ExpYP& out) {
  std::vector<std::pair<std::string, ExpYP>> fields;
  Out o = repeat(st, fields, 1, recFieldY);
  if (isOk(o)) out = mkE(MKREC{std::move(fields)});
  return o;
}

[[gnu::noinline]] Out updateFormY(State& st, ExpYP& out) {
  Seq s(st);
  ExpYP x, v;
  UpdateIx ix;
  if (!s(expY, x) || !s(updateIxY, ix) || !s(expY, v)) return s.fail();
  if (auto* fi = std::get_if<FunIx>(&ix)) out = mkE(UPDATE_F{std::move(x), std::move(fi->args), std::move(v)});
  else if (auto* ti = std::get_if<TupIx>(&ix)) out = mkE(UPDATE_T{std::move(x), std::move(ti->index), std::move(v)});
  else out = mkE(UPDATE_R{std::move(x), std::move(std::get<RecIx>(ix).field), std::move(v)});
  return s.ok();
}

[[gnu::noinline]] Out selectFormY(State& st, ExpYP& out) {
  Seq s(st);
  ExpYP x;
  if (!s(expY, x)) return s.fail();
  // the index: an integer, else a field name
  mpz_class n;
  std::string name;
  Alt a(st);
  bool tuple = a.decided(integerTokenY(st, n));
  Out io = tuple ? a.result() : a.decided(identTokenY(st, name)) ? a.result() : a.fail();
  if (!s.step(io)) return s.fail();
  out = tuple ? mkE(SELECT_T{std::move(x), std::move(n)}) : mkE(SELECT_R{std::move(x), std::move(name)});
  return s.ok();
}

// The operands of a form after its keyword, and the expression built from them.
Out formBodyY(State& st, Form f, ExpYP& out) {
  switch (f) {
    case Form::And:
    case Form::Or:
    case Form::MkTuple: return listFormY(st, f, out);
    case Form::Let: return letFormY(st, out);
    case Form::Forall:
    case Form::Exists:
    case Form::Lambda: return binderFormY(st, f, out);
    case Form::MkRecord: return mkRecordFormY(st, out);
    case Form::Update: return updateFormY(st, out);
    case Form::Select: return selectFormY(st, out);
    default: return fixedFormY(st, f, out);  // not, if, ite and the binary operators
  }
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

// The bodies of the type forms, each out of line like those of the expression forms.
[[gnu::noinline]] Out subtypeFormY(State& st, TypYP& out) {
  Seq s(st);
  IdTyp b;
  ExpYP pred;
  if (!s.step(parensY(st, b, idTypY)) || !s(expY, pred)) return s.fail();
  out = mkT(SUBTYPE{std::move(b), std::move(pred)});
  return s.ok();
}

[[gnu::noinline]] Out subrangeFormY(State& st, TypYP& out) {
  Seq s(st);
  ExpYP lo, hi;
  if (!s(expY, lo) || !s(expY, hi)) return s.fail();
  out = mkT(SUBRANGE{std::move(lo), std::move(hi)});
  return s.ok();
}

// "->" and "tuple": two or more types.
[[gnu::noinline]] Out typesFormY(State& st, TForm f, TypYP& out) {
  std::vector<TypYP> ts;
  Out o = repeat(st, ts, 2, typY);
  if (isOk(o)) out = f == TForm::Arrow ? mkT(ARR{std::move(ts)}) : mkT(TUP{std::move(ts)});
  return o;
}

[[gnu::noinline]] Out recordFormY(State& st, TypYP& out) {
  std::vector<IdTyp> fs;
  Out o = repeat(st, fs, 1, idTypY);
  if (isOk(o)) out = mkT(REC{std::move(fs)});
  return o;
}

[[gnu::noinline]] Out datatypeFormY(State& st, TypYP& out) {
  std::vector<Ctor> cs;
  Out o = repeat(st, cs, 1, ctorY);
  if (isOk(o)) out = mkT(DATATYPE{std::move(cs)});
  return o;
}

[[gnu::noinline]] Out scalarFormY(State& st, TypYP& out) {
  std::vector<std::string> ns;
  Out o = repeat(st, ns, 1, identTokenY);
  if (isOk(o)) out = mkT(SCALAR{std::move(ns)});
  return o;
}

Out typFormBodyY(State& st, TForm f, TypYP& out) {
  switch (f) {
    case TForm::Subtype: return subtypeFormY(st, out);
    case TForm::Subrange: return subrangeFormY(st, out);
    case TForm::Arrow:
    case TForm::Tuple: return typesFormY(st, f, out);
    case TForm::Record: return recordFormY(st, out);
    case TForm::Datatype: return datatypeFormY(st, out);
    default: return scalarFormY(st, out);
  }
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
  out = integerValue(neg, b, e);
  return s.ok();
}

Out rationalY(State& st, Ratio& out) {
  Seq s(st);
  bool neg = false;
  const char *b = nullptr, *e = nullptr, *b2 = nullptr, *e2 = nullptr;
  if (!signedDigits(st, s, neg, b, e)) return s.fail();
  if (!s.step(charY(st, '/')) || !s.step(many1Class(st, isDigitY, "digit", b2, e2))) return s.fail();
  out = fractionValue(neg, b, e, b2, e2);
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

// ---- the direct reader ----
//
// A model is read once per check, and nearly always it is read without error. The direct
// reader reads it by plain recursive descent: no parse positions, no outcomes, no error
// records. It covers the literals, the names and every form whose operands are expressions;
// it gives up (returns false) at a form that holds types (let, forall, exists, lambda), at
// the first sign of a parse error, and past kDirectDepth levels of nesting. Where it
// succeeds, the grammar above builds the same value from the same text and stops at the
// same place; where it gives up, the caller runs the grammar, which builds the value or
// the exact parse error.
//
// It leans on three facts of the grammar. Every token skips the whitespace after it, so
// past the first token no token starts on whitespace. At a character that is not
// whitespace, expY fails without consuming input exactly when the character cannot start
// an expression (startsExpression), and otherwise it either succeeds or fails after
// consuming input; so a repetition of expressions stops exactly where the next character
// cannot start one. And a keyword form is committed once its keyword has matched, except
// for "=>", "<" and ">", whose bodies are given up for the next form as in compoundExpY.
namespace {

// Far below the nesting the grammar admits, so that giving up on depth never hides a
// value the grammar would read; the grammar then reads it or reports the nesting itself.
constexpr int kDirectDepth = 200;

// For each character, the first form whose keyword begins with it (none: the number of forms).
constexpr std::array<std::uint8_t, 256> kFirstForm = [] {
  std::array<std::uint8_t, 256> t{};
  t.fill(static_cast<std::uint8_t>(std::size(kForms)));
  for (std::size_t i = std::size(kForms); i-- > 0;)
    t[static_cast<unsigned char>(kForms[i].keyword[0])] = static_cast<std::uint8_t>(i);
  return t;
}();

bool startsExpression(unsigned char c) { return c == '(' || c == '-' || isDigitY(c) || isIdentStart(c); }

// The number of line ends in [b, e), counted eight bytes at a time: a byte of the word
// x = w ^ "\n\n\n\n\n\n\n\n" is zero exactly at a line end, and such a byte alone keeps its
// top bit clear in ((x & 0x7f..) + 0x7f..) | x; the multiplication adds up the marks.
std::size_t lineEnds(const char* b, const char* e) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kLow7 = 0x7f7f7f7f7f7f7f7full;
  std::size_t n = 0;
  for (; e - b >= 8; b += 8) {
    std::uint64_t w;
    std::memcpy(&w, b, 8);
    const std::uint64_t x = w ^ (kOnes * '\n');
    const std::uint64_t marks = (~(((x & kLow7) + kLow7) | x) & ~kLow7) >> 7;  // 1 per line end
    n += static_cast<std::size_t>((marks * kOnes) >> 56);
  }
  for (; b != e; ++b) n += *b == '\n';
  return n;
}

// The nodes of one reading are carved from large blocks instead of being allocated one by
// one: a model holds hundreds of thousands of small nodes, built together and dropped
// together. A block is aligned to its size, so that a node finds its block from its own
// address; the block counts its nodes that are still alive, plus one while the reader
// still carves from it, and the last of them gives it back. The count is atomic because a
// tree may be dropped on another thread than the one that read it.
constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

// Blocks given back, kept for the next reading up to a bound. Memory that the system hands
// out afresh costs a page fault for every 4 KB written, about a third of the time of a
// reading that fills it; a model is read at every check, so the next reading mostly writes
// memory that is already in place. The bound, 128 MB, is what the trees of a model of about
// 10 MB take; blocks beyond it go back to the C library.
class BlockPool {
 public:
  // Never destroyed: a tree may still be dropped while the program exits.
  static BlockPool& instance() {
    static BlockPool* pool = new BlockPool;
    return *pool;
  }
  // A block of kBlockBytes aligned to its size: a kept one, else a fresh one.
  void* take() {
    {
      std::lock_guard<std::mutex> lock(m_);
      if (!free_.empty()) {
        void* b = free_.back();
        free_.pop_back();
        return b;
      }
    }
    void* b = std::aligned_alloc(kBlockBytes, kBlockBytes);
    if (!b) throw std::bad_alloc();
#ifdef MADV_POPULATE_WRITE
    // Fresh pages of the block faulted in by one call rather than by a fault each as the
    // nodes are written; a kernel without it refuses, and the faults come one by one.
    madvise(b, kBlockBytes, MADV_POPULATE_WRITE);
#endif
    return b;
  }
  void give(void* b) noexcept {
    {
      std::lock_guard<std::mutex> lock(m_);
      if (free_.size() < kKeptBlocks) {
        free_.push_back(b);  // within the capacity reserved below: never allocates
        return;
      }
    }
    std::free(b);
  }
  // Hands every kept block back to the C library.
  void drop() noexcept {
    std::lock_guard<std::mutex> lock(m_);
    for (void* b : free_) std::free(b);
    free_.clear();
  }

 private:
  static constexpr std::size_t kKeptBlocks = 2048;
  BlockPool() { free_.reserve(kKeptBlocks); }
  std::mutex m_;
  std::vector<void*> free_;
};

class NodeBlocks {
 public:
  // The blocks of the reading under way on this thread, from which its nodes are carved.
  static NodeBlocks& current() { return *current_; }

  NodeBlocks() : outer_(current_) { current_ = this; }
  NodeBlocks(const NodeBlocks&) = delete;
  NodeBlocks& operator=(const NodeBlocks&) = delete;
  ~NodeBlocks() {
    current_ = outer_;
    if (cur_) release(cur_);
  }

  void* allocate(std::size_t bytes) {
    bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
    if (bytes > kBlockBytes - kHeader) throw std::bad_alloc();
    if (!cur_ || static_cast<std::size_t>(end_ - next_) < bytes) fresh();
    void* p = next_;
    next_ += bytes;
    // No other thread holds a node of the current block before the reading has returned,
    // so the count needs no atomic increment here.
    cur_->live.store(cur_->live.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return p;
  }
  static void deallocate(void* p) noexcept {
    release(reinterpret_cast<Block*>(reinterpret_cast<std::uintptr_t>(p) & ~(kBlockBytes - 1)));
  }

 private:
  struct Block {
    std::atomic<std::size_t> live{1};
  };
  // Nodes need no more than the alignment of a pointer or a GMP number.
  static constexpr std::size_t kAlign = alignof(ExpY);
  static constexpr std::size_t kHeader = (sizeof(Block) + kAlign - 1) & ~(kAlign - 1);

  static void release(Block* b) noexcept {
    if (b->live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      b->~Block();
      BlockPool::instance().give(b);
    }
  }
  void fresh() {
    void* m = BlockPool::instance().take();
    if (cur_) release(cur_);
    cur_ = new (m) Block;
    next_ = static_cast<char*>(m) + kHeader;
    end_ = static_cast<char*>(m) + kBlockBytes;
  }

  static thread_local NodeBlocks* current_;
  NodeBlocks* outer_;
  Block* cur_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
};
thread_local NodeBlocks* NodeBlocks::current_ = nullptr;

// One alternative of a node's variant, handed to the allocator to be moved straight into
// the node it builds.
template <class T>
struct Alternative {
  T& value;
};

// The allocator through which a node's shared_ptr control block takes its memory from the
// blocks of the current reading. It holds nothing, so that the control block holds no copy
// of it; freeing needs only the node's address, so a node may outlive the reading.
template <class T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U>&) {}  // rebinding to the control block
  T* allocate(std::size_t n) {
    static_assert(alignof(T) <= alignof(ExpY), "the blocks align what they hold as an ExpY");
    return static_cast<T*>(NodeBlocks::current().allocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { NodeBlocks::deallocate(p); }
  // Builds the node from one alternative in place, rather than moving a whole variant
  // (a call through the variant's table of alternatives) into it.
  template <class A>
  void construct(ExpY* p, Alternative<A> a) {
    ::new (static_cast<void*>(p)) ExpY{ExpY::V(std::in_place_type<A>, std::move(a.value))};
  }
  template <class U>
  bool operator==(const BlockAllocator<U>&) const { return true; }
};

// Equality of two short texts, without a library call for each.
inline bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// The leaves of one reading, by their text. A model names the same functions, objects and
// small numbers over and over; a leaf is immutable, so one node serves every occurrence of
// its text. A small table of one leaf per slot, kept by the first text that takes the slot:
// a text that recurs is nearly always met early, and a full table is never rewritten, so
// the nodes of older leaves are not touched again. The keys point into the text being read.
class LeafCache {
 public:
  // A table in proportion to a text of textBytes bytes, within bounds.
  explicit LeafCache(std::size_t textBytes) {
    std::size_t n = kMinSlots;
    while (n < kMaxSlots && n * 16 < textBytes) n *= 2;
    slots_.resize(n);
  }

  // The leaf of text: the cached one, else the one that make() builds.
  template <class Make>
  ExpYP get(std::string_view text, Make make) {
    const std::uint64_t h = hash(text);
    Slot& s = slots_[h & (slots_.size() - 1)];
    if (!s.leaf) {
      s.hash = h;
      s.text = text;
      s.leaf = make();
    } else if (s.hash != h || !sameText(s.text, text)) {
      return make();
    }
    return s.leaf;
  }

 private:
  static constexpr std::size_t kMinSlots = 16;
  static constexpr std::size_t kMaxSlots = 4096;
  struct Slot {
    std::uint64_t hash = 0;  // of text: most texts that miss differ in it
    std::string_view text;
    ExpYP leaf;
  };
  std::vector<Slot> slots_;

  static std::uint64_t hash(std::string_view text) {  // FNV-1a: the texts are short
    std::uint64_t h = 14695981039346656037ull;
    for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h ^ (h >> 29);
  }
};

class DirectReader {
 public:
  explicit DirectReader(std::string_view text)
      : p_(text.data()), end_(text.data() + text.size()), leaves_(text.size()) {}

  // Zero or more expressions, as parseExpYs reads them.
  bool expressions(std::vector<ExpYP>& out) {
    if (leadingSpace()) return false;
    // A model holds one equation per line: room for them all at once, rather than for
    // each doubling of the list and the move of all before it. An equation takes at least
    // eight bytes, so blank lines never make the room larger than twice the text.
    const auto bytes = static_cast<std::size_t>(end_ - p_);
    out.reserve(std::min(lineEnds(p_, end_), bytes / 8) + 1);
    while (starts()) {
      ExpYP e;
      if (!expression(e)) return false;
      out.push_back(std::move(e));
    }
    return true;
  }
  // One expression, as parseExpY reads it.
  bool single(ExpYP& out) { return !leadingSpace() && starts() && expression(out); }

 private:
  const char* p_;
  const char* end_;
  int depth_ = 0;
  // Elements of the lists being read, innermost last; each list is moved out into a
  // vector of its exact size.
  std::vector<ExpYP> stack_;
  NodeBlocks blocks_;
  LeafCache leaves_;  // after blocks_: its leaves go before the blocks do

  template <class T>
  ExpYP node(T v) {
    return std::allocate_shared<ExpY>(BlockAllocator<ExpY>(), Alternative<T>{v});
  }

  // A text that begins with whitespace is read only in part (see expY); left to the grammar.
  bool leadingSpace() const { return p_ != end_ && isSpaceY(static_cast<unsigned char>(*p_)); }
  bool at(char c) const { return p_ != end_ && *p_ == c; }
  bool starts() const { return p_ != end_ && startsExpression(static_cast<unsigned char>(*p_)); }
  bool atIdentStart() const { return p_ != end_ && isIdentStart(static_cast<unsigned char>(*p_)); }
  bool atDigit() const { return p_ != end_ && isDigitY(static_cast<unsigned char>(*p_)); }
  void skipSpace() {
    while (p_ != end_ && isSpaceY(static_cast<unsigned char>(*p_))) ++p_;
  }
  // The closing parenthesis token.
  bool close() {
    if (!at(')')) return false;
    ++p_;
    skipSpace();
    return true;
  }

  // The characters of an identifier, no whitespace handling; at an identifier start.
  std::string_view identChars() {
    const char* b = p_;
    do ++p_;
    while (p_ != end_ && isIdentRest(static_cast<unsigned char>(*p_)));
    return {b, static_cast<std::size_t>(p_ - b)};
  }
  // An identifier token.
  bool name(std::string& out) {
    if (!atIdentStart()) return false;
    out.assign(identChars());
    skipSpace();
    return true;
  }
  // An optional "-" and digits, no whitespace handling; false without digits.
  bool signedDigits(bool& neg, const char*& b, const char*& e) {
    neg = at('-');
    if (neg) ++p_;
    b = p_;
    while (atDigit()) ++p_;
    e = p_;
    return b != e;
  }
  // An integer token.
  bool integer(mpz_class& out) {
    bool neg = false;
    const char *b = nullptr, *e = nullptr;
    if (!signedDigits(neg, b, e)) return false;
    out = integerValue(neg, b, e);
    skipSpace();
    return true;
  }

  bool expression(ExpYP& out) {
    const unsigned char c = static_cast<unsigned char>(*p_);
    if (c == '(') {
      if (depth_ == kDirectDepth) return false;
      ++p_;
      skipSpace();
      ++depth_;
      bool ok = compound(out) && close();
      --depth_;
      return ok;
    }
    if (isIdentStart(c)) {
      std::string_view w = identChars();
      out = leaves_.get(w, [&] {
        return w == "true" || w == "false" ? node(LitB{w == "true"}) : node(VarE{std::string(w)});
      });
      skipSpace();
      return true;
    }
    // a fraction, else an integer: "n/" without a digit after it is the integer n
    const char* start = p_;
    bool neg = false;
    const char *b = nullptr, *e = nullptr;
    if (!signedDigits(neg, b, e)) return false;
    if (at('/') && p_ + 1 != end_ && isDigitY(static_cast<unsigned char>(p_[1]))) {
      const char* b2 = ++p_;
      while (atDigit()) ++p_;
      out = leaves_.get(text(start), [&] { return node(LitR{fractionValue(neg, b, e, b2, p_)}); });
    } else {
      out = leaves_.get(text(start), [&] { return node(LitI{integerValue(neg, b, e)}); });
    }
    skipSpace();
    return true;
  }
  // The text from start to the reader's position.
  std::string_view text(const char* start) const { return {start, static_cast<std::size_t>(p_ - start)}; }

  // Expressions for as long as one starts, at least min of them.
  bool list(std::vector<ExpYP>& out, std::size_t min) {
    const std::size_t base = stack_.size();
    bool ok = true;
    while (ok && starts()) {
      ExpYP e;  // read aside: the reading may grow the stack
      ok = expression(e);
      stack_.push_back(std::move(e));
    }
    ok = ok && stack_.size() - base >= min;
    if (ok) out.assign(std::make_move_iterator(stack_.begin() + static_cast<std::ptrdiff_t>(base)),
                       std::make_move_iterator(stack_.end()));
    stack_.resize(base);
    return ok;
  }
  // Exactly n expressions.
  bool exactly(ExpYP* es, int n) {
    for (int i = 0; i < n; ++i)
      if (!starts() || !expression(es[i])) return false;
    return true;
  }

  // The text w at the reader's position, as the keyword of a form: for a word keyword,
  // not followed by a character that continues a name.
  bool keywordAt(const FormKey& k) const {
    const std::size_t n = k.keyword.size();
    if (static_cast<std::size_t>(end_ - p_) < n || !sameText(std::string_view(p_, n), k.keyword)) return false;
    return !k.word || p_ + n == end_ || !isIdentRest(static_cast<unsigned char>(p_[n]));
  }

  // What stands between the parentheses, as compoundExpY.
  bool compound(ExpYP& out) {
    if (p_ == end_) return false;
    const unsigned char c = static_cast<unsigned char>(*p_);
    for (std::size_t i = kFirstForm[c]; i < std::size(kForms); ++i) {
      const FormKey& k = kForms[i];
      if (static_cast<unsigned char>(k.keyword[0]) != c || !keywordAt(k)) continue;
      const char* start = p_;
      p_ += k.keyword.size();
      skipSpace();
      if (body(k.form, out)) return true;
      if (!k.backtrack) return false;
      p_ = start;
    }
    ExpYP fn;
    std::vector<ExpYP> args;
    if (!starts() || !expression(fn) || !list(args, 1)) return false;
    out = node(APP{std::move(fn), std::move(args)});
    return true;
  }

  // The operands of a form after its keyword, and the expression built from them.
  bool body(Form f, ExpYP& out) {
    ExpYP e[3];
    switch (f) {
      case Form::And:
      case Form::Or: {
        std::vector<ExpYP> args;
        if (!list(args, 1)) return false;
        out = f == Form::And ? node(AND{std::move(args)}) : node(OR{std::move(args)});
        return true;
      }
      case Form::Not:
        if (!exactly(e, 1)) return false;
        out = node(NOT{std::move(e[0])});
        return true;
      case Form::If:
      case Form::Ite:
        if (!exactly(e, 3)) return false;
        out = f == Form::If ? node(IF{std::move(e[0]), std::move(e[1]), std::move(e[2])})
                            : node(ITE{std::move(e[0]), std::move(e[1]), std::move(e[2])});
        return true;
      case Form::Let:
      case Form::Forall:
      case Form::Exists:
      case Form::Lambda:
        return false;  // their binders hold types
      case Form::MkTuple: {
        std::vector<ExpYP> items;
        if (!list(items, 2)) return false;
        out = node(MKTUP{std::move(items)});
        return true;
      }
      case Form::MkRecord: {
        std::vector<std::pair<std::string, ExpYP>> fields;
        do {
          std::pair<std::string, ExpYP> fld;
          if (!name(fld.first) || !at(':') || p_ + 1 == end_ || p_[1] != ':') return false;
          p_ += 2;
          skipSpace();
          if (!exactly(&fld.second, 1)) return false;
          fields.push_back(std::move(fld));
        } while (atIdentStart());
        out = node(MKREC{std::move(fields)});
        return true;
      }
      case Form::Update:
        return update(out);
      case Form::Select: {
        if (!exactly(e, 1)) return false;
        if (at('-') || atDigit()) {
          mpz_class n;
          if (!integer(n)) return false;
          out = node(SELECT_T{std::move(e[0]), std::move(n)});
          return true;
        }
        std::string field;
        if (!name(field)) return false;
        out = node(SELECT_R{std::move(e[0]), std::move(field)});
        return true;
      }
      default:
        break;
    }
    // The eleven binary operators.
    if (!exactly(e, 2)) return false;
    out = binaryExp(f, std::move(e[0]), std::move(e[1]), [this](auto v) { return node(std::move(v)); });
    return true;
  }

  // The update form: the updated expression, the index (an argument list, a tuple
  // position or a field name, as updateIxY) and the new value.
  bool update(ExpYP& out) {
    ExpYP x, v;
    if (!exactly(&x, 1)) return false;
    if (at('(')) {
      ++p_;
      skipSpace();
      std::vector<ExpYP> args;
      if (!list(args, 0) || !close() || !exactly(&v, 1)) return false;
      out = node(UPDATE_F{std::move(x), std::move(args), std::move(v)});
    } else if (at('-') || atDigit()) {
      mpz_class n;
      if (!integer(n) || !exactly(&v, 1)) return false;
      out = node(UPDATE_T{std::move(x), std::move(n), std::move(v)});
    } else {
      std::string field;
      if (!name(field) || !exactly(&v, 1)) return false;
      out = node(UPDATE_R{std::move(x), std::move(field), std::move(v)});
    }
    return true;
  }
};

}  // namespace

std::optional<std::vector<ExpYP>> readExpYsDirect(std::string_view text) {
  std::vector<ExpYP> es;
  if (!DirectReader(text).expressions(es)) return std::nullopt;
  return es;
}

std::optional<ExpYP> readExpYDirect(std::string_view text) {
  ExpYP e;
  if (!DirectReader(text).single(e)) return std::nullopt;
  return e;
}

void releaseKeptNodeMemory() { BlockPool::instance().drop(); }


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
  if (auto es = grammar::readExpYsDirect(text)) return std::move(*es);
  return grammar::parseExpYsByGrammar(text);
}

ExpYP parseExpY(std::string_view text) {
  if (auto e = grammar::readExpYDirect(text)) return std::move(*e);
  return grammar::parseExpYByGrammar(text);
}

namespace grammar {

std::vector<ExpYP> parseExpYsByGrammar(std::string_view text) {
  auto p = [](State& st, std::vector<ExpYP>& v) -> Out { return repeat(st, v, 0, expY); };
  return runOrFail(p, "parseExpYs", text);
}

ExpYP parseExpYByGrammar(std::string_view text) { return runOrFail(expY, "parseExpY", text); }

}  // namespace grammar

TypYP parseTypY(std::string_view text) { return runOrFail(grammar::typY, "parseTypY", text); }
CmdY parseCmdY(std::string_view text) { return runOrFail(grammar::cmdY, "parseCmdY", text); }

}  // namespace vorlax::yices
