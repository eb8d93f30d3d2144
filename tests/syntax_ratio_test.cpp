#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "fatal.hpp"
#include "math/smt/yices/syntax.hpp"

using vorlax::yices::Ratio;

namespace {

std::string text(const Ratio& r) { return r.num.get_str() + "/" + r.den.get_str(); }

const std::string k2pow70 = "1180591620717411303424";

TEST(SyntaxRatio, MakeReducesAndPutsTheSignOnTheNumerator) {
  struct Row {
    mpz_class n, d;
    std::string want;
  };
  const std::vector<Row> rows = {
      {6, 4, "3/2"},     {-6, 4, "-3/2"},  {6, -4, "-3/2"}, {-6, -4, "3/2"},
      {0, -5, "0/1"},    {0, 1, "0/1"},    {7, 1, "7/1"},   {-9, -3, "3/1"},
      {mpz_class(k2pow70) * 3, mpz_class(k2pow70) * -6, "-1/2"},
      {mpz_class(k2pow70) + 1, mpz_class(k2pow70), k2pow70.substr(0, 21) + "5/" + k2pow70},
      // a zero denominator is kept as given: such a value is refused when it is used
      {5, 0, "5/0"},     {-5, 0, "-5/0"},  {0, 0, "0/0"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(text(Ratio::make(r.n, r.d)), r.want) << r.n << "/" << r.d;
  }
}

TEST(SyntaxRatio, FromDoubleIsExact) {
  struct Row {
    double x;
    std::string want;
  };
  const std::vector<Row> rows = {
      {0.5, "1/2"},
      {-0.75, "-3/4"},
      {3.0, "3/1"},
      {0.0, "0/1"},
      {-0.0, "0/1"},
      {0.1, "3602879701896397/36028797018963968"},
      {1e22, "10000000000000000000000/1"},
      {std::ldexp(1.0, -1074), "1/" + mpz_class(mpz_class(1) << 1074).get_str()},
      {-std::numeric_limits<double>::max(),
       "-" + mpz_class((mpz_class(1) << 1024) - (mpz_class(1) << 971)).get_str() + "/1"},
  };
  for (const Row& r : rows) EXPECT_EQ(text(Ratio::fromDouble(r.x)), r.want) << r.x;
}

TEST(SyntaxRatio, FromDoubleRefusesNonFiniteValues) {
  EXPECT_THROW(Ratio::fromDouble(std::numeric_limits<double>::infinity()), vorlax::Fatal);
  EXPECT_THROW(Ratio::fromDouble(-std::numeric_limits<double>::infinity()), vorlax::Fatal);
  EXPECT_THROW(Ratio::fromDouble(std::numeric_limits<double>::quiet_NaN()), vorlax::Fatal);
}

TEST(SyntaxRatio, ValueAndZeroDenominator) {
  EXPECT_EQ(Ratio::make(-6, 4).value(), mpq_class(-3, 2));
  EXPECT_FALSE(Ratio::make(0, 3).zeroDenominator());
  const Ratio bad = Ratio::make(-6, 0);
  EXPECT_TRUE(bad.zeroDenominator());
  try {
    (void)bad.value();
    ADD_FAILURE() << "value of n/0";
  } catch (const vorlax::Fatal& f) {
    EXPECT_EQ(f.message, "Ratio.%: zero denominator");
  }
}

}  // namespace
