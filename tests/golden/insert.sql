INSERT INTO t VALUES (1, 2), (3, 4);
INSERT INTO t (a, b) VALUES (1);
INSERT INTO items (id, name, embedding) VALUES (7, 'x''y', [0.5, -1, 2]), (8, NULL, [1]), (9, -1, a + 1)
