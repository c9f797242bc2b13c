-- nothing but comments and separators
;; /* block
comment */ ;
