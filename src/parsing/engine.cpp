#include "parsing/engine.hpp"

namespace vorlax::parsing {

namespace {

const char* const kControlNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "a",  "b",  "t",  "n",
    "v",   "f",   "r",   "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

void renderChar(std::string& out, unsigned char c, char quote) {
  if (c >= 32 && c <= 126) {
    if (c == '\\' || c == static_cast<unsigned char>(quote)) out += '\\';
    out += static_cast<char>(c);
  } else if (c < 32) {
    out += '\\';
    out += kControlNames[c];
  } else if (c == 127) {
    out += "\\DEL";
  } else {
    out += '\\';
    out += std::to_string(c);
  }
}

// Drops empty and repeated texts; "a", "a or b", "a, b or c".
std::string joinList(const std::vector<const std::string*>& texts) {
  std::vector<const std::string*> kept;
  for (const std::string* t : texts) {
    if (t->empty()) continue;
    bool seen = false;
    for (const std::string* k : kept)
      if (*k == *t) { seen = true; break; }
    if (!seen) kept.push_back(t);
  }
  std::string out;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out += (i + 1 == kept.size()) ? " or " : ", ";
    out += *kept[i];
  }
  return out;
}

}  // namespace

std::string showCharLit(unsigned char c) {
  std::string out = "'";
  renderChar(out, c, '\'');
  out += '\'';
  return out;
}

std::string showStringLit(std::string_view s) {
  std::string out = "\"";
  for (char c : s) renderChar(out, static_cast<unsigned char>(c), '"');
  out += '"';
  return out;
}

Out literal(State& st, std::string_view s) {
  Input start = st.in;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (st.atEnd() || st.peek() != static_cast<unsigned char>(s[i])) {
      if (st.track) {
        std::string found = st.atEnd() ? std::string() : showOneCharString(st.peek());
        st.err = Error{start.pos,
                       {Message{MsgKind::Expect, showStringLit(s)},
                        Message{MsgKind::SysUnExpect, std::move(found)}}};
      }
      if (i == 0) return Out::EmptyErr;
      return Out::ConsumedErr;
    }
    st.bump();
  }
  st.emptyError();
  return Out::ConsumedOk;
}

void emptyRepetition() {
  fatal("parser error: a repetition was applied to a parser that accepts empty input");
}

std::string showParseFailure(const ParseFailure& f) {
  std::string out;
  std::string lc = "(line " + std::to_string(f.pos.line) + ", column " + std::to_string(f.pos.column) + ")";
  if (f.source.empty()) {
    out = lc;
  } else {
    out = "\"" + f.source + "\" " + lc;
  }
  out += ':';
  if (f.messages.empty()) {
    out += "unknown parse error";
    return out;
  }
  std::vector<const std::string*> sysUn, un, exp, msg;
  for (const Message& m : f.messages) {
    switch (m.kind) {
      case MsgKind::SysUnExpect: sysUn.push_back(&m.text); break;
      case MsgKind::UnExpect: un.push_back(&m.text); break;
      case MsgKind::Expect: exp.push_back(&m.text); break;
      case MsgKind::Message: msg.push_back(&m.text); break;
    }
  }
  std::vector<std::string> lines;
  if (un.empty() && !sysUn.empty()) {
    const std::string& first = *sysUn.front();
    lines.push_back("unexpected " + (first.empty() ? std::string("end of input") : first));
  }
  auto addLine = [&](const std::string& prefix, const std::vector<const std::string*>& texts) {
    std::string joined = joinList(texts);
    if (!joined.empty()) lines.push_back(prefix + joined);
  };
  addLine("unexpected ", un);
  addLine("expecting ", exp);
  addLine("", msg);
  std::vector<const std::string*> shown;
  for (const std::string& l : lines) {
    bool dup = false;
    for (const std::string* s : shown)
      if (*s == l) { dup = true; break; }
    if (dup) continue;
    shown.push_back(&l);
    out += '\n';
    out += l;
  }
  return out;
}

}  // namespace vorlax::parsing
