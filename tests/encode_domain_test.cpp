// The domain encoding of a domain built directly as a syntax tree (no parser involved).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fatal.hpp"
#include "yices_domain.hpp"
#include "file_support.hpp"
#include "tree_support.hpp"

namespace vorlax {
namespace {

using namespace testing_support;

namespace y = yices;
using ast::ExprP;



std::string encode(const ast::Domain& d) {
  std::string out;
  procDom(d, [&](const y::CmdY& c) { out += y::showCmdY(c) + "\n"; });
  return out;
}

// type Account { balance : Int  active : Bool }
// fee (a : Account) : Int ensure flat: Result = 1
// deposit (a : Account, v : Int) require positive: v > 0
//   ensure added: a.balance = old(a.balance) + v
ast::Domain accountDomain() {
  ast::Domain d;
  const Type account = structType("Account");
  d.domStructs.push_back({"Account", {{"balance", IntType{}}, {"active", BoolType{}}}});
  ast::Procedure fee{"fee", {{"a", account}}, IntType{}, {},
                     {{"flat", bin(BinOp::rel(ROp::Eq), ast::mk(ast::ResultVar{}), lit(1))}}};
  d.domFuncs.push_back(fee);
  const ExprP balance = acc(var("a"), "balance");
  ast::Procedure deposit{
      "deposit",
      {{"a", account}, {"v", IntType{}}},
      NoType{},
      {{"positive", bin(BinOp::rel(ROp::Gt), var("v"), lit(0))}},
      {{"added", bin(BinOp::rel(ROp::Eq), balance, bin(BinOp{BinOp::Add}, old(balance), var("v")))}}};
  d.domProcs.push_back(deposit);
  return d;
}

TEST(ProcDom, WorkedExample) {
  EXPECT_EQ(encode(accountDomain()),
            slurp(std::string(VORLAX_FIXTURES) + "/encode/account.dom.lisp.expected"));
}

TEST(ProcDom, EmptyDomain) {
  EXPECT_EQ(encode(ast::Domain{}),
            slurp(std::string(VORLAX_FIXTURES) + "/encode/empty.dom.lisp.expected"));
}

TEST(ProcDom, TypeErrorComesBeforeAnyCommand) {
  ast::Domain d = accountDomain();
  d.domProcs[0].prcdReq.push_back({"bad", var("nowhere")});
  int emitted = 0;
  try {
    procDom(d, [&](const y::CmdY&) { ++emitted; });
    ADD_FAILURE();
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message, "Error typechecking domain: nowhere not found in declarations");
  }
  EXPECT_EQ(emitted, 0);
}

// Bool_arg and Double_arg are declared right after Int_arg, and only when some procedure
// has a parameter of that type.
TEST(ProcDom, SelectorsForBoolAndDoubleParameters) {
  const auto selectors = [](std::vector<Decl> params) {
    ast::Domain d;
    d.domProcs.push_back({"p", std::move(params), NoType{}, {}, {}});
    std::vector<std::string> out;
    procDom(d, [&](const y::CmdY& c) {
      const std::string text = y::showCmdY(c);
      if (text.find("_arg::") != std::string::npos) out.push_back(text);
    });
    return out;
  };
  EXPECT_EQ(selectors({{"r", DoubleType{}}, {"b", BoolType{}}}),
            (std::vector<std::string>{"(define Int_arg::(-> int int int))",
                                      "(define Bool_arg::(-> int int bool))",
                                      "(define Double_arg::(-> int int real))"}));
  EXPECT_EQ(selectors({{"r", DoubleType{}}}),
            (std::vector<std::string>{"(define Int_arg::(-> int int int))",
                                      "(define Double_arg::(-> int int real))"}));
  EXPECT_EQ(selectors({{"n", IntType{}}}),
            (std::vector<std::string>{"(define Int_arg::(-> int int int))"}));
}

}  // namespace
}  // namespace vorlax
