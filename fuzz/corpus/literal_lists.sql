INSERT INTO t (a, b, c) VALUES (1, -2.5, 'it''s'),(2 ,x, NULL),
  (3 /* c */, 4
  , TRUE), (0.000000123456, 12345678901234567.5, [1, -0.25 , 3]);
SELECT p.id, p .x, t.d FROM p WHERE p.id IN (1, 2 ,'a', NULL) AND q.v IN (1
, 2);
SELECT l2_distance(v, [-0.5144, 0.2598,0.2044 , 15, 99999999999999999999.5,
0.1]) FROM t
