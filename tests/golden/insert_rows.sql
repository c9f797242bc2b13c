-- Rows whose elements are literals closed straight by ',' or ')' next to rows whose elements
-- need more: blanks, comments and line breaks before a separator, operators, names, escapes.
INSERT INTO t (a, b, c, d) VALUES (1, -2, 'it''s', NULL),(2.50 ,x, '' , TRUE),
  (3 /* c */, 4
  , f(1), 1 + 2),	(007, 1.5, "dq", false  ),
(0.000000123456, 12345678901234567.5, [1, 2], (7));
INSERT INTO t VALUES ('a
b', 'c'), (9223372036854775807, 1.0)
