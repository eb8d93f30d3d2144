// Constructor-application text of typed expressions.
//
// The printer walks the tree with an explicit work list, so a long operator chain prints
// without deep recursion.
#include <sstream>

#include "typecheck.hpp"

namespace vorlax::tc {

namespace {

// One pending piece of output.
struct Item {
  enum Kind { Text, Node, Name, Ty } kind;
  std::string_view text{};        // Text
  const TExpr* node = nullptr;    // Node
  const std::string* name = nullptr;  // Name
  const Type* type = nullptr;     // Ty
  bool paren = false;             // Node: written as a field (in parentheses)
};

Item text(std::string_view s) { return Item{Item::Text, s}; }
Item node(const TExprP& e, bool paren) {
  Item i{Item::Node};
  i.node = e.get();
  i.paren = paren;
  return i;
}
Item name(const std::string& n) {
  Item i{Item::Name};
  i.name = &n;
  return i;
}
Item type(const Type& t) {
  Item i{Item::Ty};
  i.type = &t;
  return i;
}

// Pushes the pieces of one node (after its head) in reverse order; writes the head now.
void expand(std::ostream& os, const TExpr& e, bool paren, std::vector<Item>& work) {
  if (paren) {
    os << '(';
    work.push_back(text(")"));
  }
  std::visit(
      [&](const auto& n) {
        using T = std::decay_t<decltype(n)>;
        if constexpr (std::is_same_v<T, Call>) {
          os << "Call ";
          work.push_back(type(n.type));
          work.push_back(text(" "));
          work.push_back(text("]"));
          for (std::size_t i = n.args.size(); i-- > 0;) {
            work.push_back(node(n.args[i], false));
            if (i > 0) work.push_back(text(","));
          }
          work.push_back(text("["));
          work.push_back(text(" "));
          work.push_back(name(n.name));
        } else if constexpr (std::is_same_v<T, BinOpExpr>) {
          os << "BinOpExpr ";
          showBinOp(os, n.op, kAppPrec);
          work.push_back(type(n.type));
          work.push_back(text(" "));
          work.push_back(node(n.right, true));
          work.push_back(text(" "));
          work.push_back(node(n.left, true));
          work.push_back(text(" "));
        } else if constexpr (std::is_same_v<T, UnOpExpr>) {
          os << "UnOpExpr ";
          showUnOp(os, n.op);
          work.push_back(type(n.type));
          work.push_back(text(" "));
          work.push_back(node(n.operand, true));
          work.push_back(text(" "));
        } else if constexpr (std::is_same_v<T, Access>) {
          os << "Access ";
          work.push_back(type(n.type));
          work.push_back(text(" "));
          work.push_back(name(n.field));
          work.push_back(text(" "));
          work.push_back(node(n.object, true));
        } else if constexpr (std::is_same_v<T, Var>) {
          os << "Var ";
          showStringField(os, n.name);
          os << ' ' << showType(n.type);
        } else if constexpr (std::is_same_v<T, ResultVar>) {
          os << "ResultVar " << showType(n.type);
        } else if constexpr (std::is_same_v<T, Cast>) {
          os << "Cast ";
          work.push_back(type(n.type));
          work.push_back(text(" "));
          work.push_back(node(n.operand, true));
        } else if constexpr (std::is_same_v<T, LitInt>) {
          os << "LitInt ";
          showIntAt(os, n.value, kAppPrec);
        } else if constexpr (std::is_same_v<T, LitBool>) {
          os << "LitBool " << (n.value ? "True" : "False");
        } else if constexpr (std::is_same_v<T, LitNull>) {
          os << "LitNull " << showType(n.type);
        } else {
          static_assert(std::is_same_v<T, LitDouble>);
          os << "LitDouble ";
          showDoubleAt(os, n.value, kAppPrec);
        }
      },
      e.v);
}

void showFrom(std::ostream& os, std::vector<Item>& work) {
  while (!work.empty()) {
    Item it = work.back();
    work.pop_back();
    switch (it.kind) {
      case Item::Text:
        os << it.text;
        break;
      case Item::Name: showStringField(os, *it.name); break;
      case Item::Ty: showType(os, *it.type); break;
      case Item::Node: expand(os, *it.node, it.paren, work); break;
    }
  }
}

}  // namespace

void showTExpr(std::ostream& os, const TExpr& e) {
  std::vector<Item> work;
  expand(os, e, false, work);
  showFrom(os, work);
}

std::string showTExpr(const TExpr& e) {
  std::ostringstream os;
  showTExpr(os, e);
  return os.str();
}

std::string showTExprList(const std::vector<TExprP>& es) {
  std::ostringstream os;
  os << '[';
  for (std::size_t i = 0; i < es.size(); ++i) {
    if (i > 0) os << ',';
    showTExpr(os, *es[i]);
  }
  os << ']';
  return os.str();
}

}  // namespace vorlax::tc
