(define st::Stack_ref)
(assert (= (size st 0) 2))
