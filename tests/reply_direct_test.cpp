// The two readings of reply expressions: the direct reader that parseExpYs and parseExpY try
// first, and the engine grammar that they fall back to. Wherever the direct reader gives a
// value, it must be the grammar's value; wherever the grammar fails, the direct reader must
// give up, so that the message is the grammar's.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/reply/support.hpp"
#include "math/smt/yices/parser.hpp"

using namespace vorlax::yices;
using treetext::fatalOf;

namespace {

// The values of a text as the grammar reads it, or its fatal message.
struct Reading {
  bool ok = false;
  std::string text;  // the trees joined by " | ", or the message
};

std::string joined(const std::vector<ExpYP>& es) {
  std::string out;
  for (const ExpYP& e : es) out += (out.empty() ? "" : " | ") + treetext::exp(e);
  return out;
}

Reading byGrammar(const std::string& text) {
  Reading r;
  std::string msg = fatalOf([&] { r.text = joined(grammar::parseExpYsByGrammar(text)); });
  r.ok = msg == "<no error>";
  if (!r.ok) r.text = msg;
  return r;
}

Reading byEntryPoint(const std::string& text) {
  Reading r;
  std::string msg = fatalOf([&] { r.text = joined(parseExpYs(text)); });
  r.ok = msg == "<no error>";
  if (!r.ok) r.text = msg;
  return r;
}

// The direct reader agrees with the grammar on text; `direct` says whether it must read the
// text itself rather than give up.
void expectAgree(const std::string& text, bool direct) {
  const Reading g = byGrammar(text);
  const auto d = grammar::readExpYsDirect(text);
  if (d) {
    EXPECT_TRUE(g.ok) << "the direct reader read a text the grammar rejects: " << text << "\n" << g.text;
    if (g.ok) {
      EXPECT_EQ(joined(*d), g.text) << text;
    }
  }
  EXPECT_EQ(d.has_value(), direct) << text << "\n" << g.text;
  const Reading e = byEntryPoint(text);
  EXPECT_EQ(e.ok, g.ok) << text;
  EXPECT_EQ(e.text, g.text) << text;
}

std::string repeated(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

}  // namespace

TEST(ReplyDirect, ReadsWhatAModelHolds) {
  const char* texts[] = {
      "",
      "(= x 1)\n(= y 2)\n",
      "(= (f 3 7) g_obj2)\n(= x12 -49993)\n(= (h 1 2) -5/3)\n",
      "(= (tag_array 0) P_tag_proc1)\n(= (T_arg 1 0) 5)\n(= a b)\n",
      // literals
      "-5 1/2 -1/2 6/4 -6/4 0/5 007 -0 5/0 -3/0 0/0",
      "123456789012345678901234567890123456789 -246913578024691357802469135780246913578/2",
      "99999999999999999999/99999999999999999999 18446744073709551615/18446744073709551616",
      "true false truex false' true_ true9 t tag_array",
      "(f true(g false))", "true)", "true-1", "1/x", "1/", "5/-2", "3/4/5",
      // names that begin with keywords, and keywords as names outside the head of a form
      "(ordered 1)", "(item_arg 1 0)", "(iffy a b c)", "(notify x)", "(= (notes 2) 5)",
      "(and_then a)", "(or2 a)", "(divisor 4)", "(letter' 1)", "(selected 1)", "(exists\xE9 1)",
      "(f and or not let forall)", "(mk 1)",
      // every form without types
      "(and x) (and x y z) (or a (not b)) (and(p x) q) (not\tx)",
      "(=> p q) (= a b) (/= a b) (< a b) (<= a b) (> a b) (>= a b)",
      "(+ a b) (- 5 2) (* a b) (/ a b) (div a b) (mod a b)",
      "(=x 1) (-1 2) (+x y) (/x y) (<a b) (>=a b) (=>a b)",
      "(if c 1 2) (ite c 1 2) (mk-tuple 1 2) (mk-tuple 1 2 3)",
      "(mk-record a::1 b :: x) (mk-record a ::(f 1))",
      "(update f (1 2) 3) (update f () 3) (update f (g x) 3) (update f (1)3)",
      "(update t 2 v) (update t -1 v) (update r a v) (update r true v)",
      "(select t 1) (select t -0) (select r a) (select r false)",
      "(f 1 2) ((f a) b) (1 2) (-5 3) (1/2 x)",
      // whitespace between tokens, a carriage return and a no-break space included
      "(=  a   b )", "(=\n\ta\r\n b\n)", "(=\xA0" "a\vb\f)",
      // trailing text that starts no expression is ignored
      "(= x 1) ] junk", "]", ")", "x : y", "(= x 1) /x",
      // names beyond ASCII (Latin-1 letters, marks and numbers count by their byte)
      "(= \xC9t\xE9 1) (f \xAA \xB5" "a\xB2)",
  };
  for (const char* t : texts) expectAgree(t, true);
}

TEST(ReplyDirect, LeavesTheRestToTheGrammar) {
  // Forms with types, a text that begins with whitespace, and nesting past the direct
  // reader's depth: the grammar reads them, and the values are the grammar's.
  const std::string texts[] = {
      "(let (x 1 y::int 2) (+ x y))",
      "(forall (x::int y::bool) (p x y))",
      "(= y (exists (x::int) (> x 0)))",
      "(f (lambda (x::int)(f x)))",
      " true", " 7", " 1/2",
      repeated("(not ", 201) + "x" + repeated(")", 201),
      repeated("(f ", 300) + "x" + repeated(" 1)", 300),
  };
  for (const auto& t : texts) expectAgree(t, false);
  // Just within the depth the direct reader reads itself.
  expectAgree(repeated("(not ", 199) + "x" + repeated(")", 199), true);
}

TEST(ReplyDirect, GivesUpOnEveryFailure) {
  // A failed parse is never a value of the direct reader: parseExpYs reports the grammar's
  // message, position included.
  const std::string texts[] = {
      "(", "()", "(= x", "(= x\n", " x", " (= x 1)", "   ", "\tx", "- 5", "-", "-x",
      "(= x 1) (", "(and)", "(or)", "(f)", "(not a b)", "(= a)", "(= a b c)", "(ite c 1)",
      "(mk-tuple 1)", "(mk-tuplex 1 2)", "(mk-record a 1)", "(mk-record)", "(mk-record a: 1)",
      "(select r (a))", "(select t -)", "(select t)", "(update f (1 2)", "(update t x)",
      "(update t -x v)", "(update f (1 2) )", "(order)", "(notify)",
      "(=> a)", "(< a)", "(> a)", "(<= a)", "(=>)", "(<)", "(= x 1/)", "(= x 1/y)",
      "(f x", "(f (g", "((f a) b", "(truex 1 2", "(let ((x 1)) x)", "(let (x : 1) x)",
      "(forall () p)", "(forall (x::(subtypo y)) true)", "(= x 1) (= y",
      repeated("(", 100000), repeated("(f ", 100000), repeated("(not ", 100000) + "x",
  };
  for (const auto& t : texts) {
    ASSERT_FALSE(byGrammar(t).ok) << "not a failure: " << t.substr(0, 80);
    expectAgree(t, false);
  }
}

TEST(ReplyDirect, AgreesOnGeneratedTexts) {
  // Texts made of tokens, broken tokens and blanks in random order: whatever the grammar
  // makes of one, the direct reader either gives up or builds the same value.
  const char* pieces[] = {
      "(", "(", "(", ")", ")", ")", " ", " ", "\n", "\t", "=", "=>", "<", "<=", ">", ">=", "/=",
      "+", "-", "*", "/", "::", ":", "and", "or", "not", "if", "ite", "div", "mod", "mk-tuple",
      "mk-record", "update", "select", "let", "f", "x", "g_obj1", "item", "true", "false", "tru",
      "5", "-7", "1/2", "3/", "0/0", "12345678901234567890", "a::", "]",
  };
  std::mt19937 rng(16);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1), length(1, 14);
  int directValues = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string t;
    for (std::size_t n = length(rng); n > 0; --n) t += pieces[pick(rng)];
    const Reading g = byGrammar(t);
    const auto d = grammar::readExpYsDirect(t);
    if (d) {
      ++directValues;
      ASSERT_TRUE(g.ok) << "the direct reader read a text the grammar rejects: " << t << "\n" << g.text;
      ASSERT_EQ(joined(*d), g.text) << t;
    }
  }
  // The generated set reaches the direct reader's values, not only its giving up.
  EXPECT_GT(directValues, 2000);
}

