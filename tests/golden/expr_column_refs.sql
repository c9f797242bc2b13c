SELECT a, t.b, *, x.y AS z, Mixed_Case, "not a name", !, | FROM t
