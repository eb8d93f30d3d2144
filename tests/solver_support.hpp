// What vorlax sends for a small domain, for the tests of the bundled solver: an account with
// a balance, a function fee and a procedure deposit, then the goal variable acc with a zero
// balance.
#pragma once
#include <string>

namespace vorlax::testing_support {

// The commands, one per line; deposit requires its amount to be greater than `guard`.
inline std::string accountCommands(const std::string& guard) {
  return R"((define-type proc_tag (scalar deposit_tag))
(define tag_array::(-> int proc_tag))
(define-type Account_ref (scalar null_Account Account_obj1 Account_obj2 Account_obj3 Account_obj4))
(define-type ALL_ref (datatype (Account_ref_wrap Account_ref_unwrap::Account_ref)))
(define Int_arg::(-> int int int))
(define Account_arg::(-> int int Account_ref))
(define-type exclude_type (-> ALL_ref int bool))
(define-type frame_type (-> exclude_type int bool))
(define balance::(-> Account_ref int int))
(define active::(-> Account_ref int bool))
(define Account_eq::(-> Account_ref int bool) (lambda (obj::Account_ref idx::int)(and (= (balance obj (+ idx 1)) (balance obj idx)) (= (active obj (+ idx 1)) (active obj idx)))))
(define Account_frame_single::(-> Account_ref exclude_type int bool) (lambda (obj::Account_ref exclude_pred::exclude_type idx::int)(=> (not (exclude_pred (Account_ref_wrap obj) idx)) (Account_eq obj idx))))
(define Account_frame_all::(-> exclude_type int bool) (lambda (exclude_pred::exclude_type idx::int)(and (Account_frame_single null_Account exclude_pred idx) (Account_frame_single Account_obj1 exclude_pred idx) (Account_frame_single Account_obj2 exclude_pred idx) (Account_frame_single Account_obj3 exclude_pred idx) (Account_frame_single Account_obj4 exclude_pred idx))))
(define all-frames::(-> exclude_type int bool) (lambda (exclude_pred::exclude_type idx::int)(and (Account_frame_all exclude_pred idx))))
(define fee::(-> Account_ref (-> int int)))
(assert (= fee (lambda (a::Account_ref)(lambda (idx::int)1))))
(define deposit::(-> Account_ref int (-> int bool)) (lambda (a::Account_ref v::int)(lambda (idx::int)(and (> v )" + guard + R"() (= (balance a (+ idx 1)) (+ (balance a idx) v)) (all-frames (lambda (obj::ALL_ref idx::int)(and (or (= obj (Account_ref_wrap a)) false) (if (Account_ref_wrap? obj) (and (= (active (Account_ref_unwrap obj) idx) (active (Account_ref_unwrap obj) (+ idx 1)))) true))) idx) (= (tag_array idx) deposit_tag)))))
(define actions::(-> frame_type int bool) (lambda (frm::frame_type idx::int)(or ((deposit (Account_arg 1 idx) (Int_arg 2 idx)) idx))))
(define acc::Account_ref)
(assert (= (balance acc 0) 0))
)";
}

}  // namespace vorlax::testing_support
