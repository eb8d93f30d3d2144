#include "types.hpp"

#include <algorithm>
#include <sstream>

namespace vorlax {

Type structType(std::string name, std::vector<Type> args) {
  return Type(StructType{std::move(name), std::move(args)});
}

bool operator==(const Type& a, const Type& b) { return compareType(a, b) == 0; }

int compareType(const Type& a, const Type& b) {
  if (a.v.index() != b.v.index()) return a.v.index() < b.v.index() ? -1 : 1;
  const StructType* sa = a.as<StructType>();
  if (!sa) return 0;
  const StructType* sb = b.as<StructType>();
  // std::string compares by unsigned byte value (char_traits<char>::compare is memcmp-like).
  if (int c = sa->name.compare(sb->name); c != 0) return c < 0 ? -1 : 1;
  std::size_t n = std::min(sa->args.size(), sb->args.size());
  for (std::size_t i = 0; i < n; ++i)
    if (int c = compareType(sa->args[i], sb->args[i]); c != 0) return c;
  if (sa->args.size() == sb->args.size()) return 0;
  return sa->args.size() < sb->args.size() ? -1 : 1;
}

bool isBasic(const Type& t) { return t.is<IntType>() || t.is<DoubleType>() || t.is<BoolType>(); }

void showType(std::ostream& os, const Type& t) {
  switch (t.v.index()) {
    case 1: os << "Int"; return;
    case 2: os << "Double"; return;
    case 3: os << "NONE"; return;
    case 4: os << "notype"; return;
    case 5: os << "Bool"; return;
    default: break;
  }
  const StructType& s = *t.as<StructType>();
  os << s.name;
  if (!s.args.empty()) showTypeList(os, s.args);
}

std::string showType(const Type& t) {
  std::ostringstream os;
  showType(os, t);
  return os.str();
}

std::ostream& operator<<(std::ostream& os, const Type& t) {
  showType(os, t);
  return os;
}

void showTypeList(std::ostream& os, const std::vector<Type>& ts) {
  os << '[';
  for (std::size_t i = 0; i < ts.size(); ++i) {
    if (i > 0) os << ',';
    showType(os, ts[i]);
  }
  os << ']';
}

std::string showTypeList(const std::vector<Type>& ts) {
  std::ostringstream os;
  showTypeList(os, ts);
  return os.str();
}

void showDecl(std::ostream& os, const Decl& d) {
  os << d.declName << ": ";
  showType(os, d.declType);
}

std::string showDecl(const Decl& d) {
  std::ostringstream os;
  showDecl(os, d);
  return os.str();
}

void showDeclList(std::ostream& os, const std::vector<Decl>& ds) {
  os << '[';
  for (std::size_t i = 0; i < ds.size(); ++i) {
    if (i > 0) os << ',';
    showDecl(os, ds[i]);
  }
  os << ']';
}

std::string showDeclList(const std::vector<Decl>& ds) {
  std::ostringstream os;
  showDeclList(os, ds);
  return os.str();
}

DeclMap declsToMap(const std::vector<Decl>& decls) {
  DeclMap m;
  for (const Decl& d : decls) m.emplace(d.declName, d.declType);  // keeps the first
  return m;
}

}  // namespace vorlax
