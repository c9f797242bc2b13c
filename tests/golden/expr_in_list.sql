SELECT a IN (1, 2, 3), a NOT IN (1), a IN (), a IN (b OR c, 'x')
