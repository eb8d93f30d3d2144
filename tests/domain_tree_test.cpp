// The small pieces a syntax tree is made of: interned names, nodes counted in place, and the
// relation type held apart from an operator.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ast.hpp"
#include "goal.hpp"
#include "parser.hpp"

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

ast::ExprP parseExpr(std::string_view text) {
  auto r = parsing::runParser(parser::expr, "t", text);
  EXPECT_TRUE(r.ok) << text;
  return r.value;
}

const ast::BinOpExpr& binary(const ast::ExprP& e) {
  const auto* b = e->as<ast::BinOpExpr>();
  if (!b) throw std::logic_error("not a binary operator: " + ast::showExpr(*e));
  return *b;
}

// While leaves are shared, a variable or an integer that recurs is one node; its text and
// everything built on it are as before.
TEST(SharedLeaves, RecurringVariablesAndIntegersAreOneNode) {
  {
    parser::SharedLeaves shared;
    ast::ExprP e1 = parseExpr("(x + 7) = (x + 7)");
    EXPECT_EQ(ast::showExpr(*e1), "((x) Add (7)) RelOp Eq notype ((x) Add (7))");
    const auto& sum1 = binary(binary(e1).left);
    const auto& sum2 = binary(binary(e1).right);
    EXPECT_TRUE(sum1.left == sum2.left);    // x
    EXPECT_TRUE(sum1.right == sum2.right);  // 7
    EXPECT_FALSE(binary(e1).left == binary(e1).right);  // only leaves are shared
    // Later expressions in the same scope share them as well.
    ast::ExprP e2 = parseExpr("7 = 8 and y = y + 0");
    EXPECT_EQ(ast::showExpr(*e2), "((7) RelOp Eq notype (8)) And ((y) RelOp Eq notype ((y) Add (0)))");
    const auto& seven = binary(binary(e2).left);
    EXPECT_TRUE(seven.left == sum1.right);
    EXPECT_FALSE(seven.left == seven.right);
    const auto& ys = binary(binary(e2).right);
    EXPECT_TRUE(ys.left == binary(ys.right).left);
    EXPECT_TRUE(parseExpr("x") == sum1.left);
    // Fields of variables are shared; fields of anything else, and other fields, are not.
    ast::ExprP e3 = parseExpr("(a.f = a.f and g(a).f = g(a).f) and (a.h = a.f.k and a.f.k = x)");
    EXPECT_EQ(ast::showExpr(*e3),
              "(((a.f) RelOp Eq notype (a.f)) And ((g(a).f) RelOp Eq notype (g(a).f))) And "
              "(((a.h) RelOp Eq notype (a.f.k)) And ((a.f.k) RelOp Eq notype (x)))");
    const auto& left = binary(binary(e3).left);
    const auto& right = binary(binary(e3).right);
    const auto& af = binary(left.left);
    const auto& call = binary(left.right);
    const auto& ah = binary(right.left);
    const auto& chain = binary(right.right);
    EXPECT_TRUE(af.left == af.right);
    EXPECT_FALSE(call.left == call.right);
    EXPECT_FALSE(ah.left == af.left);
    EXPECT_TRUE(ah.right->as<ast::Access>()->object == af.left);  // a.f inside a.f.k
    EXPECT_TRUE(chain.right == sum1.left);                         // x
  }
  ast::ExprP e = parseExpr("x = x");
  EXPECT_FALSE(binary(e).left == binary(e).right);
  EXPECT_EQ(*binary(e).left, *binary(e).right);
}

TEST(SharedLeaves, ADomainAndAGoalShareWithinTheirOwnFile) {
  auto d = parser::parseDomain("d", "type S { k : Int }\np (a : S)\n  require\n    r: a.k = 1\n  ensure\n"
                                    "    e: a.k = old(a.k) + 1\n");
  ASSERT_TRUE(d.ok);
  const ast::Procedure& p = d.value.domProcs.at(0);
  const auto& req = binary(p.prcdReq.at(0).clauseExpr);
  const auto& ens = binary(p.prcdEns.at(0).clauseExpr);
  const ast::ExprP& a1 = req.left->as<ast::Access>()->object;
  const ast::ExprP& a2 = ens.left->as<ast::Access>()->object;
  EXPECT_TRUE(a1 == a2);
  // The field of a variable is shared too, under old as well.
  EXPECT_TRUE(req.left == ens.left);
  const auto* oldNode = binary(ens.right).left->as<ast::UnOpExpr>();
  ASSERT_NE(oldNode, nullptr);
  EXPECT_TRUE(oldNode->operand == ens.left);
  EXPECT_TRUE(req.right == binary(ens.right).right);  // 1
  auto g = parseSerialGoal("s", "x : S\nx.k = 1\n@ 2\n-> x.k = 2\n");
  ASSERT_TRUE(g.ok);
  EXPECT_TRUE(binary(g.value.values.at(0)).left->as<ast::Access>()->object ==
              binary(g.value.goalExpr).left->as<ast::Access>()->object);
  EXPECT_FALSE(binary(g.value.values.at(0)).right == req.right);  // another file's 1
}

}  // namespace
}  // namespace vorlax
