SELECT a LIKE 'x%', a NOT LIKE 'p' ESCAPE '!', a LIKE 'x!%' ESCAPE '!', a || b LIKE c || '%'
