#include "yices_domain.hpp"

#include <map>
#include <utility>

#include "fatal.hpp"
#include "frame.hpp"

namespace vorlax {

namespace y = yices;

namespace {

y::TypYP varT(const std::string& name) { return y::mkT(y::VarT{name}); }
y::TypYP arr(std::vector<y::TypYP> ts) { return y::mkT(y::ARR{std::move(ts)}); }
y::CmdY deftyp(const std::string& name, std::optional<y::TypYP> t) {
  return y::mkC(y::DEFTYP{name, std::move(t)});
}
y::CmdY define(const std::string& name, y::TypYP t, std::optional<y::ExpYP> v = std::nullopt) {
  return y::mkC(y::DEFINE{{name, std::move(t)}, std::move(v)});
}
y::ExpYP lambda(std::vector<y::IdTyp> params, y::ExpYP body) {
  return y::mkE(y::LAMBDA{std::move(params), std::move(body)});
}

const y::IdTyp excludeDecl{"exclude_pred", varT("exclude_type")};
const y::ExpYP excludeE = varE("exclude_pred");

// A parameter must not share its name with a generated name that the body reads as a value:
// the binders "idx" (step index) and "obj" (frame object) would capture it, and a parameter
// named null_S would capture every null of structure S inside the body.
void checkParamNames(const char* what, const std::vector<Struct>& structs, const tc::Procedure& p) {
  for (const auto& d : p.prcdArgs) {
    bool reserved = d.declName == idxStr || d.declName == objStr;
    for (const auto& s : structs) reserved = reserved || d.declName == nullStr(s.structName);
    if (reserved)
      fatal(std::string(what) + " " + p.prcdName + ": parameter name " + d.declName +
            " is reserved by the encoding; rename the parameter");
  }
}

// (-> T1 .. Tn (-> int R)), or (-> int R) without parameters.
y::TypYP curriedType(const std::vector<Decl>& params, const y::TypYP& result) {
  y::TypYP step = arr({intTypeY, result});
  if (params.empty()) return step;
  std::vector<y::TypYP> ts;
  ts.reserve(params.size() + 1);
  for (const auto& d : params) ts.push_back(basicTypeY(d.declType));
  ts.push_back(std::move(step));
  return arr(std::move(ts));
}

// (lambda (a1::T1 .. an::Tn)(lambda (idx::int)body)), or the inner lambda alone.
y::ExpYP curriedLambda(const std::vector<Decl>& params, y::ExpYP body) {
  y::ExpYP inner = lambda({idxDecl}, std::move(body));
  if (params.empty()) return inner;
  return lambda(declsToArgsY(params), std::move(inner));
}

bool isResultEq(const tc::TExpr& e) {
  auto b = e.as<tc::BinOpExpr>();
  return b && b->op.kind == BinOp::RelOp && b->op.rop == ROp::Eq && b->left->is<tc::ResultVar>();
}

y::CmdY functionAssert(const std::vector<Struct>& structs, const tc::Procedure& f) {
  checkParamNames("Function", structs, f);
  if (f.prcdEns.size() != 1 || !isResultEq(*f.prcdEns[0].clauseExpr))
    fatal("Cannot process function ensures: " + tc::showTExprList(clauseExprs(f.prcdEns)));
  const auto& rhs = *f.prcdEns[0].clauseExpr->as<tc::BinOpExpr>()->right;
  y::ExpYP body = exprY(preIdx, preIdx, rhs);
  return y::mkC(y::ASSERT{y::mkE(y::EQ{varE(f.prcdName), curriedLambda(f.prcdArgs, std::move(body))})});
}

y::CmdY procedureDefine(const std::vector<Struct>& structs, const FrameFields& frames,
                        const tc::Procedure& p) {
  checkParamNames("Procedure", structs, p);
  std::vector<y::ExpYP> conj;
  conj.reserve(p.prcdReq.size() + p.prcdEns.size() + 2);
  for (const auto& c : p.prcdReq) conj.push_back(exprY(preIdx, preIdx, *c.clauseExpr));
  for (const auto& c : p.prcdEns) conj.push_back(exprY(preIdx, postIdx, *c.clauseExpr));
  conj.push_back(actionFrame(frames, p));
  conj.push_back(y::mkE(y::EQ{app(varE("tag_array"), {preIdx}), varE(procTagStr(p.prcdName))}));
  return define(p.prcdName, curriedType(p.prcdArgs, boolTypeY),
                curriedLambda(p.prcdArgs, y::mkE(y::AND{std::move(conj)})));
}

// The argument selections of the calls in "actions": (T_arg k idx) for the k-th parameter of
// type T, built once and shared by every call that selects the same.
class Selections {
 public:
  const y::ExpYP& of(std::size_t k, const Type& t) {
    y::ExpYP& sel = made_[{k, argSelStr(t)}];
    if (!sel)
      sel = app(varE(argSelStr(t)), {litI(mpz_class(static_cast<unsigned long>(k))), preIdx});
    return sel;
  }

