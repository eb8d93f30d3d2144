// The payloads of a verdict, derived from its answer lines on first use, and its text form.
#include <cctype>
#include <sstream>

#include "fatal.hpp"
#include "math/smt/yices/parser.hpp"
#include "math/smt/yices/pipe.hpp"

namespace vorlax::yices {

const std::vector<ExpYP>& ResY::model() const {
  if (kind_ != Sat && kind_ != Unknown)
    fatal("ResY: only a Sat or Unknown verdict carries a model");
  if (!model_) {
    std::string text;
    for (const auto& l : lines_) {
      text += l;
      text += '\n';
    }
    model_ = std::make_shared<std::vector<ExpYP>>(parseExpYs(text));
  }
  return *model_;
}

namespace {

bool isSpaceChar(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

mpz_class readInteger(const std::string& word) {
  std::size_t digits = (word[0] == '-') ? 1 : 0;
  if (digits == word.size()) fatal("Prelude.read: no parse");
  for (std::size_t i = digits; i < word.size(); ++i)
    if (word[i] < '0' || word[i] > '9') fatal("Prelude.read: no parse");
  return mpz_class(word, 10);
}

}  // namespace

const std::vector<mpz_class>& ResY::unsatCore() const {
  if (kind_ != UnSat) fatal("ResY: only an UnSat verdict carries numbers");
  if (!core_) {
    if (lines_.empty()) fatal("Prelude.head: empty list");
    const std::string& line = lines_.front();
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) fatal("Prelude.tail: empty list");
    std::vector<mpz_class> numbers;
    std::size_t i = colon + 1;
    while (i < line.size()) {
      while (i < line.size() && isSpaceChar(line[i])) ++i;
      std::size_t start = i;
      while (i < line.size() && !isSpaceChar(line[i])) ++i;
      if (i > start) numbers.push_back(readInteger(line.substr(start, i - start)));
    }
    core_ = std::make_shared<std::vector<mpz_class>>(std::move(numbers));
  }
  return *core_;
}

std::string showResY(const ResY& r, int precedence) {
  std::ostringstream os;
  if (precedence >= 11) os << '(';
  switch (r.kind()) {
    case ResY::Sat:
    case ResY::Unknown:
      os << (r.kind() == ResY::Sat ? "Sat " : "Unknown ");
      showExpYList(os, r.model());
      break;
    case ResY::UnSat: {
      os << "UnSat [";
      const char* sep = "";
      for (const auto& n : r.unsatCore()) {
        os << sep << n.get_str(10);
        sep = ",";
      }
      os << ']';
      break;
    }
    case ResY::InCon: {
      os << "InCon [";
      const char* sep = "";
      for (const auto& l : r.lines()) {
        os << sep;
        showStringLit(os, l);
        sep = ",";
      }
      os << ']';
      break;
    }
  }
  if (precedence >= 11) os << ')';
  return os.str();
}

}  // namespace vorlax::yices
