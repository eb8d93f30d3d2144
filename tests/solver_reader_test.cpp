// The reader of the solver program: s-expressions, "::", strings and their escapes,
// comments, and commands that are complete as soon as their ")" is read.
#include <gtest/gtest.h>

#include <algorithm>

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

// A source that hands out its text in pieces of a given size.
class PieceSource : public CharSource {
 public:
  PieceSource(std::string text, size_t piece) : text_(std::move(text)), piece_(piece) {}

 protected:
  size_t fill(char* buf, size_t cap) override {
    size_t n = std::min({piece_, cap, text_.size() - at_});
    text_.copy(buf, n, at_);
    at_ += n;
    return n;
  }

 private:
  std::string text_;
  size_t piece_;
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

TEST(SolverReader, TextOfACommandWhateverPiecesItComesIn) {
  // A command's text as read, for the messages about it: whole when the command spans
  // many fills of the reader's buffer (with atoms and strings across their borders), and
  // up to the complaint when it is refused; the same lines and trees in every case.
  std::string longAnd = "(assert (and";
  for (int i = 0; i < 700; ++i) longAnd += "\n  (= (balance_of_account obj" + std::to_string(i) + " idx) 0)";
  longAnd += "))";
  const std::string longEcho = "(echo \"" + std::string(5000, 'e') + "\\n\")";
  struct Case { std::string text, raw, error; int line; };
  const Case cases[] = {
      {"  ; lead\n" + longAnd + "\n(check)", longAnd, "", 2},
      {longEcho + "(check)", longEcho, "", 1},
      {"\n\n" + longAnd.substr(0, 6000) + ":x)", longAnd.substr(0, 6000) + ":", "a single \":\"", 3},
      {longAnd.substr(0, 5000) + std::string(1, '\0') + "b)", longAnd.substr(0, 5000) + std::string(1, '\0'),
       "a NUL byte in the input", 1},
      {"(define " + std::string(4200, 'n') + std::string(1, '\0') + ")", "(define " + std::string(4200, 'n') + std::string(1, '\0'),
       "a NUL byte in the input", 1},
      {longAnd.substr(0, 4500), longAnd.substr(0, 4500), "end of input inside a command", 1},
  };
  const std::string expectTree = readAll(longAnd)[0].show();
  for (const auto& c : cases) {
    for (size_t piece : {size_t(1), size_t(7), size_t(4096), size_t(1) << 20}) {
      PieceSource src(c.text, piece);
      Reader r(src);
      std::string raw, error;
      int line = 0;
      try {
        auto cmd = r.readCommand(raw, line);
        ASSERT_TRUE(cmd);
        if (c.raw == longAnd) {
          EXPECT_EQ(cmd->show(), expectTree);
        }
      } catch (const SolverError& e) {
        error = e.what();
      }
      // (not EXPECT_EQ: the texts are long)
      EXPECT_TRUE(raw == c.raw) << "pieces of " << piece << ": " << raw.size() << " characters recorded of "
                                << c.raw.size() << ", from " << raw.substr(0, 40);
      EXPECT_EQ(line, c.line) << "pieces of " << piece;
      if (c.error.empty()) EXPECT_EQ(error, "") << "pieces of " << piece;
      else EXPECT_NE(error.find(c.error), std::string::npos) << "pieces of " << piece << ": " << error;
    }
  }
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
