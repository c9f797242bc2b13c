CREATE TABLE every_type (
  c1 INTEGER, c2 INT, c3 SMALLINT, c4 BIGINT, c5 FLOAT, c6 DOUBLE, c7 DECIMAL(10, 2),
  c8 VARCHAR(255), c9 CHAR(1), c10 TEXT, c11 BLOB, c12 BOOLEAN, c13 BOOL, c14 TIMESTAMP,
  c15 DATE, c16 TIME, c17 uuid, c18 Uuid, c19 integer, c20 Int, c21 varchar, c22 vector(2)
)
