-- DDL names and option values longer than a fixstr's 31 bytes, in each place where they are
-- written in one run with the keys around them.
CREATE TABLE IF NOT EXISTS a_name_that_is_longer_than_thirty_one_bytes (a_name_that_is_longer_than_thirty_one_bytes BIGINT NOT NULL DEFAULT 0, v VECTOR(3, COSINE) UNIQUE, t TEXT PRIMARY KEY, PRIMARY KEY (a_name_that_is_longer_than_thirty_one_bytes, t)) WITH (a_name_that_is_longer_than_thirty_one_bytes = 'a value that is longer than thirty one bytes', n = 5);
CREATE TABLE t (a INT) WITH (k = v);
CREATE INDEX IF NOT EXISTS a_name_that_is_longer_than_thirty_one_bytes ON a_name_that_is_longer_than_thirty_one_bytes (a_name_that_is_longer_than_thirty_one_bytes) USING HNSW WITH (m = 16, a_name_that_is_longer_than_thirty_one_bytes = 200);
CREATE INDEX i ON t (c) USING BTREE;
DROP TABLE IF EXISTS a_name_that_is_longer_than_thirty_one_bytes;
DROP INDEX a_name_that_is_longer_than_thirty_one_bytes;
DROP TABLE t;
