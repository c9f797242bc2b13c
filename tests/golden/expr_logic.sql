SELECT x OR y AND z, x AND y OR z, a OR b OR c FROM t WHERE NOT a AND b
