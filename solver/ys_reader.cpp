#include "ys_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace vxsolver {

// ---- character sources ----

bool CharSource::refill() {
  if (record_) {
    record_->append(buf_ + recordFrom_, len_ - recordFrom_);
    recordFrom_ = len_;
  }
  if (eof_) return false;
  len_ = fill(buf_, sizeof buf_);
  pos_ = recordFrom_ = 0;
  if (len_ == 0) eof_ = true;
  return len_ > 0;
}

void CharSource::record(std::string* to) {
  if (record_) record_->append(buf_ + recordFrom_, pos_ - recordFrom_);
  record_ = to;
  recordFrom_ = pos_;
}

size_t StringSource::fill(char* buf, size_t cap) {
  size_t n = std::min(cap, text_.size() - at_);
  std::memcpy(buf, text_.data() + at_, n);
  at_ += n;
  return n;
}

size_t FdSource::fill(char* buf, size_t cap) {
  if (beforeBlock_) beforeBlock_();
  for (;;) {
    ssize_t n = ::read(fd_, buf, cap);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno == EINTR) continue;
    throw SolverError(std::string("cannot read the input: ") + std::strerror(errno));
  }
}

// ---- s-expressions ----

std::string SExp::show() const {
  switch (kind) {
    case Atom: return text;
    case DColon: return "::";
    case String: {
      std::string s = "\"";
      for (char c : text) {
        if (c == '"' || c == '\\') s += '\\';
        if (c == '\n') { s += "\\n"; continue; }
        s += c;
      }
      return s + "\"";
    }
    case List: {
      std::string s = "(";
      for (size_t i = 0; i < items.size(); ++i) {
        bool glue = items[i].kind == DColon || (i > 0 && items[i - 1].kind == DColon);
        if (i > 0 && !glue) s += ' ';
        s += items[i].show();
      }
      return s + ")";
    }
  }
  return {};
}

static bool isSpace(int c) { return c == ' ' || (c >= 9 && c <= 13); }
static bool isDelimiter(int c) {
  return c < 0 || isSpace(c) || c == '(' || c == ')' || c == ';' || c == '"' || c == ':';
}

int Reader::get() {
  int c = src_.get();
  if (c == 0) throw SolverError("a NUL byte in the input");
  return c;
}

std::string readFileText(const std::string& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw SolverError("cannot open \"" + file + "\": " + std::strerror(errno));
  struct stat sb;
  if (::fstat(fd, &sb) == 0 && S_ISDIR(sb.st_mode)) {
    ::close(fd);
    throw SolverError("cannot read \"" + file + "\": it is a directory");
  }
  std::string text;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      throw SolverError("cannot read \"" + file + "\": " + std::strerror(err));
    }
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

void Reader::skipSpace() {
  for (;;) {
    int c = src_.peek();
    if (isSpace(c)) {
      get();
    } else if (c == ';') {
      while ((c = src_.peek()) >= 0 && c != '\n') get();
    } else {
      return;
    }
  }
}

std::optional<SExp> Reader::readCommand(std::string& raw, int& line) {
  raw.clear();
  skipSpace();  // the space before a command is not part of its text
  line = src_.line();
  int c = src_.peek();
  if (c < 0) return std::nullopt;
  // The text of the command goes to raw as it is read, up to its end or the complaint.
  struct Recording {
    CharSource& src;
    Recording(CharSource& s, std::string& to) : src(s) { src.record(&to); }
    ~Recording() { src.record(nullptr); }
  } recording(src_, raw);
  if (c != '(') {
    if (c == ')') {
      get();
      throw SolverError("unexpected \")\" where a command should start");
    }
    SExp a = c == '"' ? readString() : c == ':' ? (get(), SExp{}) : readAtom();
    throw SolverError("a command must be a parenthesised form, found \"" +
                      (c == ':' ? std::string(":") : a.show()) + "\"");
  }
  return readList(1);
}

SExp Reader::readList(int depth) {
  if (depth > kMaxDepth)
    throw SolverError("parentheses nested more than " + std::to_string(kMaxDepth) + " deep");
  SExp e;
  e.kind = SExp::List;
  e.line = src_.line();
  e.items.reserve(4);  // most lists are short: one allocation for them
  get();  // "("
  for (;;) {
    skipSpace();
    int c = src_.peek();
    if (c < 0) throw SolverError("end of input inside a command (a \")\" is missing)");
    if (c == ')') {
      get();
      return e;
    }
    if (c == '(') {
      e.items.push_back(readList(depth + 1));
    } else if (c == '"') {
      e.items.push_back(readString());
    } else if (c == ':') {
      get();
      if (src_.peek() != ':') throw SolverError("a single \":\" (the separator of a typed name is \"::\")");
      get();
      SExp d;
      d.kind = SExp::DColon;
      d.line = src_.line();
      e.items.push_back(d);
    } else {
      e.items.push_back(readAtom());
    }
  }
}

