/* A header comment stays on its own lines
   before the first statement. */
-- and so does a line comment
SELECT a, -- trails the first item
  b /* before the FROM */
FROM t -- trails the table
-- on its own line before WHERE
WHERE a = /* inside an expression */ 1 AND b IN (
  SELECT c
  FROM u -- in a subquery
); -- after the semicolon

/* between statements */
INSERT INTO t (a, -- in the column list
  b)
VALUES (1, 2), -- after a row
  (3, 4);

UPDATE t
SET a = 1 -- no WHERE
  ;

DELETE FROM t
WHERE x. -- between a table and its column
  y = 1; -- the last one, with no line feed after it
