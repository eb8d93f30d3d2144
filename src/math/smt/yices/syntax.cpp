#include "math/smt/yices/syntax.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

#include "fatal.hpp"

namespace vorlax::yices {

namespace {

// The printers append to a text; the stream forms below hand it on.
inline void put(std::string& os, std::string_view s) { os.append(s); }
inline void put(std::string& os, char c) { os.push_back(c); }

void putInt(std::string& os, const mpz_class& z) {
  if (z.fits_slong_p()) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, z.get_si());
    os.append(buf, r.ptr);
    return;
  }
  std::size_t at = os.size();
  os.resize(at + mpz_sizeinbase(z.get_mpz_t(), 10) + 2);
  mpz_get_str(os.data() + at, 10, z.get_mpz_t());
  os.resize(at + std::char_traits<char>::length(os.data() + at));
}

[[noreturn]] void failZeroDenominator() { fatal("Ratio.%: zero denominator"); }

// A child that a builder left empty; no builder of the system does this.
template <class P>
const auto& deref(const P& p) {
  if (!p) fatal("solver text: a missing subexpression or subtype");
  return *p;
}

void expOf(std::string& os, const ExpYP& e) { appendExpY(os, deref(e)); }
void typOf(std::string& os, const TypYP& t) { appendTypY(os, deref(t)); }

const char* const kBinKeywords[13] = {"=> ", "= ", "/= ", "< ", "<= ", "> ", ">= ",
                                      "+ ",  "- ", "* ",  "/ ", "div ", "mod "};

const char* const kControlNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "a",  "b",  "t",  "n",
    "v",   "f",   "r",   "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

void idTyp(std::string& os, const IdTyp& b) {
  put(os, b.first);
  put(os, "::");
  typOf(os, b.second);
}
void fieldOf(std::string& os, const std::pair<std::string, ExpYP>& f) {
  put(os, f.first);
  put(os, "::");
  expOf(os, f.second);
}
void binding(std::string& os, const LetBinding& b) {
  put(os, '(');
  put(os, b.first.first);
  if (b.first.second) {
    put(os, "::");
    typOf(os, *b.first.second);
  }
  put(os, ' ');
  expOf(os, b.second);
  put(os, ')');
}
void idTypList(std::string& os, const std::vector<IdTyp>& bs) {
  showListSepByWith(os, " ", bs, idTyp);
}
void ctorDef(std::string& os, const std::pair<std::string, std::vector<IdTyp>>& ctor) {
  if (ctor.second.empty()) {
    put(os, ctor.first);
    return;
  }
  put(os, '(');
  put(os, ctor.first);
  put(os, ' ');
  idTypList(os, ctor.second);
  put(os, ')');
}
void expList(std::string& os, const std::vector<ExpYP>& es) {
  showListSepByWith(os, " ", es, expOf);
}
void typList(std::string& os, const std::vector<TypYP>& ts) {
  showListSepByWith(os, " ", ts, typOf);
}
void stringsSepBy(std::string& os, const std::string& sep, const std::vector<std::string>& names) {
  showListSepByWith(os, sep, names, [](std::string& o, const std::string& n) { put(o, n); });
}
template <class T, class F>
void bracketList(std::string& os, const std::vector<T>& items, F show) {
  put(os, '[');
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) put(os, ',');
    show(os, items[i]);
  }
  put(os, ']');
}
void stringLit(std::string& os, const std::string& s);

struct ExpPrinter {
  std::string& os;

