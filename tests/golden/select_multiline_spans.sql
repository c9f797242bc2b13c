/* a query
   spread over lines */
SELECT
  t.a AS first_col,   -- trailing comment
	b,
  'multi
line' AS s
FROM
  t
WHERE a
  >= 10
