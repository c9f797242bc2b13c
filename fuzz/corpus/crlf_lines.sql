SELECT a,
  b
FROM t
WHERE c = 'x
y'