  void operator()(const VarE& x) const { put(os, x.name); }
  void operator()(const LitB& x) const { put(os, x.value ? "true" : "false"); }
  void operator()(const LitI& x) const { putInt(os, x.value); }
  void operator()(const LitR& x) const {
    if (x.value.zeroDenominator()) failZeroDenominator();
    putInt(os, x.value.num);
    put(os, '/');
    putInt(os, x.value.den);
  }
  void operator()(const AND& x) const {
    put(os, "(and ");
    expList(os, x.args);
    put(os, ')');
  }
  void operator()(const OR& x) const {
    put(os, "(or ");
    expList(os, x.args);
    put(os, ')');
  }
  void operator()(const NOT& x) const {
    put(os, "(not ");
    expOf(os, x.arg);
    put(os, ')');
  }
  template <int Tag>
  void operator()(const BinY<Tag>& x) const {
    static_assert(Tag >= 7 && Tag <= 19);
    put(os, '(');
    put(os, kBinKeywords[Tag - 7]);
    expOf(os, x.left);
    put(os, ' ');
    expOf(os, x.right);
    put(os, ')');
  }
  void cond(const char* kw, const ExpYP& c, const ExpYP& t, const ExpYP& e) const {
    put(os, kw);
    expOf(os, c);
    put(os, ' ');
    expOf(os, t);
    put(os, ' ');
    expOf(os, e);
    put(os, ')');
  }
  void operator()(const IF& x) const { cond("(if ", x.cond, x.then_, x.else_); }
  void operator()(const ITE& x) const { cond("(ite ", x.cond, x.then_, x.else_); }
  void operator()(const LET& x) const {
    put(os, "(let (");
    showListSepByWith(os, " ", x.bindings, binding);
    put(os, ") ");
    expOf(os, x.body);
    put(os, ')');
  }
  void quant(const char* kw, const std::vector<IdTyp>& vars, const ExpYP& body) const {
    put(os, kw);
    idTypList(os, vars);
    put(os, ") ");
    expOf(os, body);
    put(os, ')');
  }
  void operator()(const FORALL& x) const { quant("(forall (", x.vars, x.body); }
  void operator()(const EXISTS& x) const { quant("(exists (", x.vars, x.body); }
  void operator()(const APP& x) const {
    put(os, '(');
    expOf(os, x.fn);
    for (const ExpYP& a : x.args) {
      put(os, ' ');
      expOf(os, a);
    }
    put(os, ')');
  }
  void operator()(const UPDATE_F& x) const {
    put(os, "(update ");
    expOf(os, x.fn);
    put(os, " (");
    expList(os, x.args);
    put(os, ')');
    expOf(os, x.value);
    put(os, ')');
  }
  void operator()(const LAMBDA& x) const {
    put(os, "(lambda (");
    idTypList(os, x.params);
    put(os, ')');
    expOf(os, x.body);
    put(os, ')');
  }
  void operator()(const MKTUP& x) const {
    put(os, "(mk-tuple ");
    expList(os, x.items);
    put(os, ')');
  }
  void operator()(const SELECT_T& x) const {
    put(os, "(select ");
    expOf(os, x.tuple);
    put(os, ' ');
    putInt(os, x.index);
    put(os, ')');
  }
  void operator()(const UPDATE_T& x) const {
    put(os, "(update ");
    expOf(os, x.tuple);
    put(os, ' ');
    putInt(os, x.index);
    put(os, ' ');
    expOf(os, x.value);
    put(os, ')');
  }
  void operator()(const MKREC& x) const {
    put(os, "(mk-record ");
    showListSepByWith(os, " ", x.fields, fieldOf);
    put(os, ')');
  }
  void operator()(const SELECT_R& x) const {
    put(os, "(select ");
    expOf(os, x.record);
    put(os, ' ');
    put(os, x.field);
    put(os, ')');
  }
  void operator()(const UPDATE_R& x) const {
    put(os, "(update ");
    expOf(os, x.record);
    put(os, ' ');
    put(os, x.field);
    put(os, ' ');
    expOf(os, x.value);
    put(os, ')');
  }
};

struct TypPrinter {
  std::string& os;

