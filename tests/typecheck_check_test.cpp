// The type checker over syntax trees built directly: every rule and message, the order of
// the checks, procedures and functions of a domain, and deep input.
#include <gtest/gtest.h>

#include <optional>

#include "fatal.hpp"
#include "typecheck.hpp"

namespace vorlax::tc {
namespace {

using ast::ExprP;

ExprP V(std::string n) { return ast::mk(ast::Var{std::move(n)}); }
ExprP I(std::int32_t i) { return ast::mk(ast::LitInt{i}); }
ExprP B(bool b) { return ast::mk(ast::LitBool{b}); }
ExprP Null() { return ast::mk(ast::LitNull{}); }
ExprP Res() { return ast::mk(ast::ResultVar{}); }
ExprP bin(BinOp::Kind k, ExprP l, ExprP r) { return ast::mk(ast::BinOpExpr{BinOp{k}, l, r}); }
ExprP rel(ROp r, ExprP a, ExprP b) { return ast::mk(ast::BinOpExpr{BinOp::rel(r), a, b}); }
ExprP un(UnOp op, ExprP e) { return ast::mk(ast::UnOpExpr{op, e}); }
ExprP acc(ExprP e, std::string f) { return ast::mk(ast::Access{e, std::move(f)}); }
ExprP call(std::string f, std::vector<ExprP> args) {
  return ast::mk(ast::Call{std::move(f), std::move(args)});
}
Decl D(std::string n, Type t) { return Decl{std::move(n), std::move(t)}; }

const Type kInt = IntType{};
const Type kBool = BoolType{};
const Type kDouble = DoubleType{};

ast::Procedure fn(std::string name, std::vector<Decl> args, Type result,
                  std::vector<ExprP> req = {}, std::vector<ExprP> ens = {}) {
  ast::Procedure p{std::move(name), std::move(args), std::move(result), {}, {}};
  int i = 0;
  for (auto& e : req) p.prcdReq.push_back(ast::Clause{"r" + std::to_string(i++), e});
  for (auto& e : ens) p.prcdEns.push_back(ast::Clause{"e" + std::to_string(i++), e});
  return p;
}

// Lists in stored order (last declared first).
ast::Domain exprDomain() {
  ast::Domain d;
  d.domStructs = {Struct{"S", {D("v", kInt), D("w", kBool), D("v", kBool)}},
                  Struct{"List", {D("head", kInt), D("next", structType("List", {kInt}))}},
                  Struct{"S", {D("v", kDouble), D("only", kInt)}}};
  d.domProcs = {fn("p", {D("x", kInt)}, NoType{})};
  d.domFuncs = {fn("f", {D("a", kInt), D("b", kInt)}, kInt),
                fn("g", {}, kBool),
                fn("dup", {D("x", kInt)}, kBool),  // declared last: calls find this one
                fn("dup", {D("x", kInt)}, kInt),
                fn("h", {D("d", kDouble)}, kInt),
                fn("mk", {D("s", structType("S"))}, structType("S"))};
  return d;
}

const DeclMap kScope = {{"x", kInt},
                        {"b", kBool},
                        {"d", kDouble},
                        {"s", structType("S")},
                        {"l", structType("List", {kInt})},
                        {"t", structType("T")}};

struct Case {
  const char* what;
  ExprP e;
  std::string expect;  // the typed text, or the message when `fails`
  bool fails;
};

const std::vector<Case>& exprCases() {
  static const std::vector<Case> cases = {
      {"variable", V("x"), "Var \"x\" Int", false},
      {"undeclared variable", V("y"), "y not found in declarations", true},
      {"names are case-sensitive", V("X"), "X not found in declarations", true},
      {"literals", bin(BinOp::And, B(true), rel(ROp::Gt, I(-3), I(2))),
       "BinOpExpr And (LitBool True) (BinOpExpr (RelOp Gt notype) (LitInt (-3)) (LitInt 2) Bool) Bool",
       false},
      {"goal Result", Res(), "ResultVar notype", false},
      // operators
      {"Int addition", bin(BinOp::Add, V("x"), I(1)), "BinOpExpr Add (Var \"x\" Int) (LitInt 1) Int",
       false},
      {"Double division", bin(BinOp::Div, V("d"), V("d")),
       "BinOpExpr Div (Var \"d\" Double) (Var \"d\" Double) Double", false},
      {"Int with Bool", bin(BinOp::Add, I(1), B(true)),
       "(LitInt 1,LitBool True) are unsuitable arguments for Add", true},
      {"Int with Double", bin(BinOp::Mul, V("x"), V("d")),
       "(Var \"x\" Int,Var \"d\" Double) are unsuitable arguments for Mul", true},
      {"Bool subtraction", bin(BinOp::Sub, B(true), B(false)),
       "(LitBool True,LitBool False) are unsuitable arguments for Sub", true},
      {"Int and Bool", bin(BinOp::And, V("b"), V("x")),
       "(Var \"b\" Bool,Var \"x\" Int) are unsuitable arguments for And", true},
      {"Or of Ints", bin(BinOp::Or, I(1), I(2)), "(LitInt 1,LitInt 2) are unsuitable arguments for Or",
       true},
      {"implication", bin(BinOp::Implies, V("b"), V("b")),
       "BinOpExpr Implies (Var \"b\" Bool) (Var \"b\" Bool) Bool", false},
      {"implication of Ints", bin(BinOp::Implies, I(1), V("b")),
       "(LitInt 1,Var \"b\" Bool) are unsuitable arguments for Implies", true},
      {"Int below Double", rel(ROp::Lt, V("x"), V("d")),
       "(Var \"x\" Int,Var \"d\" Double) are unsuitable arguments for Lt", true},
      {"relation names", rel(ROp::Gte, V("b"), I(0)),
       "(Var \"b\" Bool,LitInt 0) are unsuitable arguments for Gte", true},
      // only numbers have an order
      {"Bools ordered", rel(ROp::Lt, V("b"), V("b")),
       "(Var \"b\" Bool,Var \"b\" Bool) are unsuitable arguments for Lt", true},
      {"Bools equal", rel(ROp::Neq, V("b"), V("b")),
       "BinOpExpr (RelOp Neq notype) (Var \"b\" Bool) (Var \"b\" Bool) Bool", false},
      {"Doubles ordered", rel(ROp::Lte, V("d"), V("d")),
       "BinOpExpr (RelOp Lte notype) (Var \"d\" Double) (Var \"d\" Double) Bool", false},
      {"structures compared", rel(ROp::Eq, V("s"), V("s")),
       "BinOpExpr (RelOp Eq notype) (Var \"s\" S) (Var \"s\" S) Bool", false},
      {"structures with type arguments", rel(ROp::Eq, V("l"), acc(V("l"), "next")),
       "BinOpExpr (RelOp Eq notype) (Var \"l\" List[Int]) (Access (Var \"l\" List[Int]) \"next\" "
       "List[Int]) Bool",
       false},
      {"structure against its wrapper", rel(ROp::Neq, V("s"), V("l")),
       "(Var \"s\" S,Var \"l\" List[Int]) are unsuitable arguments for Neq", true},
      {"operand shown whole", bin(BinOp::Add, bin(BinOp::Add, V("x"), I(-1)), V("b")),
       "(BinOpExpr Add (Var \"x\" Int) (LitInt (-1)) Int,Var \"b\" Bool) are unsuitable arguments "
       "for Add",
       true},
      {"index has no rule", bin(BinOp::ArrayIndex, V("x"), V("x")),
       "(Var \"x\" Int,Var \"x\" Int) are unsuitable arguments for ArrayIndex", true},
      // unary operators
      {"not", un(UnOp::Not, V("b")), "UnOpExpr Not (Var \"b\" Bool) Bool", false},
      {"negation of a Double", un(UnOp::Neg, V("d")), "UnOpExpr Neg (Var \"d\" Double) Double", false},
      {"old keeps the type", un(UnOp::Old, V("s")), "UnOpExpr Old (Var \"s\" S) S", false},
      {"old of Result", un(UnOp::Old, Res()), "UnOpExpr Old (ResultVar notype) notype", false},
      {"not of an Int", un(UnOp::Not, V("x")), "(Var \"x\" Int) is an unsuitable argument for Not",
       true},
      {"negation of a Bool", un(UnOp::Neg, B(true)),
       "(LitBool True) is an unsuitable argument for Neg", true},
      {"negation of a structure", un(UnOp::Neg, V("s")),
       "(Var \"s\" S) is an unsuitable argument for Neg", true},
      {"operand error first", un(UnOp::Not, V("y")), "y not found in declarations", true},
      // null
      {"null on the right", rel(ROp::Eq, V("x"), Null()),
       "BinOpExpr (RelOp Eq notype) (Var \"x\" Int) (LitNull Int) Bool", false},
      {"null on the left", rel(ROp::Neq, Null(), V("s")),
       "BinOpExpr (RelOp Neq notype) (LitNull S) (Var \"s\" S) Bool", false},
      {"null against null", rel(ROp::Eq, Null(), Null()),
       "BinOpExpr (RelOp Eq notype) (LitNull NONE) (LitNull NONE) Bool", false},
      {"null unequal to null", rel(ROp::Neq, Null(), Null()),
       "BinOpExpr (RelOp Neq notype) (LitNull NONE) (LitNull NONE) Bool", false},
      {"null against Result", rel(ROp::Eq, Res(), Null()),
       "BinOpExpr (RelOp Eq notype) (ResultVar notype) (LitNull notype) Bool", false},
      {"null against a Bool comparison", rel(ROp::Eq, rel(ROp::Lt, I(1), I(2)), Null()),
       "BinOpExpr (RelOp Eq notype) (BinOpExpr (RelOp Lt notype) (LitInt 1) (LitInt 2) Bool) "
       "(LitNull Bool) Bool",
       false},
      {"null beside an error", rel(ROp::Eq, Null(), V("y")), "y not found in declarations", true},
      {"null ordered", rel(ROp::Lt, Null(), V("x")), "Can't typecheck null", true},
      {"null added", bin(BinOp::Add, Null(), I(1)), "Can't typecheck null", true},
      {"bare null", Null(), "Can't typecheck null", true},
      {"old null compared", rel(ROp::Eq, un(UnOp::Old, Null()), V("x")), "Can't typecheck null", true},
      {"null as an argument", call("h", {Null()}), "Can't typecheck null", true},
      {"null inside a relation's left side", rel(ROp::Gt, V("x"), Null()), "Can't typecheck null",
       true},
      // Result in a goal expression (NoType)
      {"Result against an Int", rel(ROp::Eq, Res(), I(1)),
       "(ResultVar notype,LitInt 1) are unsuitable arguments for Eq", true},
      {"field of Result", acc(Res(), "v"), "notype not a struct", true},
      // field access
      {"field", acc(V("s"), "w"), "Access (Var \"s\" S) \"w\" Bool", false},
      {"first field of a name, first structure of a name", acc(V("s"), "v"),
       "Access (Var \"s\" S) \"v\" Int", false},
      {"only the first structure of a name is searched", acc(V("s"), "only"),
       "only not found in declarations", true},
      {"type arguments play no part", acc(acc(V("l"), "next"), "head"),
       "Access (Access (Var \"l\" List[Int]) \"next\" List[Int]) \"head\" Int", false},
      {"field of an Int", acc(V("x"), "v"), "Int not a struct", true},
      {"field of a Bool comparison", acc(rel(ROp::Eq, V("x"), V("x")), "v"), "Bool not a struct", true},
      {"unknown structure", acc(V("t"), "v"), "<T> not found", true},
      {"unknown field", acc(V("s"), "zz"), "zz not found in declarations", true},
      {"object error first", acc(V("y"), "zz"), "y not found in declarations", true},
      {"field of a call", acc(call("mk", {V("s")}), "w"),
       "Access (Call \"mk\" [Var \"s\" S] S) \"w\" Bool", false},
      // calls
      {"call", call("f", {V("x"), I(2)}), "Call \"f\" [Var \"x\" Int,LitInt 2] Int", false},
      {"call without arguments", call("g", {}), "Call \"g\" [] Bool", false},
      {"procedure name", call("p", {V("x")}), "Coudln't find function p", true},
      {"unknown function before its arguments", call("q", {V("y")}), "Coudln't find function q",
       true},
      {"argument error before the count", call("f", {V("y")}), "y not found in declarations", true},
      {"argument error before the count, operator",
       call("f", {bin(BinOp::Add, I(1), B(true))}),
       "(LitInt 1,LitBool True) are unsuitable arguments for Add", true},
      {"first argument error wins", call("f", {V("y"), V("z")}), "y not found in declarations", true},
      {"too few arguments", call("f", {V("x")}), "Arguments not same length", true},
      {"too many arguments", call("g", {V("x")}), "Arguments not same length", true},
      {"Int for Double", call("h", {V("x")}), "Some types don't conform in arguments", true},
      {"count before types", call("f", {B(true)}), "Arguments not same length", true},
      {"second argument's type", call("f", {V("x"), V("b")}), "Some types don't conform in arguments",
       true},
      {"last declared function", call("dup", {V("x")}), "Call \"dup\" [Var \"x\" Int] Bool", false},
      // order of examination
      {"left operand first", bin(BinOp::Add, V("y"), V("z")), "y not found in declarations", true},
      {"left before the operator rule", bin(BinOp::Add, V("b"), bin(BinOp::Add, I(1), B(true))),
       "(LitInt 1,LitBool True) are unsuitable arguments for Add", true},
      {"operands before the operator", bin(BinOp::And, I(1), V("y")), "y not found in declarations",
       true},
  };
  return cases;
}

TEST(TypecheckExpr, RulesAndMessages) {
  const ast::Domain dom = exprDomain();
  for (const Case& c : exprCases()) {
    Checked<TExprP> r = typecheckExpr(kScope, dom, NoType{}, c.e);
    if (c.fails) {
      EXPECT_FALSE(r.ok) << c.what;
      EXPECT_EQ(r.error, c.expect) << c.what;
    } else {
      ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
      EXPECT_EQ(showTExpr(*r.value), c.expect) << c.what;
    }
  }
}

TEST(TypecheckExpr, NeverBuiltConstructorsAreRejected) {
  const ast::Domain dom = exprDomain();
  const std::pair<ExprP, std::string> cases[] = {
      {ast::mk(ast::Cast{kInt, V("x")}), "Can't typecheck {Int}x"},
      {ast::mk(ast::Cast{structType("L", {kInt}), bin(BinOp::Add, V("x"), I(-7))}),
       "Can't typecheck {L[Int]}(x) Add (-7)"},
      {ast::mk(ast::LitDouble{1.5}), "Can't typecheck 1.5"},
      {ast::mk(ast::LitDouble{-0.01}), "Can't typecheck -1.0e-2"},
      {rel(ROp::Eq, ast::mk(ast::LitDouble{2.0}), V("d")), "Can't typecheck 2.0"},
  };
  for (const auto& [e, msg] : cases) {
    Checked<TExprP> r = typecheckExpr(kScope, dom, NoType{}, e);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, msg);
  }
}

TEST(TypecheckExpr, ResultTakesTheGivenType) {
  const ast::Domain dom = exprDomain();
  Checked<TExprP> r = typecheckExpr(kScope, dom, kInt, rel(ROp::Eq, Res(), I(1)));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(showTExpr(*r.value), "BinOpExpr (RelOp Eq notype) (ResultVar Int) (LitInt 1) Bool");
  r = typecheckExpr(kScope, dom, structType("S"), acc(un(UnOp::Old, Res()), "w"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(showTExpr(*r.value), "Access (UnOpExpr Old (ResultVar S) S) \"w\" Bool");
}

TEST(TypecheckExpr, TypedNodesKeepTheirFields) {
  const ast::Domain dom = exprDomain();
  Checked<TExprP> r = typecheckExpr(kScope, dom, NoType{}, rel(ROp::Eq, V("x"), Null()));
  ASSERT_TRUE(r.ok);
  const auto* cmp = r.value->as<BinOpExpr>();
  ASSERT_NE(cmp, nullptr);
  EXPECT_EQ(cmp->op, BinOp::rel(ROp::Eq));
  EXPECT_EQ(cmp->op.relType(), Type(NoType{}));
  EXPECT_EQ(texprType(*cmp->right), kInt);
  EXPECT_TRUE(cmp->right->is<LitNull>());
}

TEST(UnsafeCheck, GoalVariablesAreTheScope) {
  const ast::Domain dom = exprDomain();
  // Of two goal variables of one name the first counts.
  const std::vector<Decl> vars = {D("a", kInt), D("a", kBool), D("s", structType("S"))};
  TExprP t = unsafeCheck(vars, dom, rel(ROp::Eq, V("a"), acc(V("s"), "v")));
  EXPECT_EQ(showTExpr(*t),
            "BinOpExpr (RelOp Eq notype) (Var \"a\" Int) (Access (Var \"s\" S) \"v\" Int) Bool");
  EXPECT_EQ(showTExpr(*unsafeCheck(vars, dom, Res())), "ResultVar notype");

  const std::pair<ExprP, std::string> failures[] = {
      {V("x"), "x not found in declarations"},  // only the goal variables are in scope
      {rel(ROp::Eq, Res(), I(1)), "(ResultVar notype,LitInt 1) are unsuitable arguments for Eq"},
      {un(UnOp::Not, V("a")), "(Var \"a\" Int) is an unsuitable argument for Not"},
  };
  for (const auto& [e, msg] : failures) {
    try {
      unsafeCheck(vars, dom, e);
      ADD_FAILURE() << "no error for " << msg;
    } catch (const Fatal& f) {
      EXPECT_EQ(f.message, msg);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Domains

TEST(TypecheckDomain, TypesEveryClauseInOrder) {
  ast::Domain d;
  d.domStructs = {Struct{"Acc", {D("bal", kInt)}}, Struct{"B", {}}};
  d.domProcs = {
      fn("dep", {D("a", structType("Acc")), D("n", kInt), D("n", kBool)}, NoType{},
         {rel(ROp::Gt, V("n"), I(0)), rel(ROp::Eq, Res(), Null())},
         {rel(ROp::Eq, acc(V("a"), "bal"), bin(BinOp::Add, un(UnOp::Old, acc(V("a"), "bal")), V("n")))}),
      fn("noop", {}, NoType{})};
  d.domFuncs = {fn("fact", {D("k", kInt)}, kInt, {rel(ROp::Gte, V("k"), I(0))},
                   {rel(ROp::Eq, Res(), call("fact", {bin(BinOp::Sub, V("k"), I(1))}))})};
  Checked<Domain> r = typecheckDomain(d);
  ASSERT_TRUE(r.ok) << r.error;
  const Domain& t = r.value;
  ASSERT_EQ(t.domStructs.size(), 2u);
  EXPECT_EQ(t.domStructs[0].structName, "Acc");
  EXPECT_EQ(t.domStructs[1].structName, "B");
  ASSERT_EQ(t.domProcs.size(), 2u);
  const Procedure& dep = t.domProcs[0];
  EXPECT_EQ(dep.prcdName, "dep");
  EXPECT_EQ(dep.prcdArgs.size(), 3u);
  EXPECT_EQ(dep.prcdResult, Type(NoType{}));
  ASSERT_EQ(dep.prcdReq.size(), 2u);
  EXPECT_EQ(dep.prcdReq[0].clauseName, "r0");
  EXPECT_EQ(showTExpr(*dep.prcdReq[0].clauseExpr),
            "BinOpExpr (RelOp Gt notype) (Var \"n\" Int) (LitInt 0) Bool");
  EXPECT_EQ(dep.prcdReq[1].clauseName, "r1");
  EXPECT_EQ(showTExpr(*dep.prcdReq[1].clauseExpr),
            "BinOpExpr (RelOp Eq notype) (ResultVar notype) (LitNull notype) Bool");
  ASSERT_EQ(dep.prcdEns.size(), 1u);
  EXPECT_EQ(dep.prcdEns[0].clauseName, "e2");
  EXPECT_EQ(showTExpr(*dep.prcdEns[0].clauseExpr),
            "BinOpExpr (RelOp Eq notype) (Access (Var \"a\" Acc) \"bal\" Int) (BinOpExpr Add "
            "(UnOpExpr Old (Access (Var \"a\" Acc) \"bal\" Int) Int) (Var \"n\" Int) Int) Bool");
  EXPECT_EQ(t.domProcs[1].prcdName, "noop");
  EXPECT_TRUE(t.domProcs[1].prcdReq.empty());
  ASSERT_EQ(t.domFuncs.size(), 1u);
  EXPECT_EQ(t.domFuncs[0].prcdResult, kInt);
  EXPECT_EQ(showTExpr(*t.domFuncs[0].prcdEns[0].clauseExpr),
            "BinOpExpr (RelOp Eq notype) (ResultVar Int) (Call \"fact\" [BinOpExpr Sub (Var \"k\" "
            "Int) (LitInt 1) Int] Int) Bool");
}

TEST(TypecheckDomain, EmptyDomain) {
  ast::Domain d;
  d.domStructs = {Struct{"S", {D("v", kInt)}}};
  Checked<Domain> r = typecheckDomain(d);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.value.domStructs.size(), 1u);
  EXPECT_EQ(r.value.domStructs[0].structDecls.size(), 1u);
  EXPECT_TRUE(r.value.domProcs.empty());
  EXPECT_TRUE(r.value.domFuncs.empty());
}

TEST(TypecheckDomain, FirstErrorWins) {
  auto bad = [](std::string var) { return rel(ROp::Eq, V(std::move(var)), I(0)); };
  auto dom = [](std::vector<ast::Procedure> procs, std::vector<ast::Procedure> funcs) {
    ast::Domain d;
    d.domProcs = std::move(procs);
    d.domFuncs = std::move(funcs);
    return d;
  };
  const std::pair<ast::Domain, std::string> cases[] = {
      {dom({fn("p1", {}, NoType{}, {bad("a")}), fn("p2", {}, NoType{}, {bad("b")})}, {}),
       "a not found in declarations"},
      {dom({fn("p", {}, NoType{}, {}, {bad("late")})}, {fn("f", {}, kInt, {bad("early")})}),
       "late not found in declarations"},
      {dom({fn("p", {}, NoType{}, {bad("req")}, {bad("ens")})}, {}), "req not found in declarations"},
      {dom({fn("p", {}, NoType{}, {B(true), bad("second")})}, {}),
       "second not found in declarations"},
      {dom({fn("p", {}, NoType{})}, {fn("f1", {}, kInt, {}, {bad("x")}), fn("f2", {}, kInt, {bad("y")})}),
       "x not found in declarations"},
      // Result is NoType in a procedure, in require clauses too.
      {dom({fn("p", {}, NoType{}, {rel(ROp::Eq, Res(), I(1))})}, {}),
       "(ResultVar notype,LitInt 1) are unsuitable arguments for Eq"},
      {dom({fn("p", {}, NoType{}, {}, {acc(Res(), "v")})}, {}), "notype not a struct"},
      {dom({fn("p", {}, NoType{}, {Null()})}, {}), "Can't typecheck null"},
      {dom({fn("p", {D("k", kInt)}, NoType{}, {un(UnOp::Neg, B(false))})}, {}),
       "(LitBool False) is an unsuitable argument for Neg"},
      // Calls resolve against functions only, whatever the clause.
      {dom({fn("p", {}, NoType{}), fn("q", {}, NoType{}, {call("p", {})})}, {}),
       "Coudln't find function p"},
      // A function's parameters are its only names; of two with one name the first counts.
      {dom({}, {fn("f", {D("k", kBool), D("k", kInt)}, kInt, {bin(BinOp::Add, V("k"), I(1))})}),
       "(Var \"k\" Bool,LitInt 1) are unsuitable arguments for Add"},
  };
  for (const auto& [d, msg] : cases) {
    Checked<Domain> r = typecheckDomain(d);
    EXPECT_FALSE(r.ok) << msg;
    EXPECT_EQ(r.error, msg);
    EXPECT_EQ(domainTypeError(d), std::optional<std::string>(msg));
  }
}

// The domain's first error is found by following types alone and then checking the failing
// procedure in full; it is the error of the full check of the whole domain, and a domain
// without one passes both. Every expression case goes in as a require clause (in front of a
// well-typed one) and as an ensure clause (behind one), of a procedure and of a function.
TEST(TypecheckDomain, FirstErrorAloneIsTheFullChecksError) {
  std::vector<Decl> params;
  for (const auto& [name, type] : kScope) params.push_back(D(name, type));
  const ExprP fine = rel(ROp::Eq, V("x"), I(1));
  auto check = [](const ast::Domain& d, const std::string& what) {
    Checked<Domain> full = typecheckDomain(d);
    std::optional<std::string> first = domainTypeError(d);
    EXPECT_EQ(first.has_value(), !full.ok) << what;
    if (first && !full.ok) {
      EXPECT_EQ(*first, full.error) << what;
    }
  };
  for (const Case& c : exprCases())
    for (bool isFunction : {false, true}) {
      ast::Domain d = exprDomain();
      ast::Procedure p = fn("q", params, isFunction ? kInt : NoType{}, {c.e, fine}, {fine, c.e});
      (isFunction ? d.domFuncs : d.domProcs).insert((isFunction ? d.domFuncs : d.domProcs).begin(), p);
      check(d, c.what);
    }
}

// ---------------------------------------------------------------------------------------
// Deep input

// Releases a syntax tree built bottom-up without a deep cascade of destructors.
struct Spine {
  std::vector<ExprP> nodes;
  ~Spine() {
    while (!nodes.empty()) nodes.pop_back();
  }
};

TEST(TypecheckDeep, LongChainsAndDeepNesting) {
  const ast::Domain dom = exprDomain();
  constexpr int n = 100000;
  {
    Spine s;  // x + 1 + 1 + ... as the grammar builds it: a left spine
    s.nodes.push_back(V("x"));
    for (int i = 0; i < n; ++i) s.nodes.push_back(bin(BinOp::Add, s.nodes.back(), I(1)));
    Checked<TExprP> r = typecheckExpr(kScope, dom, NoType{}, s.nodes.back());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(texprType(*r.value), kInt);
    EXPECT_EQ(showTExpr(*r.value).size(), 11u + static_cast<std::size_t>(n) * 31);
  }
  {
    Spine s;  // an error at the bottom of a deep right spine
    s.nodes.push_back(B(true));
    for (int i = 0; i < n; ++i) s.nodes.push_back(bin(BinOp::Add, I(1), s.nodes.back()));
    Checked<TExprP> r = typecheckExpr(kScope, dom, NoType{}, s.nodes.back());
    EXPECT_EQ(r.error, "(LitInt 1,LitBool True) are unsuitable arguments for Add");
  }
  {
    Spine s;  // nested calls and unary operators, as deep as the grammar allows
    s.nodes.push_back(I(1));
    for (int i = 0; i < 1000; ++i) {
      s.nodes.push_back(un(UnOp::Old, s.nodes.back()));
      s.nodes.push_back(call("f", {s.nodes.back(), acc(call("mk", {V("s")}), "v")}));
    }
    Checked<TExprP> r = typecheckExpr(kScope, dom, NoType{}, s.nodes.back());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(texprType(*r.value), kInt);
  }
}

}  // namespace
}  // namespace vorlax::tc
