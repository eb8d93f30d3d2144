// The payloads of a verdict, derived on first use, and its text form.
#include <gtest/gtest.h>

#include "fixtures/pipe/fakes.hpp"
#include "math/smt/yices/pipe.hpp"

using namespace vorlax::yices;
using namespace pipetest;

TEST(ResY, UnSatNumbersOnFirstUse) {
  struct Case {
    std::vector<std::string> lines;
    std::vector<mpz_class> numbers;
    std::string fatal;  // empty: no failure
  } cases[] = {
      {{"unsat core ids: 1 -22 333"}, {1, -22, 333}, ""},
      {{"ids:\t7  8 ", "more"}, {7, 8}, ""},
      {{"a: b: 4"}, {}, "Prelude.read: no parse"},
      {{"ids:"}, {}, ""},
      {{}, {}, "Prelude.head: empty list"},
      {{"no colon 1 2"}, {}, "Prelude.tail: empty list"},
      {{"ids: 1 x2"}, {}, "Prelude.read: no parse"},
      {{"ids: -"}, {}, "Prelude.read: no parse"},
      {{"ids: +3"}, {}, "Prelude.read: no parse"},
  };
  for (const auto& c : cases) {
    ResY r(ResY::UnSat, c.lines);  // building it never fails
    if (c.fatal.empty()) {
      EXPECT_EQ(r.unsatCore(), c.numbers) << c.lines.at(0);
    } else {
      EXPECT_EQ(fatalMessage([&] { r.unsatCore(); }), c.fatal);
    }
  }
}

TEST(ResY, ModelParsedOnFirstUse) {
  ResY empty(ResY::Sat, {});
  EXPECT_TRUE(empty.model().empty());

  ResY r(ResY::Unknown, {"(= x 1)", "(= (f 2) true)"});
  const auto& m = r.model();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(showExpY(*m[0]), "(= x 1)");
  EXPECT_EQ(showExpY(*m[1]), "(= (f 2) true)");
  EXPECT_EQ(&r.model(), &m);  // parsed once

  ResY bad(ResY::Sat, {"(= x"});  // a broken model is fatal only when it is used
  EXPECT_FALSE(fatalMessage([&] { bad.model(); }).empty());
}

TEST(ResY, TextForm) {
  struct Case {
    ResY r;
    int prec;
    std::string text;
  } cases[] = {
      {ResY(ResY::Sat, {"(= x 1)", "(= y -2)"}), 0, "Sat [(= x 1),(= y -2)]"},
      {ResY(ResY::Unknown, {}), 0, "Unknown []"},
      {ResY(ResY::UnSat, {"ids: 3 -4"}), 0, "UnSat [3,-4]"},
      {ResY(ResY::InCon, {"Error: \"x\"", "a\\b"}), 0, "InCon [\"Error: \\\"x\\\"\",\"a\\\\b\"]"},
      {ResY(ResY::InCon, {}), 11, "(InCon [])"},
      {ResY(ResY::UnSat, {"ids: 5"}), 10, "UnSat [5]"},
  };
  for (const auto& c : cases) EXPECT_EQ(showResY(c.r, c.prec), c.text);
}