  void operator()(const VarT& x) const { put(os, x.name); }
  void operator()(const SUBTYPE& x) const {
    put(os, "(subtype ");
    idTyp(os, x.binder);
    put(os, ' ');
    expOf(os, x.pred);
    put(os, ')');
  }
  void operator()(const SUBRANGE& x) const {
    put(os, "(subrange ");
    expOf(os, x.lo);
    put(os, ' ');
    expOf(os, x.hi);
    put(os, ')');
  }
  void operator()(const ARR& x) const {
    put(os, "(-> ");
    typList(os, x.types);
    put(os, ')');
  }
  void operator()(const TUP& x) const {
    put(os, "(tuple ");
    typList(os, x.types);
    put(os, ')');
  }
  void operator()(const REC& x) const {
    put(os, "(record ");
    idTypList(os, x.fields);
    put(os, ')');
  }
  void operator()(const DEP& x) const { idTyp(os, x.binder); }
  void operator()(const DATATYPE& x) const {
    put(os, "(datatype ");
    showListSepByWith(os, " ", x.ctors, ctorDef);
    put(os, ')');
  }
  void operator()(const SCALAR& x) const {
    put(os, "(scalar ");
    stringsSepBy(os, " ", x.names);
    put(os, ')');
  }
};

struct CmdPrinter {
  std::string& os;

  void operator()(const DEFTYP& x) const {
    put(os, "(define-type ");
    put(os, x.name);
    if (x.type) {
      put(os, ' ');
      typOf(os, *x.type);
    }
    put(os, ')');
  }
  void operator()(const DEFINE& x) const {
    put(os, "(define ");
    idTyp(os, x.binder);
    if (x.value) {
      put(os, ' ');
      expOf(os, *x.value);
    }
    put(os, ')');
  }
  void operator()(const ASSERT& x) const {
    put(os, "(assert ");
    expOf(os, x.expr);
    put(os, ')');
  }
  void operator()(const ASSERT_P& x) const {
    put(os, "(assert+ ");
    expOf(os, x.expr);
    if (x.weight) {
      put(os, ' ');
      putInt(os, *x.weight);
    }
    put(os, ')');
  }
  void operator()(const RETRACT& x) const {
    put(os, "(retract ");
    putInt(os, x.id);
    put(os, ')');
  }
  void operator()(const CHECK&) const { put(os, "(check)"); }
  void operator()(const MAXSAT&) const { put(os, "(max-sat)"); }
  void operator()(const SETE& x) const {
    put(os, x.on ? "(set-evidence! true)" : "(set-evidence! false)");
  }
  void operator()(const SETV& x) const {
    put(os, "(set-verbosity! ");
    putInt(os, x.level);
    put(os, ')');
  }
  void operator()(const SETAO& x) const {
    put(os, x.on ? "(set-arith-only! true)" : "(set-arith-only! false)");
  }
  void operator()(const PUSH&) const { put(os, "(push)"); }
  void operator()(const POP&) const { put(os, "(pop)"); }
  void operator()(const ECHO& x) const {
    put(os, "(echo ");
    stringLit(os, x.text);
    put(os, ')');
  }
  void operator()(const INCLUDE& x) const {
    put(os, "(include ");
    stringLit(os, x.file);
    put(os, ')');
  }
  void operator()(const RESET&) const { put(os, "(reset)"); }
  void operator()(const STATUS&) const { put(os, "(status)"); }
  void operator()(const DUMP&) const { put(os, "(dump-context)"); }
  void operator()(const EXIT&) const { put(os, "(exit)"); }
};