SExp Reader::readAtom() {
  SExp e;
  e.line = src_.line();
  src_.takeUntil([](int c) { return c == 0 || isDelimiter(c); }, e.text);
  if (src_.peek() == 0) get();  // refused
  return e;
}

SExp Reader::readString() {
  SExp e;
  e.kind = SExp::String;
  e.line = src_.line();
  get();  // opening quote
  std::string body;
  for (;;) {
    int c = get();
    if (c < 0) throw SolverError("end of input inside a string literal");
    if (c == '"') break;
    body.push_back(static_cast<char>(c));
    if (c == '\\') {
      int d = get();
      if (d < 0) throw SolverError("end of input inside a string literal");
      body.push_back(static_cast<char>(d));
      if (isSpace(d)) {  // a gap: whitespace up to the closing backslash
        while ((d = get()) >= 0 && isSpace(d)) body.push_back(static_cast<char>(d));
        if (d < 0) throw SolverError("end of input inside a string literal");
        body.push_back(static_cast<char>(d));
      }
    }
  }
  e.text = resolveEscapes(body);
  return e;
}

// ---- string escapes ----

static void appendCode(std::string& out, unsigned long code) {
  if (code < 256) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::string resolveEscapes(const std::string& s) {
  static const struct { const char* name; int code; } mnemonics[] = {
      {"NUL", 0},  {"SOH", 1},  {"STX", 2},  {"ETX", 3},  {"EOT", 4},  {"ENQ", 5},  {"ACK", 6},
      {"BEL", 7},  {"DLE", 16}, {"DC1", 17}, {"DC2", 18}, {"DC3", 19}, {"DC4", 20}, {"NAK", 21},
      {"SYN", 22}, {"ETB", 23}, {"CAN", 24}, {"SUB", 26}, {"ESC", 27}, {"DEL", 127}, {"BS", 8},
      {"HT", 9},   {"LF", 10},  {"VT", 11},  {"FF", 12},  {"CR", 13},  {"SO", 14},  {"SI", 15},
      {"EM", 25},  {"FS", 28},  {"GS", 29},  {"RS", 30},  {"US", 31},  {"SP", 32}};
  std::string out;
  size_t i = 0, n = s.size();
  auto bad = [&](const std::string& why) -> SolverError {
    return SolverError("bad escape in string literal: " + why);
  };
  while (i < n) {
    char c = s[i++];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (i >= n) throw bad("a backslash at the end");
    char d = s[i];
    if (isSpace(static_cast<unsigned char>(d))) {  // gap
      while (i < n && isSpace(static_cast<unsigned char>(s[i]))) ++i;
      if (i >= n || s[i] != '\\') throw bad("a gap without its closing backslash");
      ++i;
      continue;
    }
    ++i;
    switch (d) {
      case '&': continue;
      case 'a': out.push_back('\a'); continue;
      case 'b': out.push_back('\b'); continue;
      case 'f': out.push_back('\f'); continue;
      case 'n': out.push_back('\n'); continue;
      case 'r': out.push_back('\r'); continue;
      case 't': out.push_back('\t'); continue;
      case 'v': out.push_back('\v'); continue;
      case '\\': out.push_back('\\'); continue;
      case '"': out.push_back('"'); continue;
      case '\'': out.push_back('\''); continue;
      default: break;
    }
    int base = 0;
    if (std::isdigit(static_cast<unsigned char>(d))) {
      base = 10;
      --i;
    } else if (d == 'o') {
      base = 8;
    } else if (d == 'x') {
      base = 16;
    }
    if (base) {
      unsigned long long code = 0;
      size_t start = i;
      while (i < n) {
        int v = -1;
        char h = s[i];
        if (h >= '0' && h <= '9') v = h - '0';
        else if (h >= 'a' && h <= 'f') v = h - 'a' + 10;
        else if (h >= 'A' && h <= 'F') v = h - 'A' + 10;
        if (v < 0 || v >= base) break;
        code = code * base + v;
        if (code > 0x10FFFF) throw bad("character code out of range");
        ++i;
      }
      if (i == start) throw bad(std::string("\\") + d + " without digits");
      appendCode(out, code);
      continue;
    }
    if (d == '^') {
      if (i < n && s[i] >= '@' && s[i] <= '_') {
        out.push_back(static_cast<char>(s[i] - 64));
        ++i;
        continue;
      }
      throw bad("\\^ without an upper-case letter");
    }
    --i;
    bool found = false;
    for (const auto& m : mnemonics) {
      size_t len = std::strlen(m.name);
      if (s.compare(i, len, m.name) == 0) {
        out.push_back(static_cast<char>(m.code));
        i += len;
        found = true;
        break;
      }
    }
    if (!found) throw bad(std::string("unknown escape \\") + d);
  }
  return out;
}

std::vector<SExp> readAll(const std::string& text) {
  StringSource src(text);
  Reader r(src);
  std::vector<SExp> out;
  std::string raw;
  int line = 0;
  while (auto e = r.readCommand(raw, line)) out.push_back(std::move(*e));
  return out;
}

}  // namespace vxsolver
