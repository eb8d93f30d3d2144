#include "ast_name.hpp"

#include <functional>
#include <mutex>
#include <string_view>
#include <unordered_set>

namespace vorlax::ast {

namespace {

// Every name text met so far. Its entries are never moved nor freed, so a Name may point
// into it for as long as the program runs; the table itself is never destroyed, so that no
// name outlives it.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
struct NameTable {
  std::mutex lock;
  std::unordered_set<std::string, TextHash, std::equal_to<>> texts;
};

NameTable& table() {
  static NameTable* t = new NameTable;
  return *t;
}

const std::string* intern(std::string_view text) {
  NameTable& t = table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.texts.find(text);
  if (it == t.texts.end()) it = t.texts.emplace(text).first;
  return &*it;
}

}  // namespace

Name::Name() {
  static const std::string* const empty = intern(std::string_view());
  text_ = empty;
}

Name::Name(std::string_view text) : text_(intern(text)) {}

}  // namespace vorlax::ast
