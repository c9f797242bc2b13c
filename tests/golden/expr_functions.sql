SELECT count(*), count(DISTINCT a), COUNT(DISTINCT a, b), now(), NOW(), count(DISTINCT *),
       f(1, 'x', g(y)), vector(1, 2)
