-- Every kind of statement, written loosely; the outputs are the house style.
select distinct c.name, count(*) as n, sum(o.total) total
from customers c left outer join orders o on o.customer_id = c.id
where c.region in ('eu', 'us') and not c.closed and (o.total > 10 or o.total is null)
group by c.name having count(*) > 2 order by n desc nulls last, c.name limit 10 offset 20;

SELECT a, (SELECT max(b) FROM u WHERE u.a = t.a) AS top, CAST(price AS decimal(10, 2))
FROM t NATURAL JOIN (SELECT a, b FROM v WHERE b BETWEEN 1 AND 5) AS d CROSS JOIN w, x
WHERE EXISTS (SELECT 1 FROM y WHERE y.a = t.a) AND a NOT LIKE 'x\%' ESCAPE '\'
  AND b <> ALL (SELECT b FROM z) AND title || ' (' || code || ')' = "it's";

insert into items (id, title, embedding) values (1, 'first', [0.5, -1, 2.25]), (2, 'second', [1, 0, 0]);
insert into items values (3, 'a much longer title that pushes the row past eighty columns', [0.125, 0.25, 0.5]), (4, NULL, [-0.0, 1.0]);

UPDATE items SET title = 'renamed', score = score + 1, rank = -(score * 2) WHERE id = 1;
DELETE FROM items WHERE title LIKE 'tmp%' OR score IS NULL;
delete from items;

create table if not exists items (id int primary key, title text not null, score float default 0,
  embedding vector(3, cosine), owner_id bigint unique, primary (id), foreign key (owner_id))
  with (shards = 4, engine = 'columnar');
CREATE INDEX IF NOT EXISTS items_embedding ON items (embedding) USING hnsw WITH (m = 16, ef_construction = 200);
create index by_title on items (title);
drop index if exists items_embedding; DROP TABLE items
