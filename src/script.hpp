// The call script read back from a solver model: which procedure runs at each step and with
// which argument values, goal objects written under the goal variables' names.
#pragma once
#include <gmpxx.h>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ast.hpp"
#include "goal.hpp"
#include "math/smt/yices/syntax.hpp"

namespace vorlax {

// step -> procedure name
using TagMap = std::map<mpz_class, std::string>;
// step -> (argument index -> value)
using ArgMap = std::map<mpz_class, std::map<mpz_class, yices::ExpYP>>;
// solver identifier -> goal-variable name
using ObjMap = std::map<std::string, std::string>;

inline constexpr const char* tagStr = "_tag";
inline constexpr const char* argStr = "_arg";

// The call script of a model: one line per step in ascending step order, each
// "proc (arg,arg)" and a line feed. Fatal on a model it cannot read back.
std::string generateScript(const SerialGoal& goal, const ast::Domain& dom,
                           const std::vector<yices::ExpYP>& model);

// The lines of the script. The argument map is built (by `buildArgMap`) only when a line
// whose procedure has parameters needs it.
std::string reconstrFromMaps(const ast::Domain& dom, const TagMap& tags,
                             const std::function<const ArgMap&()>& args, const ObjMap& objs);
// The argument text of the line for `step`: its first `count` values in index order.
std::string reconstrArgs(const mpz_class& count, const mpz_class& step, const ObjMap& objs,
                         const ArgMap& args);
// Parameter count of the first procedure of that name; fatal "no proc NAME found".
std::size_t numArgs(const ast::Domain& dom, const std::string& name);

// Tag map.
void inspectTag(const yices::ExpY& entry, TagMap& tags);
std::optional<mpz_class> tagNumM(const yices::ExpY& e);
std::optional<std::string> tagM(const yices::ExpY& e);
std::optional<std::string> stripSuffix(const std::string& suffix, const std::string& s);
TagMap buildTagMap(const std::vector<yices::ExpYP>& model);

// Argument map.
struct ArgTerm {
  std::string typeText;
  mpz_class index;
  mpz_class step;
};
std::optional<ArgTerm> argM(const TagMap& tags, const ast::Domain& dom, const yices::ExpY& e);
void inspectArg(const TagMap& tags, const ast::Domain& dom, const yices::ExpY& entry,
                ArgMap& args);
ArgMap buildArgMap(const TagMap& tags, const ast::Domain& dom,
                   const std::vector<yices::ExpYP>& model);

// Object map.
ObjMap objEquivalence(const SerialGoal& goal, const std::vector<yices::ExpYP>& model);
bool isGoalVar(const std::string& name, const SerialGoal& goal);

}  // namespace vorlax
