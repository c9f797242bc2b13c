DROP TABLE t;
DROP TABLE IF EXISTS t;
DROP INDEX i;
drop index if exists i
