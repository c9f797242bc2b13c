SELECT a = 1, a <> 1, a != 1, a < 1, a <= 1, a > 1, a >= 1, (x = y) = z, x = (y = z)
