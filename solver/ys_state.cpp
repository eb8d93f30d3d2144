#include "ys_state.hpp"

namespace vxsolver {

static TypeP builtin(TypeKind k, const char* name, z3::sort s) {
  auto t = std::make_shared<Type>();
  t->kind = k;
  t->name = name;
  t->sort = s;
  return t;
}

Globals::Globals(z3::context& c) : ctx(c) {
  intT = builtin(TypeKind::Int, "int", ctx.int_sort());
  realT = builtin(TypeKind::Real, "real", ctx.real_sort());
  boolT = builtin(TypeKind::Bool, "bool", ctx.bool_sort());
  auto nat = std::make_shared<Type>();
  nat->kind = TypeKind::Subrange;
  nat->name = "nat";
  nat->base = intT;
  nat->lo = 0;
  nat->sort = ctx.int_sort();
  natT = nat;
  for (const auto& t : {intT, realT, boolT}) typeBySort.emplace(t->sort->id(), t);
}

std::string Globals::freshSortName(const std::string& base) {
  std::string n = base;
  for (int k = 1; !z3Names.insert(n).second; ++k) n = base + "!" + std::to_string(k);
  return n;
}

void Globals::registerSort(const TypeP& t) { typeBySort.emplace(t->sort->id(), t); }

TypeP Globals::typeOfSort(const z3::sort& s) const {
  auto it = typeBySort.find(s.id());
  if (it == typeBySort.end()) throw SolverError("internal error: a sort without a type: " + s.to_string());
  return it->second;
}

static TypeP makeStructural(Globals& g, TypeKind kind, const std::vector<std::string>& names,
                            const std::vector<TypeP>& elems, const std::vector<Field>& fields) {
  std::string key = kind == TypeKind::Tuple ? "tuple" : "record";
  std::vector<z3::sort> sorts;
  for (size_t i = 0; i < names.size(); ++i) {
    const TypeP& t = kind == TypeKind::Tuple ? elems[i] : fields[i].second;
    if (!t->sort) throw SolverError("a " + key + " of functions is not supported");
    sorts.push_back(*t->sort);
    key += " " + names[i] + ":" + std::to_string(t->sort->id());
  }
  auto it = g.structural.find(key);
  if (it != g.structural.end()) return it->second;
  auto t = std::make_shared<Type>();
  t->kind = kind;
  t->elems = elems;
  t->fields = fields;
  std::vector<const char*> cnames;
  for (const auto& n : names) cnames.push_back(n.c_str());
  z3::func_decl_vector projs(g.ctx);
  std::string sname = g.freshSortName(kind == TypeKind::Tuple ? "tuple" : "record");
  z3::func_decl mk = g.ctx.tuple_sort(sname.c_str(), static_cast<unsigned>(names.size()), cnames.data(),
                                      sorts.data(), projs);
  t->sort = mk.range();
  t->ctorDecls.push_back(mk);
  t->accessors.emplace_back();
  for (unsigned i = 0; i < projs.size(); ++i) t->accessors[0].push_back(projs[i]);
  DeclMeta meta{kind == TypeKind::Tuple ? DeclMeta::TupleCtor : DeclMeta::RecordCtor, "", names};
  g.declMeta.emplace(mk.id(), meta);
  g.registerSort(t);
  g.structural.emplace(key, t);
  return t;
}

TypeP Globals::tupleType(const std::vector<TypeP>& elems) {
  std::vector<std::string> names;
  for (size_t i = 0; i < elems.size(); ++i) names.push_back(std::to_string(i + 1));
  return makeStructural(*this, TypeKind::Tuple, names, elems, {});
}

TypeP Globals::recordType(const std::vector<Field>& fields) {
  std::vector<std::string> names;
  for (const auto& f : fields) names.push_back(f.first);
  return makeStructural(*this, TypeKind::Record, names, {}, fields);
}

bool isReservedWord(const std::string& s) {
  static const std::set<std::string> words = {
      "and", "or", "not", "=>", "=", "/=", "<", "<=", ">", ">=", "+", "-", "*", "/", "div", "mod",
      "if", "ite", "let", "forall", "exists", "lambda", "mk-tuple", "mk-record", "select", "update",
      "true", "false", "int", "real", "bool", "nat", "->", "tuple", "record", "subrange", "subtype",
      "scalar", "datatype", "bitvector"};
  return words.count(s) > 0;
}

}  // namespace vxsolver
