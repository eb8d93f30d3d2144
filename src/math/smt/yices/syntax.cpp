#include "math/smt/yices/syntax.hpp"

#include <cmath>
#include <sstream>
#include <string_view>

#include "fatal.hpp"

namespace vorlax::yices {

namespace {

// Raw writes: the text must not depend on the stream's width, base or sign flags.
inline void put(std::ostream& os, std::string_view s) {
  os.write(s.data(), static_cast<std::streamsize>(s.size()));
}
inline void put(std::ostream& os, char c) { os.put(c); }

void putInt(std::ostream& os, const mpz_class& z) {
  std::string buf(mpz_sizeinbase(z.get_mpz_t(), 10) + 2, '\0');
  mpz_get_str(buf.data(), 10, z.get_mpz_t());
  put(os, std::string_view(buf.c_str()));
}

[[noreturn]] void failZeroDenominator() { fatal("Ratio.%: zero denominator"); }

// A child that a builder left empty; no builder of the system does this.
template <class P>
const auto& deref(const P& p) {
  if (!p) fatal("solver text: a missing subexpression or subtype");
  return *p;
}

void expOf(std::ostream& os, const ExpYP& e) { showExpY(os, deref(e)); }
void typOf(std::ostream& os, const TypYP& t) { showTypY(os, deref(t)); }

const char* const kBinKeywords[13] = {"=> ", "= ", "/= ", "< ", "<= ", "> ", ">= ",
                                      "+ ",  "- ", "* ",  "/ ", "div ", "mod "};

const char* const kControlNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "a",  "b",  "t",  "n",
    "v",   "f",   "r",   "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

void idTypList(std::ostream& os, const std::vector<IdTyp>& bs) {
  showListSepByWith(os, " ", bs, [](std::ostream& o, const IdTyp& b) { showIdTyp(o, b); });
}
void expList(std::ostream& os, const std::vector<ExpYP>& es) {
  showListSepByWith(os, " ", es, expOf);
}
void typList(std::ostream& os, const std::vector<TypYP>& ts) {
  showListSepByWith(os, " ", ts, typOf);
}

struct ExpPrinter {
  std::ostream& os;

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
    showListSepByWith(os, " ", x.bindings,
                      [](std::ostream& o, const LetBinding& b) { showBinding(o, b); });
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
    showListSepByWith(os, " ", x.fields,
                      [](std::ostream& o, const std::pair<std::string, ExpYP>& f) {
                        showIdTyp(o, f);
                      });
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
  std::ostream& os;

  void operator()(const VarT& x) const { put(os, x.name); }
  void operator()(const SUBTYPE& x) const {
    put(os, "(subtype ");
    showIdTyp(os, x.binder);
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
  void operator()(const DEP& x) const { showIdTyp(os, x.binder); }
  void operator()(const DATATYPE& x) const {
    put(os, "(datatype ");
    showListSepByWith(
        os, " ", x.ctors,
        [](std::ostream& o, const std::pair<std::string, std::vector<IdTyp>>& c) {
          showCtorDef(o, c);
        });
    put(os, ')');
  }
  void operator()(const SCALAR& x) const {
    put(os, "(scalar ");
    showStringsSepBy(os, " ", x.names);
    put(os, ')');
  }
};

struct CmdPrinter {
  std::ostream& os;

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
    showIdTyp(os, x.binder);
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
    showStringLit(os, x.text);
    put(os, ')');
  }
  void operator()(const INCLUDE& x) const {
    put(os, "(include ");
    showStringLit(os, x.file);
    put(os, ')');
  }
  void operator()(const RESET&) const { put(os, "(reset)"); }
  void operator()(const STATUS&) const { put(os, "(status)"); }
  void operator()(const DUMP&) const { put(os, "(dump-context)"); }
  void operator()(const EXIT&) const { put(os, "(exit)"); }
};

template <class T, class F>
std::string toText(const T& v, F show) {
  std::ostringstream os;
  show(os, v);
  return std::move(os).str();
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

void showExpY(std::ostream& os, const ExpY& e) { std::visit(ExpPrinter{os}, e.v); }
void showTypY(std::ostream& os, const TypY& t) { std::visit(TypPrinter{os}, t.v); }
void showCmdY(std::ostream& os, const CmdY& c) { std::visit(CmdPrinter{os}, c.v); }

std::string showExpY(const ExpY& e) {
  return toText(e, [](std::ostream& o, const ExpY& x) { showExpY(o, x); });
}
std::string showTypY(const TypY& t) {
  return toText(t, [](std::ostream& o, const TypY& x) { showTypY(o, x); });
}
std::string showCmdY(const CmdY& c) {
  return toText(c, [](std::ostream& o, const CmdY& x) { showCmdY(o, x); });
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
  put(os, '[');
  for (std::size_t i = 0; i < es.size(); ++i) {
    if (i > 0) put(os, ',');
    expOf(os, es[i]);
  }
  put(os, ']');
}

void showTypYList(std::ostream& os, const std::vector<TypYP>& ts) {
  put(os, '[');
  for (std::size_t i = 0; i < ts.size(); ++i) {
    if (i > 0) put(os, ',');
    typOf(os, ts[i]);
  }
  put(os, ']');
}

void showIdTyp(std::ostream& os, const IdTyp& b) {
  put(os, b.first);
  put(os, "::");
  typOf(os, b.second);
}

void showIdTyp(std::ostream& os, const std::pair<std::string, ExpYP>& f) {
  put(os, f.first);
  put(os, "::");
  expOf(os, f.second);
}

void showBinding(std::ostream& os, const LetBinding& b) {
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

void showCtorDef(std::ostream& os, const std::pair<std::string, std::vector<IdTyp>>& ctor) {
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

void showStringsSepBy(std::ostream& os, const std::string& sep,
                      const std::vector<std::string>& names) {
  showListSepByWith(os, sep, names,
                    [](std::ostream& o, const std::string& n) { put(o, n); });
}

void showStringLit(std::ostream& os, const std::string& s) {
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

}  // namespace vorlax::yices