 private:
  std::map<std::pair<std::size_t, std::string>, y::ExpYP> made_;
};

// ((P (T1_arg 1 idx) .. (Tn_arg n idx)) idx), or (P idx) without parameters.
y::ExpYP actionCall(const ast::Procedure& p, Selections& selections) {
  if (p.prcdArgs.empty()) return app(varE(p.prcdName), {preIdx});
  std::vector<y::ExpYP> sel;
  sel.reserve(p.prcdArgs.size());
  for (std::size_t k = 0; k < p.prcdArgs.size(); ++k)
    sel.push_back(selections.of(k + 1, p.prcdArgs[k].declType));
  return app(app(varE(p.prcdName), std::move(sel)), {preIdx});
}

// Selectors beyond Int_arg and the structures' own: Bool_arg and Double_arg when some
// procedure has such a parameter. A structure type with type arguments has no selector.
void extraSelectors(const ast::Domain& dom, const CmdSink& emit) {
  bool needBool = false, needDouble = false;
  for (const auto& p : dom.domProcs)
    for (const auto& d : p.prcdArgs) {
      if (auto s = d.declType.as<StructType>(); s && !s->args.empty())
        fatal("Procedure " + p.prcdName + ": parameter " + d.declName + " has type " +
              showType(d.declType) + ", and a parameter of a structure type with type " +
              "arguments has no argument selector");
      needBool = needBool || d.declType.is<BoolType>();
      needDouble = needDouble || d.declType.is<DoubleType>();
    }
  if (needBool) emit(define("Bool_arg", arr({intTypeY, intTypeY, boolTypeY})));
  if (needDouble) emit(define("Double_arg", arr({intTypeY, intTypeY, realTypeY})));
}

// A procedure or function of a domain that has been checked as a whole.
tc::Procedure typed(const ast::Domain& dom, const ast::Procedure& p) {
  auto r = tc::typecheckProcedure(dom, p);
  if (!r.ok) fatal("Error typechecking domain: " + r.error);
  return std::move(r.value);
}

}  // namespace

// The whole domain is type-checked before the first command, so that its first error ends
// the run before anything is written. Each procedure and function is typed once more where
// it is translated, so that only one typed procedure is held at a time.
void procDom(const ast::Domain& dom, const CmdSink& emit) {
  if (auto err = tc::domainTypeError(dom)) fatal("Error typechecking domain: " + *err);
  const auto& structs = dom.domStructs;

  // 1, 2: procedure tags and the step-to-tag array.
  {
    std::optional<y::TypYP> tags;
    if (!dom.domProcs.empty()) {
      std::vector<std::string> names;
      for (const auto& p : dom.domProcs) names.push_back(procTagStr(p.prcdName));
      tags = y::mkT(y::SCALAR{std::move(names)});
    }
    emit(deftyp("proc_tag", std::move(tags)));
  }
  emit(define("tag_array", arr({intTypeY, varT("proc_tag")})));

  // 3: object universes.
  for (const auto& s : structs) {
    std::vector<std::string> objs{nullStr(s.structName)};
    for (int k = 1; k <= 4; ++k) objs.push_back(objName(s.structName, k));
    emit(deftyp(structStr(s.structName), y::mkT(y::SCALAR{std::move(objs)})));
  }

  // 4: a reference of any structure.
  emit(allType(structs));

  // 5, 6: argument selectors.
  emit(define("Int_arg", arr({intTypeY, intTypeY, intTypeY})));
  extraSelectors(dom, emit);
  for (const auto& s : structs)
    emit(define(s.structName + "_arg", arr({intTypeY, intTypeY, varT(structStr(s.structName))})));

  // 7, 8: the types of exclusion and frame predicates.
  emit(deftyp("exclude_type", arr({allRefType, intTypeY, boolTypeY})));
  emit(deftyp("frame_type", arr({varT("exclude_type"), intTypeY, boolTypeY})));

  // 9: field functions.
  for (const auto& s : structs)
    for (const auto& f : s.structDecls)
      emit(define(f.declName, arr({varT(structStr(s.structName)), intTypeY, basicTypeY(f.declType)})));

  // 10: all fields of an object keep their values.
  for (const auto& s : structs) {
    std::vector<y::ExpYP> eqs;
    const auto obj = tc::mk(tc::Var{objStr, NoType{}});
    for (const auto& f : s.structDecls) {
      auto acc = tc::mk(tc::Access{obj, f.declName, NoType{}});
      auto eq = tc::mk(tc::BinOpExpr{BinOp::rel(ROp::Eq), acc,
                                     tc::mk(tc::UnOpExpr{UnOp::Old, acc, NoType{}}), NoType{}});
      eqs.push_back(exprY(preIdx, postIdx, *eq));
    }
    const auto ref = varT(structStr(s.structName));
    emit(define(s.structName + "_eq", arr({ref, intTypeY, boolTypeY}),
                lambda({{objStr, ref}, idxDecl}, andPrime(std::move(eqs)))));
  }

  // 11: frame of one object and of the whole universe of a structure.
  for (const auto& s : structs) {
    const std::string& n = s.structName;
    const auto ref = varT(structStr(n));
    auto single = y::mkE(y::IMPLIES{
        y::mkE(y::NOT{app(excludeE, {allWrap(n, objY), preIdx})}),
        app(varE(n + "_eq"), {objY, preIdx})});
    emit(define(n + "_frame_single", arr({ref, varT("exclude_type"), intTypeY, boolTypeY}),
                lambda({{objStr, ref}, excludeDecl, idxDecl}, std::move(single))));
    std::vector<y::ExpYP> each;
    each.push_back(app(varE(n + "_frame_single"), {varE(nullStr(n)), excludeE, preIdx}));
    for (int k = 1; k <= 4; ++k)
      each.push_back(app(varE(n + "_frame_single"), {varE(objName(n, k)), excludeE, preIdx}));
    emit(define(n + "_frame_all", arr({varT("exclude_type"), intTypeY, boolTypeY}),
                lambda({excludeDecl, idxDecl}, y::mkE(y::AND{std::move(each)}))));
  }

  // 12: the frame of all structures.
  {
    std::vector<y::ExpYP> alls;
    for (const auto& s : structs)
      alls.push_back(app(varE(s.structName + "_frame_all"), {excludeE, preIdx}));
    emit(define("all-frames", arr({varT("exclude_type"), intTypeY, boolTypeY}),
                lambda({excludeDecl, idxDecl}, andPrime(std::move(alls)))));
  }

  // 13, 14: functions, declared first, then defined.
  for (const auto& f : dom.domFuncs) emit(define(f.prcdName, curriedType(f.prcdArgs, basicTypeY(f.prcdResult))));
  for (const auto& f : dom.domFuncs) emit(functionAssert(structs, typed(dom, f)));

  // 15: one transition predicate per procedure.
  const FrameFields frames(structs);
  for (const auto& p : dom.domProcs) emit(procedureDefine(structs, frames, typed(dom, p)));

  // 16: some procedure is called at a step.
  y::ExpYP body;
  if (dom.domProcs.empty()) {
    body = y::mkE(y::LitB{true});
  } else {
    std::vector<y::ExpYP> calls;
    calls.reserve(dom.domProcs.size());
    Selections selections;
    for (const auto& p : dom.domProcs) calls.push_back(actionCall(p, selections));
    body = y::mkE(y::OR{std::move(calls)});
  }
  emit(define("actions", arr({varT("frame_type"), intTypeY, boolTypeY}),
              lambda({{"frm", varT("frame_type")}, idxDecl}, std::move(body))));
}

}  // namespace vorlax
