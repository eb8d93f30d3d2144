// The small pieces a syntax tree is made of: interned names, nodes counted in place, and the
// relation type held apart from an operator.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ast.hpp"

namespace vorlax {
namespace {

TEST(Name, EqualExactlyWhenTheTextsAreEqual) {
  const std::string built = std::string("fie") + "ld";
  struct Case {
    ast::Name a, b;
    bool equal;
  } cases[] = {
      {"field", built, true},
      {"field", "field_", false},
      {"", ast::Name(), true},
      {"a", "A", false},
      {std::string_view("ab\0c", 4), std::string_view("ab\0c", 4), true},
      {std::string_view("ab\0c", 4), "ab", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.a.str() << " / " << c.b.str();
    EXPECT_EQ(c.a.str() == c.b.str(), c.equal);
  }
}

TEST(Name, ReadsAsItsText) {
  ast::Name n(std::string("balance"));
  const std::string& s = n;
  EXPECT_EQ(s, "balance");
  EXPECT_TRUE(n == "balance");
  EXPECT_TRUE(n == std::string("balance"));
  EXPECT_FALSE(n == "balanc");
  EXPECT_TRUE(ast::Name().empty());
  std::ostringstream os;
  os << n << '.' << ast::Name("x");
  EXPECT_EQ(os.str(), "balance.x");
}

// A node lives while some pointer holds it, and goes when the last one lets it go; copying
// a node starts a count of its own.
struct Probe : Counted {
  explicit Probe(int* alive) : alive(alive) { ++*alive; }
  Probe(const Probe& o) : Counted(o), alive(o.alive) { ++*alive; }
  ~Probe() { --*alive; }
  int* alive;
};

TEST(NodeRef, TheLastOwnerReleasesTheNode) {
  int alive = 0;
  {
    auto a = NodeRef<Probe>::make(&alive);
    NodeRef<Probe> b = a, c;
    EXPECT_TRUE(b == a);
    EXPECT_TRUE(c == nullptr);
    c = std::move(b);
    EXPECT_TRUE(b == nullptr);
    a.reset();
    EXPECT_EQ(alive, 1);
    const NodeRef<Probe>& same = c;
    c = same;  // assigning a pointer to itself keeps the node
    EXPECT_EQ(alive, 1);
    auto d = NodeRef<Probe>::make(*c);  // a copy of the node, counted apart
    EXPECT_EQ(alive, 2);
    c = nullptr;
    EXPECT_EQ(alive, 1);
    EXPECT_TRUE(static_cast<bool>(d));
  }
  EXPECT_EQ(alive, 0);
}

TEST(NodeRef, SharedSubtreesOfAnExpression) {
  ast::ExprP x = ast::mk(ast::Var{"x"});
  ast::ExprP sum = ast::mk(ast::BinOpExpr{BinOp{BinOp::Add}, x, x});
  x.reset();
  const auto* b = sum->as<ast::BinOpExpr>();
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->left == b->right);
  EXPECT_EQ(ast::showExpr(*sum), "(x) Add (x)");
}

TEST(BinOp, RelationTypesAreComparedByValue) {
  const Type list = structType("List", {IntType{}});
  struct Case {
    BinOp a, b;
    bool equal;
  } cases[] = {
      {BinOp::rel(ROp::Lt), BinOp::rel(ROp::Lt, NoType{}), true},
      {BinOp::rel(ROp::Lt, list), BinOp::rel(ROp::Lt, structType("List", {IntType{}})), true},
      {BinOp::rel(ROp::Lt, list), BinOp::rel(ROp::Lt, structType("List", {BoolType{}})), false},
      {BinOp::rel(ROp::Lt, IntType{}), BinOp::rel(ROp::Lt), false},
      {BinOp::rel(ROp::Lt, IntType{}), BinOp::rel(ROp::Gt, IntType{}), false},
      {BinOp{BinOp::Add}, BinOp{BinOp::Add}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.a == c.b, c.equal) << showBinOp(c.a) << " / " << showBinOp(c.b);
  EXPECT_EQ(showBinOp(BinOp::rel(ROp::Eq, list), kAppPrec), "(RelOp Eq List[Int])");
  EXPECT_TRUE(BinOp::rel(ROp::Eq).relType().is<NoType>());
}

}  // namespace
}  // namespace vorlax
