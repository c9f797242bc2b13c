UPDATE t SET a = 1, b = a + 1 WHERE id = 3;
UPDATE t SET a = 1, b = 2;
UPDATE t SET a = b = c
