SELECT CAST(a AS DECIMAL(10, 2)), cast(a as varchar(10)), CAST(a AS VECTOR(3, cosine)),
       CAST(a AS mytype), Cast(1 + 2 AS INT)
