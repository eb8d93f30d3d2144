// The parsing engine behind every grammar of vorlax: the domain file, the serialization
// file and the solver's replies.
//
// A parser is any callable `Out p(State& st, T& out)`. It ends in one of four outcomes
// (success or failure, each with or without consumed input). The error of the outcome --
// the pending error of a success, the reported error of a failure -- is left in st.err.
//
// Errors never steer a parse: which alternative wins depends only on the outcomes. So a
// grammar is first run with error tracking off (no message is built on the success path);
// only when that run fails is it run again with tracking on, to build the error exactly.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "fatal.hpp"

namespace vorlax::parsing {

struct Pos {
  int line = 1;
  int column = 1;
};

enum class MsgKind : std::uint8_t { SysUnExpect, UnExpect, Expect, Message };

struct Message {
  MsgKind kind;
  std::string text;
};

struct ParseFailure {
  std::string source;
  Pos pos;
  std::vector<Message> messages;
};

// The text of a failed parse: position, ":", then the message lines.
std::string showParseFailure(const ParseFailure& f);

// Rendering of characters inside messages.
std::string showCharLit(unsigned char c);         // 'c'
std::string showStringLit(std::string_view s);    // "s"
inline std::string showOneCharString(unsigned char c) {  // "c"
  return showStringLit(std::string_view(reinterpret_cast<const char*>(&c), 1));
}

enum class Out : std::uint8_t { EmptyOk, ConsumedOk, EmptyErr, ConsumedErr };
inline bool isOk(Out o) { return o == Out::EmptyOk || o == Out::ConsumedOk; }
inline bool isConsumed(Out o) { return o == Out::ConsumedOk || o == Out::ConsumedErr; }

struct Error {
  Pos pos;
  std::vector<Message> msgs;
};

// Where the parse stands: the remaining text and the current position.
struct Input {
  const char* cur;
  Pos pos;
};

inline Pos advance(Pos p, unsigned char c) {
  if (c == '\n') return Pos{p.line + 1, 1};
  if (c == '\t') return Pos{p.line, p.column + 8 - ((p.column - 1) % 8)};
  return Pos{p.line, p.column + 1};
}

struct State {
  State(std::string_view text) : in{text.data(), Pos{}}, end(text.data() + text.size()) {}
  Input in;
  const char* end;
  bool track = false;  // build error messages?
  Error err;           // error of the last outcome (meaningful only when track)
  int depth = 0;       // nesting of recursive rules (see DepthGuard, NestingGuard)
  int maxDepth = 1000;
  bool tooDeep = false;  // a NestingGuard went past maxDepth

  bool atEnd() const { return in.cur == end; }
  unsigned char peek() const { return static_cast<unsigned char>(*in.cur); }
  void bump() {
    in.pos = advance(in.pos, peek());
    ++in.cur;
  }

