// The reader of the solver program: s-expressions, "::", strings and their escapes,
// comments, and commands that are complete as soon as their ")" is read.
#include <gtest/gtest.h>

#include "ys_reader.hpp"

using namespace vxsolver;

namespace {

std::string shown(const std::string& text) {
  std::string out;
  for (const auto& e : readAll(text)) out += e.show() + "\n";
  return out;
}

std::string readError(const std::string& text) {
  try {
    readAll(text);
  } catch (const SolverError& e) {
    return e.what();
  }
  return "";
}

// A source that fails the test if it is asked for a character beyond a limit: the
// reader must not look past the end of a complete command.
class GuardedSource : public CharSource {
 public:
  GuardedSource(std::string text, size_t limit) : text_(std::move(text)), limit_(limit) {}

 protected:
  size_t fill(char* buf, size_t) override {
    if (at_ >= text_.size()) return 0;
    if (at_ >= limit_) ADD_FAILURE() << "the reader looked past the end of the command";
    buf[0] = text_[at_++];
    return 1;
  }

 private:
  std::string text_;
  size_t limit_;
  size_t at_ = 0;
};

}  // namespace

TEST(SolverReader, AtomsListsAndTypedNames) {
  EXPECT_EQ(shown("(define x::int)"), "(define x::int)\n");
  EXPECT_EQ(shown("(define f::(-> int (-> int bool)))"), "(define f::(-> int (-> int bool)))\n");
  EXPECT_EQ(shown("(lambda (obj::ALL_ref idx::int)(and a b))"), "(lambda (obj::ALL_ref idx::int) (and a b))\n");
  EXPECT_EQ(shown("(x :: int)"), "(x::int)\n");
  EXPECT_EQ(shown("(all-frames S_ref_wrap? List[Int]_arg -5 1/2 0.25)"),
            "(all-frames S_ref_wrap? List[Int]_arg -5 1/2 0.25)\n");
}

TEST(SolverReader, TypedNameIsThreeItems) {
  auto cmds = readAll("(define x::(-> int int) y)");
  ASSERT_EQ(cmds.size(), 1u);
  const auto& it = cmds[0].items;
  ASSERT_EQ(it.size(), 5u);
  EXPECT_EQ(it[1].text, "x");
  EXPECT_EQ(it[2].kind, SExp::DColon);
  EXPECT_EQ(it[3].kind, SExp::List);
  EXPECT_EQ(it[4].text, "y");
}

TEST(SolverReader, CommentsAndLines) {
  EXPECT_EQ(shown("; comment\n(check) ; after\n(push)\n;; end"), "(check)\n(push)\n");
  EXPECT_EQ(shown("(assert\n  (and p ; inside\n q))"), "(assert (and p q))\n");
  StringSource src("\n\n(check)\n(define x::int\n)");
  Reader r(src);
  std::string raw;
  int line = 0;
  ASSERT_TRUE(r.readCommand(raw, line));
  EXPECT_EQ(line, 3);
  EXPECT_EQ(raw, "(check)");
  ASSERT_TRUE(r.readCommand(raw, line));
  EXPECT_EQ(line, 4);
  EXPECT_EQ(raw, "(define x::int\n)");
  EXPECT_FALSE(r.readCommand(raw, line));
}

TEST(SolverReader, StringEscapes) {
  struct Case { const char* in; std::string out; };
  const Case cases[] = {
      {R"(\n_![<[BEGIN_OUTPUT]>]!_)", "\n_![<[BEGIN_OUTPUT]>]!_"},
      {R"(a\"b\\c)", "a\"b\\c"},
      {R"(\t\r\a\b\f\v)", "\t\r\a\b\f\v"},
      {R"(\DEL\SOH\SO\&H\NUL)", std::string("\x7f\x01\x0eH", 4) + std::string(1, '\0')},
      {R"(\65\x41\o101)", "AAA"},
      {R"(\233\&7)", "\xe9" "7"},
      {"a\\  \n  \\b", "ab"},
      {R"(\^A\^@)", std::string("\x01", 1) + std::string(1, '\0')},
  };
  for (const auto& c : cases) EXPECT_EQ(resolveEscapes(c.in), c.out) << c.in;
  auto cmds = readAll("(echo \"x\\\"y\\n\")");
  ASSERT_EQ(cmds[0].items[1].kind, SExp::String);
  EXPECT_EQ(cmds[0].items[1].text, "x\"y\n");
  for (const char* bad : {"\\q", "\\x", "\\^a", "\\", "a\\  b"})
    EXPECT_THROW(resolveEscapes(bad), SolverError) << bad;
  EXPECT_THROW(resolveEscapes("\\1114112"), SolverError);
}

TEST(SolverReader, Errors) {
  EXPECT_NE(readError("(define x::int"), "");
  EXPECT_NE(readError("(define x:int)"), "");
  EXPECT_NE(readError(")"), "");
  EXPECT_NE(readError("check"), "");
  EXPECT_NE(readError("(echo \"abc"), "");
  EXPECT_EQ(readError("(check)(push)"), "");
}

TEST(SolverReader, CommandCompleteAtItsParenthesis) {
  // The second command's characters are there, but the first must be returned without
  // reading them; then the second is read.
  std::string text = "(define x::(-> int int))(check)";
  GuardedSource src(text, 24);
  Reader r(src);
  std::string raw;
  int line = 0;
  auto c = r.readCommand(raw, line);
  ASSERT_TRUE(c);
  EXPECT_EQ(raw, "(define x::(-> int int))");
}
