INSERT INTO t (a, b, c) VALUES (0, 'r''0', NULL),
(1.5, a + 1, TRUE),
((SELECT max(x) FROM u), 'b', -2),
(3 -- c
, 'c', 1),
(4, 'r''4', NULL),
(5.5, a + 5, TRUE),
((SELECT max(x) FROM u), 'b', -6),
(7 -- c
, 'c', 1),
(8, 'r''8', NULL),
(9.5, a + 9, TRUE),
((SELECT max(x) FROM u), 'b', -10),
(11 -- c
, 'c', 1),
(12, 'r''12', NULL),
(13.5, a + 13, TRUE),
((SELECT max(x) FROM u), 'b', -14),
(15 -- c
, 'c', 1),
(16, 'r''16', NULL),
(17.5, a + 17, TRUE),
((SELECT max(x) FROM u), 'b', -18),
(19 -- c
, 'c', 1),
(20, 'r''20', NULL),
(21.5, a + 21, TRUE),
((SELECT max(x) FROM u), 'b', -22),
(23 -- c
, 'c', 1),
(24, 'r''24', NULL),
(25.5, a + 25, TRUE),
((SELECT max(x) FROM u), 'b', -26),
(27 -- c
, 'c', 1),
(28, 'r''28', NULL),
(29.5, a + 29, TRUE),
((SELECT max(x) FROM u), 'b', -30),
(31 -- c
, 'c', 1),
(32, 'r''32', NULL),
(33.5, a + 33, TRUE),
((SELECT max(x) FROM u), 'b', -34),
(35 -- c
, 'c', 1),
(36, 'r''36', NULL),
(37.5, a + 37, TRUE),
((SELECT max(x) FROM u), 'b', -38),
(39 -- c
, 'c', 1),
(40, 'r''40', NULL),
(41.5, a + 41, TRUE),
((SELECT max(x) FROM u), 'b', -42),
(43 -- c
, 'c', 1),
(44, 'r''44', NULL),
(45.5, a + 45, TRUE),
((SELECT max(x) FROM u), 'b', -46),
(47 -- c
, 'c', 1),
(48, 'r''48', NULL),
(49.5, a + 49, TRUE),
((SELECT max(x) FROM u), 'b', -50),
(51 -- c
, 'c', 1),
(52, 'r''52', NULL),
(53.5, a + 53, TRUE),
((SELECT max(x) FROM u), 'b', -54),
(55 -- c
, 'c', 1),
(56, 'r''56', NULL),
(57.5, a + 57, TRUE),
((SELECT max(x) FROM u), 'b', -58),
(59 -- c
, 'c', 1),
(60, 'r''60', NULL),
(61.5, a + 61, TRUE),
((SELECT max(x) FROM u), 'b', -62),
(63 -- c
, 'c', 1),
(64, 'r''64', NULL),
(65.5, a + 65, TRUE),
((SELECT max(x) FROM u), 'b', -66),
(67 -- c
, 'c', 1),
(68, 'r''68', NULL),
(69.5, a + 69, TRUE),
((SELECT max(x) FROM u), 'b', -70),
(71 -- c
, 'c', 1),
(72, 'r''72', NULL),
(73.5, a + 73, TRUE),
((SELECT max(x) FROM u), 'b', -74),
(75 -- c
, 'c', 1),
(76, 'r''76', NULL),
(77.5, a + 77, TRUE),
((SELECT max(x) FROM u), 'b', -78),
(79 -- c
, 'c', 1);
SELECT 1;
