// A solver reply: the check exchange with a solver that answers with the input (framing,
// prompts, verdict), what vorlax prints for the verdict (the model and the call script of
// a fixed domain and goal), the unsat core; the input's lines read directly as a model; and
// the two readers of model expressions giving the same values.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "goal.hpp"
#include "math/smt/yices/parser.hpp"
#include "math/smt/yices/pipe.hpp"
#include "parser.hpp"
#include "script.hpp"
#include "search.hpp"

#ifndef VXFUZZ_REPLY_PEER
#error "VXFUZZ_REPLY_PEER names the fake solver program"
#endif

namespace {

namespace y = vorlax::yices;

struct Fixed {
  vorlax::ast::Domain dom;
  vorlax::SerialGoal goal;
  std::string dir;
  std::string replyFile;
};

const Fixed& fixed() {
  static const Fixed f = [] {
    Fixed x;
    auto d = vorlax::parser::parseDomain("shop.dom", vxfuzz::kShopDomain);
    auto g = vorlax::parseSerialGoal("shop.ser", vxfuzz::kShopGoal);
    if (!d.ok || !g.ok) __builtin_trap();
    x.dom = d.value;
    x.goal = g.value;
    std::string tmpl = (std::filesystem::temp_directory_path() / "vorlax-fuzz-reply-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) __builtin_trap();
    x.dir = tmpl;
    x.replyFile = x.dir + "/reply";
    return x;
  }();
  return f;
}

void removeDir() {
  std::error_code ec;
  std::filesystem::remove_all(fixed().dir, ec);
}

void readVerdict(std::ostream& os, const y::ResY& r, const Fixed& f) {
  os << y::showResY(r);
  vorlax::interpResult(os, r, f.dom, f.goal);
  if (r.kind() == y::ResY::Unknown) os << vorlax::generateScript(f.goal, f.dom, r.model());
  if (r.kind() == y::ResY::UnSat)
    for (const auto& k : r.unsatCore()) os << k << ' ';
}

// The text of a value, or the message of the failure that printing it ends with (a zero
// denominator fails only when its value is used).
std::string textOrFailure(const y::ExpY& e) {
  try {
    return y::showExpY(e);
  } catch (const vorlax::Fatal& f) {
    return "failure: " + f.message;
  }
}

// Models are read by a direct reader that leaves every text it does not read to the grammar;
// wherever it reads one, the grammar must read the same values from it.
void directAgreesWithGrammar(std::string_view text) {
  const auto direct = y::grammar::readExpYsDirect(text);
  if (!direct) return;
  std::vector<y::ExpYP> byGrammar;
  bool read = false;
  vxfuzz::asVorlax([&] {
    byGrammar = y::grammar::parseExpYsByGrammar(text);
    read = true;
  });
  if (!read || byGrammar.size() != direct->size()) __builtin_trap();
  for (std::size_t i = 0; i < byGrammar.size(); ++i)
    if (textOrFailure(*byGrammar[i]) != textOrFailure(*(*direct)[i])) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  signal(SIGPIPE, SIG_IGN);  // as vorlax does: a solver that is gone is a clean error
  fixed();
  std::atexit(removeDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Fixed& f = fixed();
  const std::string_view text = vxfuzz::textOf(data, size);
  {
    std::ofstream out(f.replyFile, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) __builtin_trap();
  }
  std::ostringstream os;
  vxfuzz::asVorlax([&] {
    y::YicesPipe pipe = y::createYicesPipe(VXFUZZ_REPLY_PEER, {f.replyFile});
    readVerdict(os, y::checkY(pipe), f);
  });
  y::endSolvers();
  vxfuzz::asVorlax([&] { readVerdict(os, y::ResY(y::ResY::Sat, y::splitLines(std::string(text))), f); });
  directAgreesWithGrammar(text);
  return 0;
}
