#include "ys_ast.hpp"

namespace vxsolver {

const Type& baseOf(const Type& t) {
  const Type* p = &t;
  while ((p->kind == TypeKind::Subrange || p->kind == TypeKind::Subtype) && p->base) p = p->base.get();
  return *p;
}

bool isNumeric(const Type& t) {
  const Type& b = baseOf(t);
  return b.kind == TypeKind::Int || b.kind == TypeKind::Real;
}

bool compatible(const Type& a, const Type& b) {
  const Type& x = baseOf(a);
  const Type& y = baseOf(b);
  if (isNumeric(x) && isNumeric(y)) return true;
  if (x.kind != y.kind) return false;
  switch (x.kind) {
    case TypeKind::Bool: return true;
    case TypeKind::Uninterpreted:
    case TypeKind::Scalar:
    case TypeKind::Datatype: return &x == &y;
    case TypeKind::Function:
    case TypeKind::Tuple:
      if (x.elems.size() != y.elems.size()) return false;
      for (size_t i = 0; i < x.elems.size(); ++i)
        if (!compatible(*x.elems[i], *y.elems[i])) return false;
      return true;
    case TypeKind::Record:
      if (x.fields.size() != y.fields.size()) return false;
      for (size_t i = 0; i < x.fields.size(); ++i)
        if (x.fields[i].first != y.fields[i].first || !compatible(*x.fields[i].second, *y.fields[i].second))
          return false;
      return true;
    default: return false;
  }
}

bool fits(const Type& a, const Type& b) {
  if (!compatible(a, b)) return false;
  const Type& x = baseOf(a);
  const Type& y = baseOf(b);
  if (x.kind == TypeKind::Real && y.kind == TypeKind::Int) return false;
  if (x.kind == TypeKind::Function || x.kind == TypeKind::Tuple) {
    for (size_t i = 0; i < x.elems.size(); ++i)
      if (!fits(*x.elems[i], *y.elems[i])) return false;
  }
  if (x.kind == TypeKind::Record) {
    for (size_t i = 0; i < x.fields.size(); ++i)
      if (!fits(*x.fields[i].second, *y.fields[i].second)) return false;
  }
  return true;
}

std::string showType(const Type& t) {
  if (!t.name.empty()) return t.name;
  auto list = [](const char* kw, const std::vector<TypeP>& ts) {
    std::string s = std::string("(") + kw;
    for (const auto& e : ts) {
      s += ' ';
      s += showType(*e);
    }
    return s + ")";
  };
  switch (t.kind) {
    case TypeKind::Int: return "int";
    case TypeKind::Real: return "real";
    case TypeKind::Bool: return "bool";
    case TypeKind::Function: return list("->", t.elems);
    case TypeKind::Tuple: return list("tuple", t.elems);
    case TypeKind::Record: {
      std::string s = "(record";
      for (const auto& f : t.fields) s += " " + f.first + "::" + showType(*f.second);
      return s + ")";
    }
    case TypeKind::Subrange: {
      std::string s = "(subrange ";
      s += t.lo ? t.lo->get_str() : "-inf";
      s += ' ';
      s += t.hi ? t.hi->get_str() : "inf";
      return s + ")";
    }
    case TypeKind::Subtype: {
      std::string s = "(subtype ";
      s += t.var;
      s += "::";
      s += showType(*t.base);
      return s + " ...)";
    }
    case TypeKind::Scalar: {
      std::string s = "(scalar";
      for (const auto& n : t.scalars) s += " " + n;
      return s + ")";
    }
    case TypeKind::Datatype: return "(datatype ...)";
    case TypeKind::Uninterpreted: return "<uninterpreted type>";
  }
  return "?";
}

bool constrained(const Type& t) {
  if (t.kind == TypeKind::Subrange || t.kind == TypeKind::Subtype) return true;
  const Type& b = baseOf(t);
  return b.isFunction() && constrained(*b.range());
}

std::optional<size_t> finiteSize(const Type& t, size_t limit) {
  auto mul = [limit](size_t a, size_t b) { return (a != 0 && b > (limit + 1) / a) ? limit + 1 : std::min(a * b, limit + 1); };
  switch (t.kind) {
    case TypeKind::Bool: return 2;
    case TypeKind::Scalar: return std::min(t.scalars.size(), limit + 1);
    case TypeKind::Subrange:
      if (t.lo && t.hi) {
        mpz_class n = *t.hi - *t.lo + 1;
        if (n < 0) return 0;
        if (n > mpz_class(static_cast<unsigned long>(limit))) return limit + 1;
        return n.get_ui();
      }
      return std::nullopt;
    case TypeKind::Subtype: return finiteSize(*t.base, limit);
    case TypeKind::Tuple: {
      size_t n = 1;
      for (const auto& e : t.elems) {
        auto k = finiteSize(*e, limit);
        if (!k) return std::nullopt;
        n = mul(n, *k);
      }
      return n;
    }
    case TypeKind::Record: {
      size_t n = 1;
      for (const auto& f : t.fields) {
        auto k = finiteSize(*f.second, limit);
        if (!k) return std::nullopt;
        n = mul(n, *k);
      }
      return n;
    }
    case TypeKind::Datatype: {
      size_t total = 0;
      for (const auto& c : t.ctors) {
        size_t n = 1;
        for (const auto& f : c.fields) {
          if (!f.second) return std::nullopt;  // recursive
          auto k = finiteSize(*f.second, limit);
          if (!k) return std::nullopt;
          n = mul(n, *k);
        }
        total = std::min(total + n, limit + 1);
      }
      return total;
    }
    default: return std::nullopt;
  }
}

const char* kindKeyword(ExprKind k) {
  switch (k) {
    case ExprKind::And: return "and";
    case ExprKind::Or: return "or";
    case ExprKind::Not: return "not";
    case ExprKind::Implies: return "=>";
    case ExprKind::Eq: return "=";
    case ExprKind::Neq: return "/=";
    case ExprKind::Lt: return "<";
    case ExprKind::Le: return "<=";
    case ExprKind::Gt: return ">";
    case ExprKind::Ge: return ">=";
    case ExprKind::Add: return "+";
    case ExprKind::Sub: return "-";
    case ExprKind::Mul: return "*";
    case ExprKind::Div: return "/";
    case ExprKind::IntDiv: return "div";
    case ExprKind::Mod: return "mod";
    case ExprKind::Ite: return "if";
    case ExprKind::Let: return "let";
    case ExprKind::Forall: return "forall";
    case ExprKind::Exists: return "exists";
    case ExprKind::Lambda: return "lambda";
    case ExprKind::MkTuple: return "mk-tuple";
    case ExprKind::MkRecord: return "mk-record";
    case ExprKind::SelectTuple:
    case ExprKind::SelectRecord: return "select";
    case ExprKind::UpdateFun:
    case ExprKind::UpdateTuple:
    case ExprKind::UpdateRecord: return "update";
    case ExprKind::App: return "application";
    default: return "expression";
  }
}

}  // namespace vxsolver