TEST(ReplyDirect, SingleExpression) {
  // parseExpY reads one expression and ignores the rest; its failures are the grammar's.
  struct Case { std::string text; bool direct; } cases[] = {
      {"(= x 1) trailing ) junk", true}, {"x y", true}, {"-5/10", true}, {"(f 1 2)", true},
      {"", false}, {")", false}, {" x", false}, {"(= x", false}, {"(let (x 1) x)", false},
  };
  for (const auto& c : cases) {
    std::string want, got;
    const std::string wantMsg = fatalOf([&] { want = treetext::exp(grammar::parseExpYByGrammar(c.text)); });
    const std::string gotMsg = fatalOf([&] { got = treetext::exp(parseExpY(c.text)); });
    EXPECT_EQ(gotMsg, wantMsg) << c.text;
    EXPECT_EQ(got, want) << c.text;
    const auto d = grammar::readExpYDirect(c.text);
    EXPECT_EQ(d.has_value(), c.direct) << c.text;
    if (d) {
      EXPECT_EQ(treetext::exp(*d), want) << c.text;
    }
  }
}

TEST(ReplyDirect, SharedLeavesOutliveTheReadingAndEachOther) {
  // One node may serve every occurrence of a name or a number; the trees stay whole when
  // some of them are dropped, and when the text they were read from is gone.
  std::vector<ExpYP> kept;
  {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "(= (f " + std::to_string(i % 7) + " x) g_obj" + std::to_string(i % 3) + ")\n";
    std::vector<ExpYP> es = parseExpYs(text);
    ASSERT_EQ(es.size(), 5000u);
    for (std::size_t i = 0; i < es.size(); i += 97) kept.push_back(es[i]);
  }
  ASSERT_EQ(kept.size(), 52u);
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const std::size_t i = k * 97;
    EXPECT_EQ(treetext::exp(kept[k]),
              "(EQ (APP f [" + std::to_string(i % 7) + " x]) g_obj" + std::to_string(i % 3) + ")");
  }
}

