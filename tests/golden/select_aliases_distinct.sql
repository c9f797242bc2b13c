SELECT DISTINCT a AS b, c d, 1 + 2 AS three FROM t x;
SELECT * x FROM t AS y;
SELECT *, * FROM t
