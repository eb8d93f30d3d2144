#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "fatal.hpp"
#include "math/smt/yices/syntax.hpp"

using namespace vorlax::yices;

namespace {

ExpYP v(const std::string& n) { return mkE(VarE{n}); }
ExpYP i(const char* dec) { return mkE(LitI{mpz_class(dec)}); }
ExpYP i(long n) { return mkE(LitI{mpz_class(n)}); }
ExpYP r(long n, long d) { return mkE(LitR{Ratio::make(n, d)}); }
ExpYP b(bool x) { return mkE(LitB{x}); }
TypYP t(const std::string& n) { return mkT(VarT{n}); }
template <class Op>
ExpYP bin(ExpYP a, ExpYP c) { return mkE(Op{std::move(a), std::move(c)}); }
ExpYP app(ExpYP f, std::vector<ExpYP> args) { return mkE(APP{std::move(f), std::move(args)}); }

using Value = std::variant<ExpYP, TypYP, CmdY>;

void print(std::ostream& os, const Value& x) {
  if (auto e = std::get_if<ExpYP>(&x)) showExpY(os, **e);
  else if (auto ty = std::get_if<TypYP>(&x)) showTypY(os, **ty);
  else showCmdY(os, std::get<CmdY>(x));
}

void append(std::string& out, const Value& x) {
  if (auto e = std::get_if<ExpYP>(&x)) appendExpY(out, **e);
  else if (auto ty = std::get_if<TypYP>(&x)) appendTypY(out, **ty);
  else appendCmdY(out, std::get<CmdY>(x));
}

struct Case {
  const char* what;
  Value value;
  std::string text;
};

const std::string k2pow70 = "1180591620717411303424";
const std::string kBig = "-123456789012345678901234567890123456789";

std::vector<Case> printCases() {
  return {
      // expressions, in constructor order
      {"VarE", v("x"), "x"},
      {"VarE verbatim", v("a b)("), "a b)("},
      {"LitB true", b(true), "true"},
      {"LitB false", b(false), "false"},
      {"LitI zero", i(0L), "0"},
      {"LitI negative", i(-5L), "-5"},
      {"LitI 2^70", i(k2pow70.c_str()), k2pow70},
      {"LitI far below 64 bits", i(kBig.c_str()), kBig},
      {"LitI largest 64-bit", i("9223372036854775807"), "9223372036854775807"},
      {"LitI one past 64 bits", i("9223372036854775808"), "9223372036854775808"},
      {"LitI smallest 64-bit", i("-9223372036854775808"), "-9223372036854775808"},
      {"LitI one below 64 bits", i("-9223372036854775809"), "-9223372036854775809"},
      {"LitR half", r(1, 2), "1/2"},
      {"LitR minus half", r(-1, 2), "-1/2"},
      {"LitR whole", r(3, 1), "3/1"},
      {"LitR zero", r(0, 7), "0/1"},
      {"LitR huge", mkE(LitR{Ratio::make(mpz_class(kBig), mpz_class(k2pow70) + 1)}),
       kBig + "/" + "1180591620717411303425"},
      {"AND one", mkE(AND{{v("x")}}), "(and x)"},
      {"AND two", mkE(AND{{v("p"), b(false)}}), "(and p false)"},
      {"OR", mkE(OR{{v("p"), v("q"), v("r")}}), "(or p q r)"},
      {"NOT", mkE(NOT{v("p")}), "(not p)"},
      {"IMPLIES", bin<IMPLIES>(v("a"), v("b")), "(=> a b)"},
      {"EQ", bin<EQ>(v("x"), i(3L)), "(= x 3)"},
      {"NEQ", bin<NEQ>(v("a"), v("b")), "(/= a b)"},
      {"LT", bin<LT>(v("a"), v("b")), "(< a b)"},
      {"LE", bin<LE>(v("a"), v("b")), "(<= a b)"},
      {"GT", bin<GT>(v("a"), v("b")), "(> a b)"},
      {"GE", bin<GE>(v("a"), v("b")), "(>= a b)"},
      {"PLUS", bin<PLUS>(v("a"), v("b")), "(+ a b)"},
      {"MINUS left first", bin<MINUS>(i(0L), i(-3L)), "(- 0 -3)"},
      {"TIMES", bin<TIMES>(v("a"), v("b")), "(* a b)"},
      {"DIVIDE", bin<DIVIDE>(v("a"), r(-3, 4)), "(/ a -3/4)"},
      {"DIV", bin<DIV>(v("a"), v("b")), "(div a b)"},
      {"MOD", bin<MOD>(v("a"), v("b")), "(mod a b)"},
      {"IF", mkE(IF{v("c"), v("t"), v("e")}), "(if c t e)"},
      {"ITE", mkE(ITE{v("c"), v("t"), v("e")}), "(ite c t e)"},
      {"LET", mkE(LET{{{{"x", std::nullopt}, i(1L)}, {{"y", t("int")}, i(-2L)}},
                      bin<PLUS>(v("x"), v("y"))}),
       "(let ((x 1) (y::int -2)) (+ x y))"},
      {"FORALL",
       mkE(FORALL{{{"i", t("int")}},
                  mkE(AND{{bin<LE>(i(0L), v("i")), bin<EQ>(app(v("f"), {v("i")}), r(-1, 2))}})}),
       "(forall (i::int) (and (<= 0 i) (= (f i) -1/2)))"},
      {"EXISTS", mkE(EXISTS{{{"i", t("int")}, {"j", t("bool")}}, v("p")}),
       "(exists (i::int j::bool) p)"},
      {"APP no arguments", app(v("f"), {}), "(f)"},
      {"APP nested", app(app(v("f"), {v("x")}), {i(0L)}), "((f x) 0)"},
      {"UPDATE_F", mkE(UPDATE_F{v("f"), {v("a"), i(1L)}, b(true)}), "(update f (a 1)true)"},
      {"LAMBDA", mkE(LAMBDA{{{"x", t("int")}, {"y", t("bool")}}, app(v("g"), {v("x")})}),
       "(lambda (x::int y::bool)(g x))"},
      {"MKTUP", mkE(MKTUP{{i(1L), b(false)}}), "(mk-tuple 1 false)"},
      {"SELECT_T", mkE(SELECT_T{v("t"), 2}), "(select t 2)"},
      {"SELECT_T huge index", mkE(SELECT_T{v("t"), mpz_class(k2pow70)}),
       "(select t " + k2pow70 + ")"},
      {"UPDATE_T", mkE(UPDATE_T{v("t"), 2, i(5L)}), "(update t 2 5)"},
      {"MKREC", mkE(MKREC{{{"a", i(1L)}, {"b", v("x")}}}), "(mk-record a::1 b::x)"},
      {"SELECT_R", mkE(SELECT_R{v("r"), "a"}), "(select r a)"},
      {"UPDATE_R", mkE(UPDATE_R{v("r"), "a", i(3L)}), "(update r a 3)"},

      // types, in constructor order
      {"VarT", t("int"), "int"},
      {"VarT verbatim", t("my type"), "my type"},
      {"SUBTYPE", mkT(SUBTYPE{{"x", t("int")}, bin<GT>(v("x"), i(0L))}),
       "(subtype x::int (> x 0))"},
      {"SUBRANGE", mkT(SUBRANGE{i(0L), i(4L)}), "(subrange 0 4)"},
      {"SUBRANGE negative", mkT(SUBRANGE{i(-1L), v("n")}), "(subrange -1 n)"},
      {"ARR", mkT(ARR{{t("int"), t("int"), t("bool")}}), "(-> int int bool)"},
      {"ARR single", mkT(ARR{{t("bool")}}), "(-> bool)"},
      {"ARR nested", mkT(ARR{{t("obj"), mkT(ARR{{t("int"), t("bool")}})}}),
       "(-> obj (-> int bool))"},
      {"TUP", mkT(TUP{{t("int"), t("bool")}}), "(tuple int bool)"},
      {"REC", mkT(REC{{{"a", t("int")}, {"b", t("bool")}}}), "(record a::int b::bool)"},
      {"DEP", mkT(DEP{{"x", t("int")}}), "x::int"},
      {"DATATYPE", mkT(DATATYPE{{{"nil", {}}, {"cons", {{"hd", t("int")}, {"tl", t("lst")}}}}}),
       "(datatype nil (cons hd::int tl::lst))"},
      {"SCALAR", mkT(SCALAR{{"red", "green", "blue"}}), "(scalar red green blue)"},
      {"type inside expression inside type",
       mkT(SUBTYPE{{"f", mkT(ARR{{t("int"), t("bool")}})},
                   mkE(FORALL{{{"k", mkT(SUBRANGE{i(0L), i(3L)})}}, app(v("f"), {v("k")})})}),
       "(subtype f::(-> int bool) (forall (k::(subrange 0 3)) (f k)))"},

      // commands, in constructor order
      {"DEFTYP bare", mkC(DEFTYP{"obj", std::nullopt}), "(define-type obj)"},
      {"DEFTYP empty name", mkC(DEFTYP{"", std::nullopt}), "(define-type )"},
      {"DEFTYP with type", mkC(DEFTYP{"color", mkT(SCALAR{{"red", "green"}})}),
       "(define-type color (scalar red green))"},
      {"DEFINE bare", mkC(DEFINE{{"f", mkT(ARR{{t("int"), t("bool")}})}, std::nullopt}),
       "(define f::(-> int bool))"},
      {"DEFINE with value", mkC(DEFINE{{"n", t("int")}, i(-7L)}), "(define n::int -7)"},
      {"ASSERT", mkC(ASSERT{bin<EQ>(v("x"), i(3L))}), "(assert (= x 3))"},
      {"ASSERT_P weighted", mkC(ASSERT_P{v("p"), mpz_class(-3)}), "(assert+ p -3)"},
      {"ASSERT_P unweighted", mkC(ASSERT_P{v("p"), std::nullopt}), "(assert+ p)"},
      {"RETRACT zero", mkC(RETRACT{0}), "(retract 0)"},
      {"RETRACT huge", mkC(RETRACT{mpz_class(k2pow70)}), "(retract " + k2pow70 + ")"},
      {"CHECK", mkC(CHECK{}), "(check)"},
      {"MAXSAT", mkC(MAXSAT{}), "(max-sat)"},
      {"SETE", mkC(SETE{false}), "(set-evidence! false)"},
      {"SETV", mkC(SETV{0}), "(set-verbosity! 0)"},
      {"SETV negative", mkC(SETV{mpz_class(kBig)}), "(set-verbosity! " + kBig + ")"},
      {"SETAO", mkC(SETAO{true}), "(set-arith-only! true)"},
      {"PUSH", mkC(PUSH{}), "(push)"},
      {"POP", mkC(POP{}), "(pop)"},
      {"ECHO empty", mkC(ECHO{""}), "(echo \"\")"},
      {"ECHO begin marker", mkC(ECHO{"\n_![<[BEGIN_OUTPUT]>]!_"}),
       "(echo \"\\n_![<[BEGIN_OUTPUT]>]!_\")"},
      {"INCLUDE", mkC(INCLUDE{"dir/a \"b\".ys"}), "(include \"dir/a \\\"b\\\".ys\")"},
      {"RESET", mkC(RESET{}), "(reset)"},
      {"STATUS", mkC(STATUS{}), "(status)"},
      {"DUMP", mkC(DUMP{}), "(dump-context)"},
      {"EXIT", mkC(EXIT{}), "(exit)"},
      {"name with a line end is copied", mkC(DEFTYP{"a\nb", std::nullopt}),
       "(define-type a\nb)"},
  };
}

TEST(SyntaxPrint, EveryConstructorGivesItsExactText) {
  for (const Case& c : printCases()) {
    std::ostringstream os;
    print(os, c.value);
    EXPECT_EQ(os.str(), c.text) << c.what;
    std::string text = "x";
    append(text, c.value);
    EXPECT_EQ(text, "x" + c.text) << c.what;
  }
}

TEST(SyntaxPrint, StringFormsAndStreamOperatorsAgreeWithThePrinters) {
  for (const Case& c : printCases()) {
    std::ostringstream os;
    std::string single;
    if (auto e = std::get_if<ExpYP>(&c.value)) {
      os << **e;
      single = showExpY(**e);
    } else if (auto ty = std::get_if<TypYP>(&c.value)) {
      os << **ty;
      single = showTypY(**ty);
    } else {
      os << std::get<CmdY>(c.value);
      single = showCmdY(std::get<CmdY>(c.value));
    }
    EXPECT_EQ(os.str(), c.text) << c.what;
    EXPECT_EQ(single, c.text) << c.what;
  }
}

TEST(SyntaxPrint, TextIgnoresTheStreamsFormatFlags) {
  std::ostringstream os;
  os << std::hex << std::showpos << std::setw(20) << std::setfill('*');
  showCmdY(os, mkC(DEFINE{{"n", t("int")}, mkE(MKTUP{{i(255L), r(-10, 4), v("x")}})}));
  EXPECT_EQ(os.str(), "(define n::int (mk-tuple 255 -5/2 x))");
}

TEST(SyntaxPrint, ListForms) {
  auto exps = [](const std::vector<ExpYP>& es) {
    std::ostringstream os;
    showExpYList(os, es);
    return os.str();
  };
  auto typs = [](const std::vector<TypYP>& ts) {
    std::ostringstream os;
    showTypYList(os, ts);
    return os.str();
  };
  EXPECT_EQ(exps({v("x"), i(-5L)}), "[x,-5]");
  EXPECT_EQ(exps({bin<EQ>(v("x"), i(3L))}), "[(= x 3)]");
  EXPECT_EQ(exps({}), "[]");
  EXPECT_EQ(typs({t("int"), mkT(ARR{{t("int"), t("bool")}})}), "[int,(-> int bool)]");
  EXPECT_EQ(typs({}), "[]");
}

// Every character of the string literal form, by character code.
TEST(SyntaxPrint, StringLiteralEscapes) {
  struct Lit {
    std::string in;
    std::string out;
  };
  const std::vector<Lit> lits = {
      {"", R"("")"},
      {"plain text ~!", R"("plain text ~!")"},
      {"\"\\\t\r\x7f", R"("\"\\\t\r\DEL")"},
      {"\a\b\t\n\v\f\r", R"("\a\b\t\n\v\f\r")"},
      {std::string("\0\x01\x02\x03\x04\x05\x06", 7), R"("\NUL\SOH\STX\ETX\EOT\ENQ\ACK")"},
      {"\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17",
       R"("\SO\SI\DLE\DC1\DC2\DC3\DC4\NAK\SYN\ETB")"},
      {"\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f", R"("\CAN\EM\SUB\ESC\FS\GS\RS\US")"},
      {"\xe9" "7", R"("\233\&7")"},
      {"\xe9" "a", R"("\233a")"},
      {"\xe9", R"("\233")"},
      {"\x80\xff" "0", R"("\128\255\&0")"},
      {"\x0eH", R"("\SO\&H")"},
      {"\x0eh", R"("\SOh")"},
      {"\x0e", R"("\SO")"},
      {"\x01H", R"("\SOHH")"},
      {"\x01" "5\t5", R"("\SOH5\t5")"},
  };
  for (const Lit& l : lits) {
    std::ostringstream os;
    showStringLit(os, l.in);
    EXPECT_EQ(os.str(), l.out) << l.out;
    EXPECT_EQ(showCmdY(mkC(ECHO{l.in})), "(echo " + l.out + ")");
  }
}

// A value that cannot be printed: the fatal error comes after every character in front of
// the failing place has reached the stream, and nothing after it.
TEST(SyntaxPrint, FailureLeavesThePrecedingTextInTheStream) {
  const std::string empty = "Prelude.foldr1: empty list";
  const std::string zero = "Ratio.%: zero denominator";
  auto bad = mkE(LitR{Ratio::make(5, 0)});
  struct Bad {
    const char* what;
    Value value;
    std::string partial;
    std::string message;
  };
  const std::vector<Bad> cases = {
      {"AND", mkE(AND{{}}), "(and ", empty},
      {"OR inside NOT", mkE(NOT{mkE(OR{{}})}), "(not (or ", empty},
      {"MKTUP", mkE(MKTUP{{}}), "(mk-tuple ", empty},
      {"MKREC", mkE(MKREC{{}}), "(mk-record ", empty},
      {"LET", mkE(LET{{}, v("x")}), "(let (", empty},
      {"FORALL", mkE(FORALL{{}, v("x")}), "(forall (", empty},
      {"EXISTS", mkE(EXISTS{{}, v("x")}), "(exists (", empty},
      {"LAMBDA", mkE(LAMBDA{{}, v("x")}), "(lambda (", empty},
      {"UPDATE_F", mkE(UPDATE_F{app(v("f"), {v("a")}), {}, v("v")}), "(update (f a) (", empty},
      {"ARR", mkT(ARR{{}}), "(-> ", empty},
      {"TUP", mkT(TUP{{}}), "(tuple ", empty},
      {"REC", mkT(REC{{}}), "(record ", empty},
      {"DATATYPE", mkT(DATATYPE{{}}), "(datatype ", empty},
      {"SCALAR", mkT(SCALAR{{}}), "(scalar ", empty},
      {"ARR inside DEFTYP", mkC(DEFTYP{"t", mkT(ARR{{t("int"), mkT(TUP{{}})}})}),
       "(define-type t (-> int (tuple ", empty},
      {"AND deep inside DEFINE",
       mkC(DEFINE{{"p", mkT(ARR{{t("int"), t("bool")}})},
                  mkE(LAMBDA{{{"i", t("int")}}, mkE(IF{v("c"), b(true), mkE(AND{{}})})})}),
       "(define p::(-> int bool) (lambda (i::int)(if c true (and ", empty},
      {"empty list after earlier elements", mkE(OR{{v("a"), mkE(AND{{}})}}), "(or a (and ",
       empty},
      {"zero denominator", bad, "", zero},
      {"zero denominator inside ASSERT", mkC(ASSERT{bin<EQ>(v("x"), bad)}), "(assert (= x ",
       zero},
      {"zero denominator in a list form", Value{mkE(APP{v("f"), {i(1L), bad, i(2L)}})},
       "(f 1 ", zero},
  };
  for (const Bad& c : cases) {
    std::ostringstream os;
    try {
      print(os, c.value);
      ADD_FAILURE() << c.what << ": printed " << os.str();
    } catch (const vorlax::Fatal& f) {
      EXPECT_EQ(f.message, c.message) << c.what;
    }
    EXPECT_EQ(os.str(), c.partial) << c.what;
    // The append forms keep what the text held and add the same front part.
    std::string text = "(push)\n";
    try {
      append(text, c.value);
      ADD_FAILURE() << c.what << ": appended " << text;
    } catch (const vorlax::Fatal& f) {
      EXPECT_EQ(f.message, c.message) << c.what;
    }
    EXPECT_EQ(text, "(push)\n" + c.partial) << c.what;
  }
}

TEST(SyntaxPrint, EmptyFieldListOfADatatypeConstructorIsNoFailure) {
  std::ostringstream os;
  showCtorDef(os, {"nil", {}});
  EXPECT_EQ(os.str(), "nil");
  EXPECT_EQ(showTypY(*mkT(DATATYPE{{{"a", {}}, {"b", {}}}})), "(datatype a b)");
}

TEST(SyntaxPrint, ListSepByWithJoinsAndRefusesTheEmptyList) {
  auto show = [](std::ostream& o, int x) { o << x; };
  std::ostringstream os;
  showListSepByWith(os, ", ", std::vector<int>{1, 2, 3}, show);
  EXPECT_EQ(os.str(), "1, 2, 3");
  std::ostringstream none;
  EXPECT_THROW(showListSepByWith(none, ",", std::vector<int>{}, show), vorlax::Fatal);
  EXPECT_EQ(none.str(), "");
  std::ostringstream names;
  showStringsSepBy(names, "|", {"a", "b c"});
  EXPECT_EQ(names.str(), "a|b c");
}

// A flat list of a million operands prints in one pass; building the text by repeated
// string concatenation would take far longer than the test's time limit.
TEST(SyntaxPrint, LongFlatListsPrintInLinearTime) {
  const std::size_t n = 1000000;
  std::vector<ExpYP> args(n, v("x"));
  auto e = mkE(AND{std::move(args)});
  std::ostringstream os;
  showCmdY(os, mkC(ASSERT{e}));
  const std::string s = os.str();
  EXPECT_EQ(s.size(), std::string("(assert (and ").size() + 2 * n - 1 + 2);
  EXPECT_EQ(s.substr(0, 17), "(assert (and x x ");
  EXPECT_EQ(s.substr(s.size() - 5), "x x))");
}

}  // namespace
