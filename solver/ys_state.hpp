// The solver program's symbol table and type table, and the part of them that a push
// saves and a pop restores.
#pragma once
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "ys_ast.hpp"
#include "ys_reader.hpp"

namespace vxsolver {

// An uninterpreted constant or function as Z3 holds it: a curried type
// (-> A (-> B C)) becomes one Z3 function of A and B whose applications come in the
// argument groups [1, 1].
struct UFInfo {
  std::string name;
  z3::func_decl decl;
  std::vector<size_t> groups;   // argument counts of the curried applications; empty for a constant
  std::vector<TypeP> argTypes;  // all arguments, flattened
  TypeP rangeType;              // first-order
};

struct Symbol {
  enum Kind { Uninterpreted, Defined, ScalarElem, Constructor, Selector, Recognizer };
  Kind kind = Uninterpreted;
  std::string name;
  TypeP type;
  long uid = 0;
  std::shared_ptr<const UFInfo> uf;  // Uninterpreted
  ExprP value;                       // Defined
  bool byAssertion = false;          // defined by an assertion (= F ...)
  TypeP owner;                       // ScalarElem, Constructor, Selector, Recognizer
  size_t ctor = 0, field = 0;
};
using SymbolP = std::shared_ptr<const Symbol>;

// A retractable assertion (assert+).
struct Retractable {
  long id;
  z3::expr indicator;
  z3::expr formula;
  std::optional<mpz_class> weight;
  bool retracted = false;
};

// Everything a push saves and a pop restores.
struct Scope {
  std::map<std::string, SymbolP> symbols;
  std::map<std::string, TypeP> types;
  std::vector<std::string> declared;  // uninterpreted symbols in declaration order
  std::set<std::string> used;         // uninterpreted functions that a translation has applied
  std::vector<z3::expr> assertions;   // the formulas asserted, for the points of the model
  std::vector<Retractable> retractables;
};

// How a value of a Z3 sort is written back in the solver language.
struct DeclMeta {
  enum Kind { ScalarElem, Constructor, TupleCtor, RecordCtor } kind;
  std::string name;
  std::vector<std::string> fieldNames;  // RecordCtor
};

struct Globals {
  explicit Globals(z3::context& c);

  z3::context& ctx;
  Scope cur;
  std::vector<Scope> saved;
  long nextUid = 1;

  TypeP intT, realT, boolT, natT;

  const SymbolP* lookup(const std::string& name) const {
    auto it = cur.symbols.find(name);
    return it == cur.symbols.end() ? nullptr : &it->second;
  }

  // First-order types by Z3 sort, and the structural tuple and record types.
  std::unordered_map<unsigned, TypeP> typeBySort;
  std::map<std::string, TypeP> structural;
  std::unordered_map<unsigned, DeclMeta> declMeta;   // by func_decl id
  std::unordered_map<unsigned, std::shared_ptr<const UFInfo>> ufByDecl;  // by func_decl id
  std::set<std::string> z3Names;  // names already given to Z3 sorts

  TypeP tupleType(const std::vector<TypeP>& elems);
  TypeP recordType(const std::vector<Field>& fields);
  TypeP typeOfSort(const z3::sort& s) const;
  std::string freshSortName(const std::string& base);
  void registerSort(const TypeP& t);
};

bool isReservedWord(const std::string& s);

}  // namespace vxsolver
