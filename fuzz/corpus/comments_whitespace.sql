-- leading comment
SELECT /* inline */ a	,
 b -- trailing
FROM/**/t /* unclosed