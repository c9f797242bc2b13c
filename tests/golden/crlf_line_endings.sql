SELECT a,
  b -- crlf comment
FROM t

WHERE c = 1;
DELETE
 FROM u
