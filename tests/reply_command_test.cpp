// Reading solver commands, with their string literals.
#include <gtest/gtest.h>

#include "fixtures/reply/support.hpp"

using namespace vorlax::yices;
using treetext::fatalOf;

namespace {

std::string readCmd(std::string_view text) { return treetext::cmd(parseCmdY(text)); }

}  // namespace

TEST(ReplyCommand, Values) {
  struct Case { std::string text, want; } cases[] = {
      {"(check)", "CHECK"},
      {" \t(\n check \n)\n", "CHECK"},
      {"(define-type T)", "(DEFTYP T -)"},
      {"(define-type T int)", "(DEFTYP T int)"},
      {"(define-type C (scalar a b))", "(DEFTYP C (SCALAR [a b]))"},
      {"(define x::int)", "(DEFINE x:int -)"},
      {"(define x::int 5)", "(DEFINE x:int 5)"},
      {"(define f::(-> int bool) (lambda (i::int) true))", "(DEFINE f:(ARR [int bool]) (LAMBDA [i:int] #t))"},
      {"(assert p)", "(ASSERT p)"},
      {"(assert+ p)", "(ASSERT_P p -)"},
      {"(assert+ p 3)", "(ASSERT_P p 3)"},
      {"(retract -1)", "(RETRACT -1)"},
      {"(set-verbosity! 2)", "(SETV 2)"},
      {"(set-evidence! true)", "(SETE #t)"},
      {"(set-arith-only! false)", "(SETAO #f)"},
      {"(push)", "PUSH"},
      {"(pop)", "POP"},
      {"(max-sat)", "MAXSAT"},
      {"(reset)", "RESET"},
      {"(status)", "STATUS"},
      {"(dump-context)", "DUMP"},
      {"(exit)", "EXIT"},
      {"(echo \"hi there\")", "(ECHO \"hi there\")"},
      {"(include \"a.ys\" )", "(INCLUDE \"a.ys\")"},
      // no blank is needed after a keyword
      {"(assertx)", "(ASSERT x)"},
      {"(retract5)", "(RETRACT 5)"},
      {"(echo\"x\")", "(ECHO \"x\")"},
      {"(check) trailing junk (", "CHECK"},
  };
  for (const auto& c : cases) {
    std::string got;
    EXPECT_EQ(fatalOf([&] { got = readCmd(c.text); }), "<no error>") << c.text;
    EXPECT_EQ(got, c.want) << c.text;
  }
}

TEST(ReplyCommand, StringLiterals) {
  struct Case { std::string literal, want; } cases[] = {
      {R"("a\nb")", "a\nb"},
      {R"("\SOH")", "\x01"},
      {R"("\SO\&H")", std::string("\x0E") + "H"},
      {"\"a\\  \n  \\b\"", "ab"},  // a gap stands for nothing
      {R"("\^A\^Z")", std::string("\0", 1) + "\x19"},
      {R"("\65\x41\o101\X")", ""},  // placeholder, replaced below
      {R"("\a\b\f\r\t\v\\\"\'")", "\a\b\f\r\t\v\\\"'"},
      {R"("\DEL\ESC\SP\US")", "\x7F\x1B \x1F"},
      {R"("\1114111")", "\xF4\x8F\xBF\xBF"},  // the largest code point, as UTF-8
      {R"("\233")", "\xE9"},
      {"\"\xE9t\xE9\"", "\xE9t\xE9"},
  };
  cases[5] = {R"("\65\x41\o101\xa")", "AAA\n"};
  for (const auto& c : cases) {
    std::string got;
    EXPECT_EQ(fatalOf([&] { got = readCmd("(echo " + c.literal + ")"); }), "<no error>") << c.literal;
    EXPECT_EQ(got, "(ECHO " + treetext::quoted(c.want) + ")") << c.literal;
  }
}

TEST(ReplyCommand, WorkedMessages) {
  struct Case { std::string text, want; } cases[] = {
      {"()",
       "\"parseCmdY\" (line 1, column 2):\nunexpected \")\"\nexpecting white space, \"define-type\", \"define\", "
       "\"assert\", \"assert+\", \"retract\", \"check\", \"max-sat\", \"set-evidence!\", \"set-verbosity!\", "
       "\"set-arith-only!\", \"push\", \"pop\", \"echo\", \"include\", \"reset\", \"status\", \"dump-context\" or "
       "\"exit\""},
      {"(retract)", "\"parseCmdY\" (line 1, column 9):\nunexpected \")\"\nexpecting white space or integer"},
      {"(define-type)", "\"parseCmdY\" (line 1, column 8):\nunexpected \"-\"\nexpecting white space or identifier"},
      {"(echo)", "\"parseCmdY\" (line 1, column 6):\nunexpected \")\"\nexpecting white space or literal string"},
  };
  for (const auto& c : cases) EXPECT_EQ(fatalOf([&] { readCmd(c.text); }), c.want) << c.text;
}

