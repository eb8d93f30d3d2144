// Text forms of the syntax tree: the derived constructor/record forms and the own forms of
// expressions.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <system_error>

#include "ast.hpp"

namespace vorlax {

namespace {

const char* const kAsciiNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "a",  "b",  "t",  "n",
    "v",   "f",   "r",   "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

template <class F>
std::string toString(F&& write) {
  std::ostringstream os;
  write(os);
  return os.str();
}

// The digits and decimal exponent e of a positive finite value, as 0.d1d2... * 10^e, with
// the fewest digits that read back to the same value.
void shortestDigits(double v, std::string& ds, int& e) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
  std::size_t ePos = s.find('e');
  ds.clear();
  for (char c : s.substr(0, ePos))
    if (c != '.') ds += c;
  int x = 0;
  std::from_chars(s.data() + ePos + 1 + (s[ePos + 1] == '+' ? 1 : 0), s.data() + s.size(), x);
  e = x + 1;
}

void showPositiveDouble(std::ostream& os, double v) {
  if (std::isinf(v)) {
    os << "Infinity";
    return;
  }
  if (v == 0) {
    os << "0.0";
    return;
  }
  std::string ds;
  int e = 0;
  shortestDigits(v, ds, e);
  if (e < 0 || e > 7) {
    os << ds[0] << '.';
    if (ds.size() > 1) os << ds.substr(1);
    else os << '0';
    os << 'e' << (e - 1);
    return;
  }
  if (e == 0) {
    os << "0." << ds;
    return;
  }
  std::string intPart = ds.substr(0, std::min<std::size_t>(ds.size(), static_cast<std::size_t>(e)));
  while (intPart.size() < static_cast<std::size_t>(e)) intPart += '0';
  std::string frac = ds.size() > static_cast<std::size_t>(e) ? ds.substr(static_cast<std::size_t>(e)) : "0";
  os << intPart << '.' << frac;
}

}  // namespace

void showStringField(std::ostream& os, std::string_view s) {
  os << '"';
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    bool nextDigit = i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9';
    if (c == '"') {
      os << "\\\"";
    } else if (c == '\\') {
      os << "\\\\";
    } else if (c >= 32 && c <= 126) {
      os << static_cast<char>(c);
    } else if (c == 127) {
      os << "\\DEL";
    } else if (c > 127) {
      os << '\\' << static_cast<int>(c);
      if (nextDigit) os << "\\&";
    } else {
      os << '\\' << kAsciiNames[c];
      if (c == 14 && i + 1 < s.size() && s[i + 1] == 'H') os << "\\&";
    }
  }
  os << '"';
}

std::string showStringField(std::string_view s) {
  return toString([&](std::ostream& os) { showStringField(os, s); });
}

void showIntAt(std::ostream& os, long long v, int prec) {
  if (v < 0 && prec > 6) os << '(' << v << ')';
  else os << v;
}

void showDoubleAt(std::ostream& os, double v, int prec) {
  if (std::isnan(v)) {
    os << "NaN";
    return;
  }
  if (v < 0 || std::signbit(v)) {
    if (prec > 6) os << '(';
    os << '-';
    showPositiveDouble(os, -v);
    if (prec > 6) os << ')';
    return;
  }
  showPositiveDouble(os, v);
}

std::string showDouble(double v) {
  return toString([&](std::ostream& os) { showDoubleAt(os, v, 0); });
}

void showUnOp(std::ostream& os, UnOp op) {
  switch (op) {
    case UnOp::Not: os << "Not"; break;
    case UnOp::Neg: os << "Neg"; break;
    case UnOp::Old: os << "Old"; break;
  }
}

std::string showUnOp(UnOp op) {
  return toString([&](std::ostream& os) { showUnOp(os, op); });
}

void showROp(std::ostream& os, ROp op) {
  switch (op) {
    case ROp::Lte: os << "Lte"; break;
    case ROp::Lt: os << "Lt"; break;
    case ROp::Eq: os << "Eq"; break;
    case ROp::Neq: os << "Neq"; break;
    case ROp::Gt: os << "Gt"; break;
    case ROp::Gte: os << "Gte"; break;
  }
}

std::string showROp(ROp op) {
  return toString([&](std::ostream& os) { showROp(os, op); });
}

