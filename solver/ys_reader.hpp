// Reader of the solver language: characters from a source, s-expressions with the
// "name::type" separator, string literals with their escapes resolved, ";" comments.
// Commands are read one at a time, and a command is complete as soon as its closing
// parenthesis has been read: nothing after it is looked at before it is executed.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vxsolver {

// Every complaint of the solver program: a command it cannot read, type or support.
struct SolverError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A source of characters. get() and peek() return -1 at the end of the input.
class CharSource {
 public:
  virtual ~CharSource() = default;
  int get() {
    if (pos_ == len_ && !refill()) return -1;
    unsigned char c = static_cast<unsigned char>(buf_[pos_++]);
    if (c == '\n') ++line_;
    return c;
  }
  int peek() {
    if (pos_ == len_ && !refill()) return -1;
    return static_cast<unsigned char>(buf_[pos_]);
  }
  int line() const { return line_; }
  // Appends to out the characters before the first one for which stop is true (or the
  // end of the input), and takes them. (A template, so that the test is inlined in the
  // loop over the buffer: atoms are most of the input.)
  template <class Stop>
  void takeUntil(Stop stop, std::string& out) {
    for (;;) {
      if (pos_ == len_ && !refill()) return;
      size_t from = pos_;
      while (pos_ < len_ && !stop(static_cast<unsigned char>(buf_[pos_]))) {
        if (buf_[pos_] == '\n') ++line_;
        ++pos_;
      }
      out.append(buf_ + from, pos_ - from);
      if (pos_ < len_) return;
    }
  }
  // From now on every character that get() takes is appended to *to, until record is
  // called again (with nullptr to stop).
  void record(std::string* to);

 protected:
  // Fills buf with at least one character, or returns 0 at the end of the input.
  virtual size_t fill(char* buf, size_t cap) = 0;

 private:
  bool refill();  // false at the end of the input
  char buf_[4096];
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
  int line_ = 1;
  std::string* record_ = nullptr;
  size_t recordFrom_ = 0;  // the characters of buf_ from here on are not in *record_ yet
};

class StringSource : public CharSource {
 public:
  explicit StringSource(std::string text) : text_(std::move(text)) {}

 protected:
  size_t fill(char* buf, size_t cap) override;

 private:
  std::string text_;
  size_t at_ = 0;
};

// Reads a file descriptor with read(2): returns whatever is available, so a command
// that has arrived is executed without waiting for more input. Before a read that may
// block, beforeBlock is called (the session flushes its output there).
class FdSource : public CharSource {
 public:
  explicit FdSource(int fd, std::function<void()> beforeBlock = {})
      : fd_(fd), beforeBlock_(std::move(beforeBlock)) {}

 protected:
  size_t fill(char* buf, size_t cap) override;

 private:
  int fd_;
  std::function<void()> beforeBlock_;
};

// One s-expression. "::" stands as an item of its own (kind DColon) between a name and
// its type.
struct SExp {
  enum Kind { Atom, String, List, DColon };
  Kind kind = Atom;
  std::string text;  // Atom: the characters; String: the value, escapes resolved
  std::vector<SExp> items;
  int line = 0;

  bool isAtom(const char* t) const { return kind == Atom && text == t; }
  std::string show() const;  // text form, for messages
};

// Built with AddressSanitizer? Its runtime cannot unwind an exception through a stack of
// more than 64 MB, so a sanitized build keeps its nesting bounds within that.
#if defined(__SANITIZE_ADDRESS__)
#define VXSOLVER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VXSOLVER_SANITIZED 1
#endif
#endif
#ifdef VXSOLVER_SANITIZED
inline constexpr long kNestingBound = 5000;
#else
inline constexpr long kNestingBound = 150000;
#endif

// The whole text of a file; SolverError when it cannot be read (a directory included).
std::string readFileText(const std::string& file);

// The command reader over a source.
class Reader {
 public:
  // Lists nest at most this deep; deeper text is refused rather than read.
  static constexpr int kMaxDepth = kNestingBound;

  explicit Reader(CharSource& src) : src_(src) {}
  // Reads the next command: a parenthesised list. Returns nothing at the end of the
  // input. raw receives the command's text as read (for messages), line its first line.
  // Throws SolverError for text that is not a well-formed command.
  std::optional<SExp> readCommand(std::string& raw, int& line);

 private:
  void skipSpace();  // whitespace and comments
  SExp readList(int depth);
  SExp readString();
  SExp readAtom();
  int get();
  CharSource& src_;
};

// Resolves the escapes of a string literal's body (the text between the quotes).
// Throws SolverError for a malformed escape.
std::string resolveEscapes(const std::string& body);

// Parses every command of a text (for tests and "include").
std::vector<SExp> readAll(const std::string& text);

}  // namespace vxsolver
