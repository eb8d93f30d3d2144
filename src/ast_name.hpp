// Names of the syntax tree: variables, fields and called functions. Each distinct text is
// stored once for the whole run, so a name is one pointer wide and two names are equal
// exactly when they are the same pointer.
#pragma once
#include <ostream>
#include <string>
#include <string_view>

namespace vorlax::ast {

class Name {
 public:
  Name();  // the empty name
  Name(std::string_view text);
  Name(const std::string& text) : Name(std::string_view(text)) {}
  Name(const char* text) : Name(std::string_view(text)) {}

  const std::string& str() const { return *text_; }
  operator const std::string&() const { return *text_; }
  bool empty() const { return text_->empty(); }
  // The same for two names exactly when they are equal.
  const void* id() const { return text_; }

  friend bool operator==(Name a, Name b) { return a.text_ == b.text_; }
  friend bool operator==(Name a, const std::string& b) { return *a.text_ == b; }
  friend bool operator==(Name a, const char* b) { return *a.text_ == b; }

 private:
  const std::string* text_;
};

inline std::ostream& operator<<(std::ostream& os, Name n) { return os << n.str(); }

}  // namespace vorlax::ast