  // Error helpers; all of them do nothing when tracking is off.
  void emptyError() {
    if (track) err = Error{in.pos, {}};
  }
  void errorAt(Pos p, MsgKind k, std::string text) {
    if (track) err = Error{p, {Message{k, std::move(text)}}};
  }
  static void merge(Error& into, Error&& second) {
    // position of the first, messages of the first then the second
    for (auto& m : second.msgs) into.msgs.push_back(std::move(m));
  }
};

[[noreturn]] inline void nestsTooDeeply(int maxDepth) {
  fatal("input nests too deeply (more than " + std::to_string(maxDepth) + " levels)");
}

// Bounds the recursion of a grammar: a rule that can nest (parenthesised expressions,
// nested forms) holds a guard while it runs. Past st.maxDepth the run ends with a clean
// fatal error instead of overflowing the stack.
struct DepthGuard {
  State& st;
  explicit DepthGuard(State& s) : st(s) {
    if (++st.depth > st.maxDepth) {
      --st.depth;
      nestsTooDeeply(st.maxDepth);
    }
  }
  ~DepthGuard() { --st.depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

// The same bound for grammars that nest very deeply, without an exception thrown from the
// depth: past st.maxDepth the guard is not ok(), its rule fails at once, and so does every
// nesting rule after it; runParser raises the fatal error once the parse has come back up.
// (Unwinding a very deep stack by an exception is beyond what some sanitizers handle.)
struct NestingGuard {
  State& st;
  explicit NestingGuard(State& s) : st(s) {
    if (st.tooDeep || ++st.depth > st.maxDepth) st.tooDeep = true;
  }
  bool ok() const { return !st.tooDeep; }
  ~NestingGuard() {
    if (!st.tooDeep) --st.depth;
  }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
};

// The value type of a parser callable: the type of its second parameter.
template <class F>
struct parser_value : parser_value<decltype(&std::remove_cvref_t<F>::operator())> {};
template <class T>
struct parser_value<Out (*)(State&, T&)> { using type = T; };
template <class T>
struct parser_value<Out(State&, T&)> { using type = T; };
template <class C, class T>
struct parser_value<Out (C::*)(State&, T&) const> { using type = T; };
template <class C, class T>
struct parser_value<Out (C::*)(State&, T&)> { using type = T; };
template <class F>
using value_of = typename parser_value<std::remove_cvref_t<F>>::type;

// ---- rule 1: character test ----
// The next character if pred accepts it; otherwise a system-unexpected message.
template <class Pred>
Out satisfy(State& st, char& out, Pred pred) {
  if (!st.atEnd() && pred(st.peek())) {
    out = static_cast<char>(st.peek());
    st.bump();
    st.emptyError();
    return Out::ConsumedOk;
  }
  if (st.track)
    st.errorAt(st.in.pos, MsgKind::SysUnExpect, st.atEnd() ? std::string() : showOneCharString(st.peek()));
  return Out::EmptyErr;
}

// ---- rule 2: literal text ----
Out literal(State& st, std::string_view s);
inline Out literal(State& st, std::string& out, std::string_view s) {
  Out o = literal(st, s);
  if (isOk(o)) out.assign(s);
  return o;
}

// ---- rule 3: sequence ----
// Runs the steps of a sequence one after another:
//   Seq s(st);
//   if (!s(p1, v1) || !s(p2, v2)) return s.fail();
//   out = ...; return s.ok();
class Seq {
 public:
  explicit Seq(State& st) : st_(st) {}

  template <class P, class T>
  bool operator()(P&& p, T& out) {
    Out o = p(st_, out);
    return step(o);
  }
  // A step whose value is not needed.
  template <class P>
  bool operator()(P&& p) {
    value_of<P> v{};
    return (*this)(std::forward<P>(p), v);
  }
  // Records the outcome of a step that the caller ran itself.
  [[gnu::always_inline]] bool step(Out o) {
    if (o == Out::ConsumedOk || o == Out::ConsumedErr) {
      consumed_ = true;
      if (st_.track) pending_ = std::move(st_.err);
      started_ = true;
      if (o == Out::ConsumedErr) {
        failed_ = Out::ConsumedErr;
        return false;
      }
      return true;
    }
    if (st_.track) {
      if (!started_) pending_ = std::move(st_.err);
      else State::merge(pending_, std::move(st_.err));
    }
    started_ = true;
    if (o == Out::EmptyErr) {
      failed_ = consumed_ ? Out::ConsumedErr : Out::EmptyErr;
      return false;
    }
    return true;
  }
  bool consumed() const { return consumed_; }
  // The outcome of the sequence after a failed step; its error is in st.err.
  Out fail() {
    if (st_.track) st_.err = std::move(pending_);
    return failed_;
  }
  // The outcome of the sequence after all steps succeeded.
  Out ok() {
    if (st_.track) {
      if (started_) st_.err = std::move(pending_);
      else st_.emptyError();
    }
    return consumed_ ? Out::ConsumedOk : Out::EmptyOk;
  }

 private:
  State& st_;
  Error pending_;
  bool consumed_ = false;
  bool started_ = false;
  Out failed_ = Out::EmptyErr;
};

// ---- rule 4: choice ----
// The alternatives of a choice run by hand: each alternative's outcome is handed to
// decided() as soon as it is known.
//   Alt a(st);
//   if (a.decided(p1(st, v))) return a.result();
//   if (a.decided(p2(st, v))) return a.result();
//   return a.fail();
class Alt {
 public:
  explicit Alt(State& st) : st_(st) {}
  // True when the choice ends with this outcome: a success, or a failure after consuming
  // input. A failure without consuming input is kept for merging and the next alternative
  // is tried.
  bool decided(Out o) {
    if (o == Out::EmptyErr) {
      if (st_.track) {
        if (!have_) acc_ = std::move(st_.err);
        else State::merge(acc_, std::move(st_.err));
      }
      have_ = true;
      return false;
    }
    last_ = o;
    // Only an outcome without consumed input carries the records of the alternatives before it.
    if (!isConsumed(o) && have_ && st_.track) {
      State::merge(acc_, std::move(st_.err));
      st_.err = std::move(acc_);
    }
    return true;
  }
  // The outcome of the choice once decided() returned true.
  Out result() const { return last_; }
  // Every alternative failed without consuming input: the merge of their records.
  Out fail() {
    if (st_.track && have_) st_.err = std::move(acc_);
    return Out::EmptyErr;
  }

 private:
  State& st_;
  Error acc_;
  bool have_ = false;
  Out last_ = Out::EmptyErr;
};

template <class T, class P, class... Ps>
Out choice(State& st, T& out, P&& p, Ps&&... ps) {
  Alt a(st);
  if (a.decided(p(st, out))) return a.result();
  if ((... || a.decided(ps(st, out)))) return a.result();
  return a.fail();
}

// ---- rule 6: backtracking point ----
// The rule applied to the outcome of a step that started at `start`.
inline Out backtrackFrom(State& st, Out o, const Input& start) {
  if (o == Out::ConsumedErr) {
    st.in = start;
    if (st.track) st.err.pos = start.pos;
    return Out::EmptyErr;
  }
  return o;
}
template <class T, class P>
Out attempt(State& st, T& out, P&& p) {
  Input start = st.in;
  return backtrackFrom(st, p(st, out), start);
}

// ---- rule 7: label ----
inline void relabel(State& st, std::string_view label) {
  std::vector<Message> msgs;
  msgs.reserve(st.err.msgs.size() + 1);
  msgs.push_back(Message{MsgKind::Expect, std::string(label)});
  for (auto& m : st.err.msgs)
    if (m.kind != MsgKind::Expect) msgs.push_back(std::move(m));
  st.err.msgs = std::move(msgs);
}
// The rule applied to an outcome that has just been produced.
inline Out labelOutcome(State& st, Out o, std::string_view name) {
  if (st.track && (o == Out::EmptyErr || (o == Out::EmptyOk && !st.err.msgs.empty()))) relabel(st, name);
  return o;
}
template <class T, class P>
Out label(State& st, T& out, std::string_view name, P&& p) {
  return labelOutcome(st, p(st, out), name);
}

[[noreturn]] void emptyRepetition();

// ---- rule 8: repetition ----
template <class T, class P>
Out many(State& st, std::vector<T>& out, P&& p) {
  bool consumed = false;
  for (;;) {
    T v{};
    Out o = p(st, v);
    if (o == Out::EmptyErr) return consumed ? Out::ConsumedOk : Out::EmptyOk;
    if (o == Out::ConsumedErr) return o;
    if (o == Out::EmptyOk) emptyRepetition();
    consumed = true;
    out.push_back(std::move(v));
  }
}
// Repetition that keeps no values.
template <class P>
Out skipMany(State& st, P&& p) {
  bool consumed = false;
  for (;;) {
    value_of<P> v{};
    Out o = p(st, v);
    if (o == Out::EmptyErr) return consumed ? Out::ConsumedOk : Out::EmptyOk;
    if (o == Out::ConsumedErr) return o;
    if (o == Out::EmptyOk) emptyRepetition();
    consumed = true;
  }
}
template <class T, class P>
Out many1(State& st, std::vector<T>& out, P&& p) {
  Seq s(st);
  T first{};
  if (!s(p, first)) return s.fail();
  out.push_back(std::move(first));
  if (!s.step(many(st, out, p))) return s.fail();
  return s.ok();
}

// ---- rule 9: not followed by (a character parser) ----
template <class P>
Out notFollowedBy(State& st, P&& p) {
  Input start = st.in;
  char c{};
  Out o = p(st, c);
  st.in = start;
  if (isOk(o)) {
    st.errorAt(start.pos, MsgKind::UnExpect, st.track ? showCharLit(static_cast<unsigned char>(c)) : std::string());
    return Out::EmptyErr;
  }
  if (st.track) st.err.pos = start.pos;
  return Out::EmptyOk;
}

// ---- rule 10: optional, separated lists, between ----
template <class T, class P>
Out option(State& st, T& out, T def, P&& p) {
  Out o = p(st, out);
  if (o != Out::EmptyErr) return o;
  out = std::move(def);
  // success without consuming; the failed attempt's error stays as the pending error
  return Out::EmptyOk;
}

template <class T, class P, class S>
Out sepBy1(State& st, std::vector<T>& out, P&& p, S&& sep) {
  Seq s(st);
  T first{};
  if (!s(p, first)) return s.fail();
  out.push_back(std::move(first));
  auto sepThenP = [&](State& st2, T& v) -> Out {
    Seq s2(st2);
    if (!s2(sep) || !s2(p, v)) return s2.fail();
    return s2.ok();
  };
  if (!s.step(many(st, out, sepThenP))) return s.fail();
  return s.ok();
}
template <class T, class P, class S>
Out sepBy(State& st, std::vector<T>& out, P&& p, S&& sep) {
  Out o = sepBy1(st, out, p, sep);
  if (o != Out::EmptyErr) return o;
  out.clear();
  return Out::EmptyOk;  // "else the empty list": A's error merged with the empty one
}

template <class T, class O, class P, class C>
Out between(State& st, T& out, O&& open, C&& close, P&& p) {
  Seq s(st);
  if (!s(open) || !s(p, out) || !s(close)) return s.fail();
  return s.ok();
}

// ---- end of input ----
// Succeeds only where no character is left; otherwise "unexpected 'c'", expecting
// "end of input".
inline Out eof(State& st) {
  if (st.atEnd()) {
    st.emptyError();
    return Out::EmptyOk;
  }
  if (st.track)
    st.err = Error{st.in.pos, {Message{MsgKind::Expect, "end of input"},
                               Message{MsgKind::UnExpect, showCharLit(st.peek())}}};
  return Out::EmptyErr;
}

// ---- rule 11: explicit unexpected, failure, success ----
inline Out unexpected(State& st, std::string_view text) {
  st.errorAt(st.in.pos, MsgKind::UnExpect, std::string(text));
  return Out::EmptyErr;
}
inline Out failWith(State& st, std::string_view text) {
  st.errorAt(st.in.pos, MsgKind::Message, std::string(text));
  return Out::EmptyErr;
}
template <class T>
Out pure(State& st, T& out, T v) {
  out = std::move(v);
  st.emptyError();
  return Out::EmptyOk;
}

// ---- running a parser ----
template <class T>
struct Result {
  bool ok = false;
  T value{};
  ParseFailure failure;
};

// Runs p over the whole text from line 1, column 1. A success of either kind returns the
// value whatever input remains; a failure returns its ParseFailure.
template <class P>
Result<value_of<P>> runParser(P&& p, std::string_view source, std::string_view text,
                              int maxDepth = 1000) {
  using T = value_of<P>;
  Result<T> r;
  for (bool track : {false, true}) {
    State st(text);
    st.track = track;
    st.maxDepth = maxDepth;
    T v{};
    Out o = p(st, v);
    if (st.tooDeep) nestsTooDeeply(maxDepth);
    if (isOk(o)) {
      r.ok = true;
      r.value = std::move(v);
      return r;
    }
    if (track) {
      r.failure = ParseFailure{std::string(source), st.err.pos, std::move(st.err.msgs)};
    }
  }
  return r;
}

}  // namespace vorlax::parsing
