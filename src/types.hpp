// Domain types: the declared type of a field, a parameter, a goal variable or a function
// result, and the type recorded on every typed expression.
#pragma once
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace vorlax {

struct Type;

struct StructType {
  std::string name;
  std::vector<Type> args;
};
struct IntType {};
struct DoubleType {};
struct VoidType {};
struct NoType {};
struct BoolType {};

// Constructor order matters: it is the first key of the ordering.
struct Type {
  using V = std::variant<StructType, IntType, DoubleType, VoidType, NoType, BoolType>;
  V v;

  Type() : v(NoType{}) {}
  Type(StructType s) : v(std::move(s)) {}
  Type(IntType t) : v(t) {}
  Type(DoubleType t) : v(t) {}
  Type(VoidType t) : v(t) {}
  Type(NoType t) : v(t) {}
  Type(BoolType t) : v(t) {}

  template <class T> bool is() const { return std::holds_alternative<T>(v); }
  template <class T> const T* as() const { return std::get_if<T>(&v); }
};

Type structType(std::string name, std::vector<Type> args = {});

bool operator==(const Type& a, const Type& b);
inline bool operator!=(const Type& a, const Type& b) { return !(a == b); }
// Total ordering: by constructor number, then structure name, then argument lists.
// Returns <0, 0 or >0.
int compareType(const Type& a, const Type& b);
inline bool operator<(const Type& a, const Type& b) { return compareType(a, b) < 0; }

bool isBasic(const Type& t);

// Text form: "Int", "Double", "Bool", "NONE", "notype", "Name" or "Name[A,B]". It has no
// blanks and is never put in parentheses, whatever the precedence level asked for.
void showType(std::ostream& os, const Type& t);
std::string showType(const Type& t);
std::ostream& operator<<(std::ostream& os, const Type& t);
// List form: "[" the types joined by "," "]".
void showTypeList(std::ostream& os, const std::vector<Type>& ts);
std::string showTypeList(const std::vector<Type>& ts);

// A typed name: a structure field, a parameter or a goal variable.
struct Decl {
  std::string declName;
  Type declType;
};

// Text form of a declaration: the name unchanged, ": ", the type ("balance: Int"); list
// form "[a: S,n: Int]".
void showDecl(std::ostream& os, const Decl& d);
std::string showDecl(const Decl& d);
void showDeclList(std::ostream& os, const std::vector<Decl>& ds);
std::string showDeclList(const std::vector<Decl>& ds);

// A structure declaration, fields in file order.
struct Struct {
  std::string structName;
  std::vector<Decl> structDecls;
};

// Names ordered by byte value (a proper prefix first); the first declaration of a name wins.
using DeclMap = std::map<std::string, Type>;
DeclMap declsToMap(const std::vector<Decl>& decls);

}  // namespace vorlax