TEST(ReplyDirect, MemoryOfDroppedTreesServesLaterReadingsOnly) {
  // The node memory of dropped trees goes to the next readings; memory that still holds a
  // node of a kept tree never does, whichever thread drops the rest and whether the kept
  // memory was handed back in between.
  auto model = [](int seed, int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
      text += "(= (f " + std::to_string(seed) + " " + std::to_string(i) + ") (+ x" + std::to_string(i) +
              " -" + std::to_string(seed + i) + "/7919))\n";
    return text;
  };
  std::vector<ExpYP> kept;
  std::vector<std::string> keptText;
  {
    std::vector<ExpYP> es = parseExpYs(model(1, 4000));  // many blocks of nodes
    ASSERT_EQ(es.size(), 4000u);
    for (std::size_t i = 0; i < es.size(); i += 61) {
      kept.push_back(es[i]);
      keptText.push_back(treetext::exp(es[i]));
    }
    // the rest is dropped on another thread while this one reads again
    std::thread drop([dropped = std::move(es)]() mutable { dropped.clear(); });
    EXPECT_EQ(parseExpYs(model(2, 3000)).size(), 3000u);
    drop.join();
  }
  for (int round = 0; round < 12; ++round) {
    if (round == 6) grammar::releaseKeptNodeMemory();
    const std::vector<ExpYP> es = parseExpYs(model(100 + round, 3000));
    ASSERT_EQ(es.size(), 3000u);
    EXPECT_EQ(treetext::exp(es[2999]), "(EQ (APP f [" + std::to_string(100 + round) + " 2999]) (PLUS x2999 -" +
                                           std::to_string(100 + round + 2999) + "/7919))");
    for (std::size_t k = 0; k < kept.size(); ++k) ASSERT_EQ(treetext::exp(kept[k]), keptText[k]) << round;
  }
}