TEST(ReplyCommand, Failures) {
  struct Case { std::string text, want; } cases[] = {
      {"(set-evidence!)", "\"parseCmdY\" (line 1, column 15):\nunexpected \")\"\nexpecting white space or boolean"},
      {"(define-type T 5)", "\"parseCmdY\" (line 1, column 16):\nunexpected \"5\"\nexpecting space, "
                            "identifier, white space, \"(\" or \")\""},
      {"(assert 5 6)", "\"parseCmdY\" (line 1, column 11):\nunexpected \"6\"\nexpecting space, white space or \")\""},
      // booleans of commands are read by prefix, unlike those of expressions
      {"(set-evidence! trueish)", "\"parseCmdY\" (line 1, column 20):\nunexpected \"i\"\nexpecting white space or \")\""},
      {"(checkpoint)", "\"parseCmdY\" (line 1, column 7):\nunexpected \"p\"\nexpecting white space or \")\""},
      {"(echo \"a\" x)", "\"parseCmdY\" (line 1, column 11):\nunexpected \"x\"\nexpecting white space or \")\""},
      {"(echo \"a\tb\")", "\"parseCmdY\" (line 1, column 9):\nunexpected \"\\t\"\nexpecting string character "
                         "or end of string"},
      {"(echo \"a\nb\")", "\"parseCmdY\" (line 1, column 9):\nunexpected \"\\n\"\nexpecting string character "
                         "or end of string"},
      {"(echo \"ab", "\"parseCmdY\" (line 1, column 10):\nunexpected end of input\nexpecting string character "
                     "or end of string"},
      {"(echo \"\\xg\")", "\"parseCmdY\" (line 1, column 10):\nunexpected \"g\"\nexpecting hexadecimal digit"},
      {"(echo \"\\q\")", "\"parseCmdY\" (line 1, column 9):\nunexpected \"q\"\nexpecting space, \"&\" or escape code"},
      {"(echo \"\\ x\")", "\"parseCmdY\" (line 1, column 10):\nunexpected \"x\"\nexpecting space or end of string gap"},
      {"(echo \"\\^a\")", "\"parseCmdY\" (line 1, column 10):\nunexpected \"a\"\nexpecting uppercase letter"},
  };
  for (const auto& c : cases) EXPECT_EQ(fatalOf([&] { readCmd(c.text); }), c.want) << c.text;
  // The assert form gives everything back, its items kept; "assert+" then fails on its "+".
  EXPECT_EQ(fatalOf([] { readCmd("(assert)"); }),
            "\"parseCmdY\" (line 1, column 2):\nunexpected \"a\"\nexpecting white space, \"define-type\", \"define\", "
            "boolean, rational, integer, identifier, \"(\", \"assert+\", \"retract\", \"check\", \"max-sat\", "
            "\"set-evidence!\", \"set-verbosity!\", \"set-arith-only!\", \"push\", \"pop\", \"echo\", \"include\", "
            "\"reset\", \"status\", \"dump-context\" or \"exit\"");
  // A failure inside a form that backtracks is placed at its keyword.
  for (std::string text : {"(assert)", "(assert (f)", "(CHECK)", "(frob)"}) {
    std::string msg = fatalOf([&] { readCmd(text); });
    EXPECT_EQ(msg.substr(0, msg.find(':')), "\"parseCmdY\" (line 1, column 2)") << text << "\n" << msg;
  }
}

TEST(ReplyCommand, NumericEscapeOutOfRange) {
  EXPECT_EQ(fatalOf([] { readCmd(R"((echo "\1114112"))"); }), "Prelude.chr: bad argument: 1114112");
  EXPECT_EQ(fatalOf([] { readCmd(R"((echo "\4294967295"))"); }), "Prelude.chr: bad argument: (-1)");
  // only the low 32 bits count: 2^32 + 65 is "A"
  EXPECT_EQ(readCmd(R"((echo "\4294967361"))"), "(ECHO \"A\")");
}

TEST(ReplyCommand, DeepNestingIsAFatalErrorNotACrash) {
  std::string deep = "(assert ";
  for (int i = 0; i < 100000; ++i) deep += "(and ";
  EXPECT_EQ(fatalOf([&] { readCmd(deep); }).rfind("input nests too deeply", 0), 0u);
  std::string deepType = "(define-type t ";
  for (int i = 0; i < 100000; ++i) deepType += "(tuple int ";
  EXPECT_EQ(fatalOf([&] { readCmd(deepType); }).rfind("input nests too deeply", 0), 0u);
}
