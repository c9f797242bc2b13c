CREATE TABLE t (a INT) WITH (Ident = plain, s = 'quoted value', n = 123, f = 1.5, j = inner,
  t = text, b1 = boolean, b2 = bool, h = hnsw, bt = btree, c = cosine, l = L2, m = 16, m = 32)
