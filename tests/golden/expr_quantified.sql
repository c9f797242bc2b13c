SELECT a = ANY (SELECT b FROM t), a >= ALL (SELECT b FROM t), a <> SOME (SELECT b FROM t),
       a < any (SELECT 1), a <= ALL (SELECT 1), a > Some (SELECT 1), a != ALL (SELECT 1)
