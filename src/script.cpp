#include "script.hpp"

#include <sstream>

#include "fatal.hpp"
#include "types.hpp"

namespace vorlax {

using yices::APP;
using yices::EQ;
using yices::ExpY;
using yices::ExpYP;
using yices::LitI;
using yices::VarE;

namespace {

[[noreturn]] void mapFindFailed() { fatal("Map.find: element not in the map"); }

const EQ& equation(const ExpY& entry) {
  const EQ* eq = entry.as<EQ>();
  if (!eq) fatal("inspectTag: model entry is not an equation");
  return *eq;
}

// (name lit ...) with a plain function name and only integer-literal arguments.
const APP* appOfVar(const ExpY& e, std::size_t arity, const std::string** fn) {
  const APP* app = e.as<APP>();
  if (!app || !app->fn || app->args.size() != arity) return nullptr;
  const VarE* f = app->fn->as<VarE>();
  if (!f) return nullptr;
  for (const auto& a : app->args)
    if (!a || !a->is<LitI>()) return nullptr;
  *fn = &f->name;
  return app;
}

}  // namespace

// ---- tag map ----

std::optional<std::string> stripSuffix(const std::string& suffix, const std::string& s) {
  if (s.size() < suffix.size() || s.compare(s.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::nullopt;
  return s.substr(0, s.size() - suffix.size());
}

std::optional<mpz_class> tagNumM(const ExpY& e) {
  const std::string* fn = nullptr;
  const APP* app = appOfVar(e, 1, &fn);
  if (!app || *fn != "tag_array") return std::nullopt;
  return app->args[0]->as<LitI>()->value;
}

std::optional<std::string> tagM(const ExpY& e) {
  const VarE* v = e.as<VarE>();
  if (!v) return std::nullopt;
  return stripSuffix(tagStr, v->name);
}

void inspectTag(const ExpY& entry, TagMap& tags) {
  const EQ& eq = equation(entry);
  std::optional<mpz_class> step = tagNumM(*eq.left);
  if (!step) step = tagNumM(*eq.right);
  std::optional<std::string> name = tagM(*eq.left);
  if (!name) name = tagM(*eq.right);
  if (step && name) tags.emplace(*step, *name);  // an earlier entry keeps its step
}

TagMap buildTagMap(const std::vector<ExpYP>& model) {
  TagMap tags;
  for (const auto& entry : model) inspectTag(*entry, tags);
  return tags;
}

// ---- argument map ----

std::optional<ArgTerm> argM(const TagMap& tags, const ast::Domain& dom, const ExpY& e) {
  const std::string* fn = nullptr;
  const APP* app = appOfVar(e, 2, &fn);
  if (!app) return std::nullopt;
  const mpz_class& index = app->args[0]->as<LitI>()->value;
  const mpz_class& step = app->args[1]->as<LitI>()->value;
  auto tag = tags.find(step);
  // Without any procedure the lookup by name fails before the step is needed.
  if (dom.domProcs.empty()) findProcUnsafe(dom, tag == tags.end() ? std::string() : tag->second);
  if (tag == tags.end()) mapFindFailed();
  const ast::Procedure& proc = findProcUnsafe(dom, tag->second);
  if (index > static_cast<unsigned long>(proc.prcdArgs.size())) return std::nullopt;
  if (index <= 0) fatal("Prelude.(!!): negative index");
  std::string typeText = showType(proc.prcdArgs[index.get_ui() - 1].declType);
  // The selector of a parameter is named exactly after its type; a name that merely starts
  // with the type text belongs to another type (Acc and Account).
  if (*fn != typeText + argStr) return std::nullopt;
  return ArgTerm{std::move(typeText), index, step};
}

void inspectArg(const TagMap& tags, const ast::Domain& dom, const ExpY& entry, ArgMap& args) {
  const EQ& eq = equation(entry);
  std::optional<ArgTerm> a = argM(tags, dom, *eq.left);
  std::optional<ArgTerm> b = argM(tags, dom, *eq.right);
  // Exactly one side must be an argument term; the other side is its value.
  if (a.has_value() == b.has_value()) return;
  const ArgTerm& term = a ? *a : *b;
  const ExpYP& value = a ? eq.right : eq.left;
  args[term.step].emplace(term.index, value);  // an earlier entry keeps its index
}

ArgMap buildArgMap(const TagMap& tags, const ast::Domain& dom, const std::vector<ExpYP>& model) {
  ArgMap args;
  for (const auto& entry : model) inspectArg(tags, dom, *entry, args);
  return args;
}

// ---- object map ----

bool isGoalVar(const std::string& name, const SerialGoal& goal) {
  for (const auto& d : goal.vars)
    if (d.declName == name) return true;
  return false;
}

ObjMap objEquivalence(const SerialGoal& goal, const std::vector<ExpYP>& model) {
  ObjMap objs;
  for (const auto& entry : model) {
    const EQ* eq = entry->as<EQ>();
    if (!eq) continue;
    const VarE* a = eq->left->as<VarE>();
    const VarE* b = eq->right->as<VarE>();
    if (!a || !b) continue;
    if (isGoalVar(a->name, goal))
      objs.emplace(b->name, a->name);
    else if (isGoalVar(b->name, goal))
      objs.emplace(a->name, b->name);
  }
  return objs;
}

// ---- script text ----

std::size_t numArgs(const ast::Domain& dom, const std::string& name) {
  for (const auto& p : dom.domProcs)
    if (p.prcdName == name) return p.prcdArgs.size();
  fatal("no proc " + name + " found");
}

std::string reconstrArgs(const mpz_class& count, const mpz_class& step, const ObjMap& objs,
                         const ArgMap& args) {
  if (count <= 0) return "";
  auto values = args.find(step);
  if (values == args.end()) mapFindFailed();
  std::string text;
  mpz_class written = 0;
  for (const auto& [index, value] : values->second) {
    if (written == count) break;
    if (written > 0) text += ",";
    if (const VarE* v = value->as<VarE>()) {
      auto obj = objs.find(v->name);
      text += obj == objs.end() ? v->name : obj->second;
    } else {
      text += yices::showExpY(*value);
    }
    ++written;
  }
  return text;
}

std::string reconstrFromMaps(const ast::Domain& dom, const TagMap& tags,
                             const std::function<const ArgMap&()>& args, const ObjMap& objs) {
  static const ArgMap noArgs;
  std::string script;
  for (const auto& [step, name] : tags) {
    std::size_t n = numArgs(dom, name);
    const ArgMap& argMap = n > 0 ? args() : noArgs;
    script += name;
    script += " (";
    script += reconstrArgs(mpz_class(static_cast<unsigned long>(n)), step, objs, argMap);
    script += ")\n";
  }
  return script;
}

std::string generateScript(const SerialGoal& goal, const ast::Domain& dom,
                           const std::vector<ExpYP>& model) {
  TagMap tags = buildTagMap(model);
  std::optional<ArgMap> argMap;
  auto args = [&]() -> const ArgMap& {
    if (!argMap) argMap = buildArgMap(tags, dom, model);
    return *argMap;
  };
  ObjMap objs = objEquivalence(goal, model);
  return reconstrFromMaps(dom, tags, args, objs);
}

}  // namespace vorlax