void showBinOp(std::ostream& os, const BinOp& op, int prec) {
  switch (op.kind) {
    case BinOp::Add: os << "Add"; return;
    case BinOp::Sub: os << "Sub"; return;
    case BinOp::Mul: os << "Mul"; return;
    case BinOp::Div: os << "Div"; return;
    case BinOp::Or: os << "Or"; return;
    case BinOp::And: os << "And"; return;
    case BinOp::Implies: os << "Implies"; return;
    case BinOp::ArrayIndex: os << "ArrayIndex"; return;
    case BinOp::RelOp: break;
  }
  if (prec >= kAppPrec) os << '(';
  os << "RelOp ";
  showROp(os, op.rop);
  os << ' ';
  showType(os, op.relType());
  if (prec >= kAppPrec) os << ')';
}

std::string showBinOp(const BinOp& op, int prec) {
  return toString([&](std::ostream& os) { showBinOp(os, op, prec); });
}

void showStruct(std::ostream& os, const Struct& s, int prec) {
  if (prec >= kAppPrec) os << '(';
  os << "Struct {structName = ";
  showStringField(os, s.structName);
  os << ", structDecls = ";
  showDeclList(os, s.structDecls);
  os << '}';
  if (prec >= kAppPrec) os << ')';
}

std::string showStruct(const Struct& s, int prec) {
  return toString([&](std::ostream& os) { showStruct(os, s, prec); });
}

namespace ast {

namespace {

struct ShowVisitor {
  std::ostream& os;
  void operand(const ExprP& e) const {
    os << '(';
    showExpr(os, *e);
    os << ')';
  }
  void operator()(const Call& x) const {
    os << x.name << '(';
    for (std::size_t i = 0; i < x.args.size(); ++i) {
      if (i > 0) os << ',';
      showExpr(os, *x.args[i]);
    }
    os << ')';
  }
  void operator()(const BinOpExpr& x) const {
    operand(x.left);
    os << ' ';
    showBinOp(os, x.op, 0);
    os << ' ';
    operand(x.right);
  }
  void operator()(const UnOpExpr& x) const {
    showUnOp(os, x.op);
    os << ' ';
    operand(x.operand);
  }
  void operator()(const Access& x) const {
    showExpr(os, *x.object);
    os << '.';
    os << accessField(x);
  }
  void operator()(const Var& x) const { os << x.name; }
  void operator()(const ResultVar&) const { os << "Result"; }
  void operator()(const Cast& x) const {
    os << '{';
    showType(os, x.type);
    os << '}';
    showExpr(os, *x.operand);
  }
  void operator()(const LitInt& x) const { showIntAt(os, x.value, 0); }
  void operator()(const LitBool& x) const { os << (x.value ? "True" : "False"); }
  void operator()(const LitDouble& x) const { showDoubleAt(os, x.value, 0); }
  void operator()(const LitNull&) const { os << "null"; }
};

void writeExpr(std::ostream& os, const ExprP& e) { showExpr(os, *e); }

}  // namespace

void showExpr(std::ostream& os, const Expr& e) { std::visit(ShowVisitor{os}, e.v); }

std::string showExpr(const Expr& e) {
  return toString([&](std::ostream& os) { showExpr(os, e); });
}

void showExprList(std::ostream& os, const std::vector<ExprP>& es) {
  os << '[';
  for (std::size_t i = 0; i < es.size(); ++i) {
    if (i > 0) os << ',';
    showExpr(os, *es[i]);
  }
  os << ']';
}

std::string showExprList(const std::vector<ExprP>& es) {
  return toString([&](std::ostream& os) { showExprList(os, es); });
}

void showClause(std::ostream& os, const Clause& c, int prec) { showClauseWith(os, c, prec, writeExpr); }

std::string showClause(const Clause& c, int prec) {
  return toString([&](std::ostream& os) { showClause(os, c, prec); });
}

void showProcedure(std::ostream& os, const Procedure& p, int prec) {
  showProcedureWith(os, p, prec, writeExpr);
}

std::string showProcedure(const Procedure& p, int prec) {
  return toString([&](std::ostream& os) { showProcedure(os, p, prec); });
}

void showDomain(std::ostream& os, const Domain& d, int prec) { showDomainWith(os, d, prec, writeExpr); }

std::string showDomain(const Domain& d, int prec) {
  return toString([&](std::ostream& os) { showDomain(os, d, prec); });
}

}  // namespace ast
}  // namespace vorlax
