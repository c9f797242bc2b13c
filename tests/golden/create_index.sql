CREATE INDEX i ON t (v);
CREATE INDEX i ON t (v) USING btree;
CREATE INDEX i ON t (v) USING HNSW;
create index i on t (v) using BTree;
CREATE INDEX i ON t (v) WITH (m = 16);
CREATE INDEX IF NOT EXISTS i ON t (v) USING hnsw WITH (a = x, b = 'y')
