-- Every kind of statement, written loosely; the outputs are the house style.
SELECT DISTINCT c.name, count(*) AS n, sum(o.total) AS total FROM customers AS c LEFT JOIN orders AS o ON o.customer_id = c.id WHERE c.region IN ('eu', 'us') AND NOT c.closed AND (o.total > 10 OR o.total IS NULL) GROUP BY c.name HAVING count(*) > 2 ORDER BY n DESC NULLS LAST, c.name LIMIT 10 OFFSET 20;
SELECT a, (SELECT max(b) FROM u WHERE u.a = t.a) AS top, CAST(price AS decimal(10, 2)) FROM t NATURAL JOIN (SELECT a, b FROM v WHERE b BETWEEN 1 AND 5) AS d, w, x WHERE EXISTS (SELECT 1 FROM y WHERE y.a = t.a) AND a NOT LIKE 'x\%' ESCAPE '\' AND b <> ALL (SELECT b FROM z) AND title || ' (' || code || ')' = 'it''s';
INSERT INTO items (id, title, embedding) VALUES (1, 'first', [0.5, -1, 2.25]), (2, 'second', [1, 0, 0]);
INSERT INTO items VALUES (3, 'a much longer title that pushes the row past eighty columns', [0.125, 0.25, 0.5]), (4, NULL, [-0, 1]);
UPDATE items SET title = 'renamed', score = score + 1, rank = -(score * 2) WHERE id = 1;
DELETE FROM items WHERE title LIKE 'tmp%' OR score IS NULL;
DELETE FROM items;
CREATE TABLE IF NOT EXISTS items (id INT PRIMARY KEY, title TEXT NOT NULL, score FLOAT DEFAULT 0, embedding VECTOR(3, COSINE), owner_id BIGINT UNIQUE, PRIMARY KEY (id), FOREIGN KEY (owner_id)) WITH (shards = 4, engine = 'columnar');
CREATE INDEX IF NOT EXISTS items_embedding ON items (embedding) USING HNSW WITH (m = 16, ef_construction = 200);
CREATE INDEX by_title ON items (title);
DROP INDEX IF EXISTS items_embedding;
DROP TABLE items;
