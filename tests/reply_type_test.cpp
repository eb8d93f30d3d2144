// Reading solver types: names, dependent binders and the seven parenthesised forms.
#include <gtest/gtest.h>

#include "fixtures/reply/support.hpp"

using namespace vorlax::yices;
using treetext::fatalOf;
using treetext::run;
using vorlax::parsing::Out;

namespace {

std::string readType(std::string_view text) { return treetext::typ(parseTypY(text)); }

}  // namespace

TEST(ReplyType, Values) {
  struct Case { std::string text, want; } cases[] = {
      {"int", "int"},
      {"subtype", "subtype"},
      {" int", "int"},
      {"x::int", "(DEP x:int)"},
      {"x :: int", "(DEP x:int)"},
      {"x::(subrange 0 5)", "(DEP x:(SUBRANGE 0 5))"},
      {"x::y::int", "(DEP x:y)"},  // the rest "::int" is left unread
      {"x:int", "x"},
      {"(-> int bool)", "(ARR [int bool])"},
      {"(->int bool)", "(ARR [int bool])"},
      {"(-> x::int (subrange 0 x))", "(ARR [(DEP x:int) (SUBRANGE 0 x)])"},
      {"(-> a b c d)", "(ARR [a b c d])"},
      {"( tuple int  bool )", "(TUP [int bool])"},
      {"(tuple int (tuple bool real))", "(TUP [int (TUP [bool real])])"},
      {"(tuplex y)", "(TUP [x y])"},  // type keywords match as prefixes
      {"(record a::int b::bool)", "(REC [a:int b:bool])"},
      {"(record a::x::int)", "(REC [a:(DEP x:int)])"},
      {"(datatype (red) (rgb r::int g::int))", "(DATATYPE [red[] rgb[r:int g:int]])"},
      {"(scalar red green blue)", "(SCALAR [red green blue])"},
      {"(subtype (x::int) (> x 0))", "(SUBTYPE x:int (GT x 0))"},
      {"(subrange 0 10)", "(SUBRANGE 0 10)"},
      {"(subrange -1 (+ n 1))", "(SUBRANGE -1 (PLUS n 1))"},
  };
  for (const auto& c : cases) {
    std::string got;
    EXPECT_EQ(fatalOf([&] { got = readType(c.text); }), "<no error>") << c.text;
    EXPECT_EQ(got, c.want) << c.text;
  }
}

TEST(ReplyType, WhatIsLeftUnread) {
  auto t = run<TypYP>(grammar::typY, "x::y::int");
  EXPECT_EQ(t.out, Out::ConsumedOk);
  EXPECT_EQ(t.rest, "::int");
  t = run<TypYP>(grammar::typY, "x:int");
  EXPECT_EQ(t.rest, ":int");

  auto b = run<IdTyp>(grammar::idTypY, "x::y::int");
  EXPECT_EQ(b.out, Out::ConsumedOk);
  EXPECT_EQ(treetext::idTyp(b.value), "x:(DEP y:int)");
  EXPECT_EQ(run<IdTyp>(grammar::idTypY, "x:int").out, Out::ConsumedErr);
  EXPECT_EQ(run<IdTyp>(grammar::idTypY, "(x::int)").out, Out::EmptyErr);
}

TEST(ReplyType, Failures) {
  const std::string forms =
      "expecting white space, \"subtype\", \"subrange\", \"->\", \"tuple\", \"record\", \"datatype\" or "
      "\"scalar\"";
  struct Case { std::string text, want; } cases[] = {
      {"(subtypo x)", "\"parseTypY\" (line 1, column 2):\nunexpected \"s\"\n" + forms},
      {"(int)", "\"parseTypY\" (line 1, column 2):\nunexpected \"i\"\n" + forms},
      {"", "\"parseTypY\" (line 1, column 1):\nunexpected end of input\nexpecting identifier, white space or \"(\""},
      {" (tuple int bool)", "\"parseTypY\" (line 1, column 2):\nunexpected \"(\"\nexpecting space, letter or \"_\""},
      {"x::123", "\"parseTypY\" (line 1, column 4):\nunexpected \"1\"\nexpecting white space, identifier or \"(\""},
      {"(-> int)", "\"parseTypY\" (line 1, column 8):\nunexpected \")\"\nexpecting letter or digit, white space, "
                   "\"::\", identifier or \"(\""},
      {"(record)", "\"parseTypY\" (line 1, column 8):\nunexpected \")\"\nexpecting white space or identifier"},
      {"(record a::int b)", "\"parseTypY\" (line 1, column 17):\nunexpected \")\"\nexpecting letter or digit, "
                            "white space or \"::\""},
      {"(datatype red green)", "\"parseTypY\" (line 1, column 11):\nunexpected \"r\"\nexpecting space, white space "
                               "or \"(\""},
      {"(scalar)", "\"parseTypY\" (line 1, column 8):\nunexpected \")\"\nexpecting white space or identifier"},
  };
  for (const auto& c : cases) EXPECT_EQ(fatalOf([&] { readType(c.text); }), c.want) << c.text;
  // The remaining failures by their position only.
  struct Pos { std::string text, where; } positions[] = {
      {"(tuple int)", "(line 1, column 11)"},
      {"(datatype)", "(line 1, column 10)"},
      {"(subtype x::int (> x 0))", "(line 1, column 10)"},
      {"(subrange 0)", "(line 1, column 12)"},
  };
  for (const auto& c : positions) {
    std::string msg = fatalOf([&] { readType(c.text); });
    EXPECT_EQ(msg.substr(0, msg.find(':')), "\"parseTypY\" " + c.where) << c.text << "\n" << msg;
  }
}

TEST(ReplyType, DeepTypesAreAFatalErrorNotACrash) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "(-> int ";
  EXPECT_EQ(fatalOf([&] { parseTypY(deep); }).rfind("input nests too deeply", 0), 0u);
  std::string deepDep;
  for (int i = 0; i < 100000; ++i) deepDep += "(tuple x::";
  EXPECT_EQ(fatalOf([&] { parseTypY(deepDep); }).rfind("input nests too deeply", 0), 0u);
}