// Writes what `print` appends to a text into the stream; when the printer fails, the text
// in front of the failure is written before the failure goes on.
template <class F>
void toStream(std::ostream& os, F print) {
  std::string text;
  try {
    print(text);
  } catch (...) {
    os.write(text.data(), static_cast<std::streamsize>(text.size()));
    throw;
  }
  os.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

// ---- fractions ----

Ratio Ratio::make(const mpz_class& n, const mpz_class& d) {
  if (d == 0) return Ratio{n, d};
  mpz_class g;
  mpz_gcd(g.get_mpz_t(), n.get_mpz_t(), d.get_mpz_t());
  Ratio r{n / g, d / g};
  if (r.den < 0) {
    r.num = -r.num;
    r.den = -r.den;
  }
  return r;
}

Ratio Ratio::fromDouble(double x) {
  if (!std::isfinite(x)) fatal("Ratio.fromDouble: the value is not a finite number");
  mpq_class q(x);  // exact: every finite double is a dyadic fraction
  q.canonicalize();
  return Ratio{q.get_num(), q.get_den()};
}

mpq_class Ratio::value() const {
  if (zeroDenominator()) failZeroDenominator();
  mpq_class q(num, den);
  q.canonicalize();
  return q;
}

// ---- printers ----

[[noreturn]] void emptyListFailure() { fatal("Prelude.foldr1: empty list"); }

void appendExpY(std::string& out, const ExpY& e) { std::visit(ExpPrinter{out}, e.v); }
void appendTypY(std::string& out, const TypY& t) { std::visit(TypPrinter{out}, t.v); }
void appendCmdY(std::string& out, const CmdY& c) { std::visit(CmdPrinter{out}, c.v); }

void showExpY(std::ostream& os, const ExpY& e) {
  toStream(os, [&](std::string& o) { appendExpY(o, e); });
}
void showTypY(std::ostream& os, const TypY& t) {
  toStream(os, [&](std::string& o) { appendTypY(o, t); });
}
void showCmdY(std::ostream& os, const CmdY& c) {
  toStream(os, [&](std::string& o) { appendCmdY(o, c); });
}

std::string showExpY(const ExpY& e) {
  std::string out;
  appendExpY(out, e);
  return out;
}
std::string showTypY(const TypY& t) {
  std::string out;
  appendTypY(out, t);
  return out;
}
std::string showCmdY(const CmdY& c) {
  std::string out;
  appendCmdY(out, c);
  return out;
}

std::ostream& operator<<(std::ostream& os, const ExpY& e) {
  showExpY(os, e);
  return os;
}
std::ostream& operator<<(std::ostream& os, const TypY& t) {
  showTypY(os, t);
  return os;
}
std::ostream& operator<<(std::ostream& os, const CmdY& c) {
  showCmdY(os, c);
  return os;
}

void showExpYList(std::ostream& os, const std::vector<ExpYP>& es) {
  toStream(os, [&](std::string& o) { bracketList(o, es, expOf); });
}
void showTypYList(std::ostream& os, const std::vector<TypYP>& ts) {
  toStream(os, [&](std::string& o) { bracketList(o, ts, typOf); });
}
void showIdTyp(std::ostream& os, const IdTyp& b) {
  toStream(os, [&](std::string& o) { idTyp(o, b); });
}
void showIdTyp(std::ostream& os, const std::pair<std::string, ExpYP>& f) {
  toStream(os, [&](std::string& o) { fieldOf(o, f); });
}
void showBinding(std::ostream& os, const LetBinding& b) {
  toStream(os, [&](std::string& o) { binding(o, b); });
}
void showCtorDef(std::ostream& os, const std::pair<std::string, std::vector<IdTyp>>& ctor) {
  toStream(os, [&](std::string& o) { ctorDef(o, ctor); });
}
void showStringsSepBy(std::ostream& os, const std::string& sep,
                      const std::vector<std::string>& names) {
  toStream(os, [&](std::string& o) { stringsSepBy(o, sep, names); });
}
void showStringLit(std::ostream& os, const std::string& s) {
  toStream(os, [&](std::string& o) { stringLit(o, s); });
}

namespace {

void stringLit(std::string& os, const std::string& s) {
  put(os, '"');
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const bool hasNext = i + 1 < n;
    const auto next = hasNext ? static_cast<unsigned char>(s[i + 1]) : 0;
    if (c == '"' || c == '\\') {
      put(os, '\\');
      put(os, static_cast<char>(c));
    } else if (c >= 32 && c <= 126) {
      put(os, static_cast<char>(c));
    } else if (c == 127) {
      put(os, "\\DEL");
    } else if (c < 32) {
      put(os, '\\');
      put(os, kControlNames[c]);
      if (c == 14 && hasNext && next == 'H') put(os, "\\&");
    } else {
      put(os, '\\');
      put(os, std::to_string(c));
      if (hasNext && next >= '0' && next <= '9') put(os, "\\&");
    }
  }
  put(os, '"');
}

}  // namespace

}  // namespace vorlax::yices
