(define acc::Account_ref)
(assert (not (open acc 0)))
