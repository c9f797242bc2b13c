// Exact error messages, by statement family. Every expected message is worked out by hand from
// the grammar and the message frame: positions are those of the token at which the rule fails,
// 1-based lines and byte columns; the end-of-input token stands just past the last character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace quorix::test {
namespace {

constexpr const char* kStatement =
    "expected SQL statement (SELECT, INSERT, UPDATE, DELETE, CREATE, DROP)";
constexpr const char* kExpr = "unexpected token in expression";
constexpr const char* kRange = "Parsed integer outside of valid range";
const std::string kDefect = "internal parser defect (this is a parser bug, not invalid SQL): ";

// One rejected text whose message is framed: "Parse error at line L, col C: M (got K 'X')".
struct Framed {
  const char* sql;
  int line;
  int col;
  const char* message;
  const char* kind;
  const char* lexeme;
};

std::string frame(const Framed& c) {
  return "Parse error at line " + std::to_string(c.line) + ", col " + std::to_string(c.col) + ": " +
         c.message + " (got " + c.kind + " '" + c.lexeme + "')";
}

// A rejected text whose whole message is given literally.
struct Literal {
  const char* sql;
  std::string message;
};

void expectRejected(const std::string& sql, const std::string& message) {
  SCOPED_TRACE(sql);
  Outcome o = parse(sql);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(o.data.empty());
  EXPECT_EQ(o.error, message);
}

void expectAll(const std::vector<Framed>& cases) {
  for (const Framed& c : cases) expectRejected(c.sql, frame(c));
}

void expectAll(const std::vector<Literal>& cases) {
  for (const Literal& c : cases) expectRejected(c.sql, c.message);
}

TEST(Errors, FrameIsExactlyAsDocumented) {
  // Written out in full once, so that the frame helper above is itself pinned.
  expectAll(std::vector<Literal>{
      {"SELECT 1 2",
       "Parse error at line 1, col 10: expected SQL statement (SELECT, INSERT, UPDATE, DELETE, "
       "CREATE, DROP) (got tkInteger '2')"},
      {"CREATE VIEW v",
       "Parse error at line 1, col 8: expected TABLE or INDEX after CREATE (got tkIdent 'VIEW')"},
      {"DROP", "Parse error at line 1, col 5: expected TABLE or INDEX after DROP (got tkEof '')"},
      {"DROP VIEW v",
       "Parse error at line 1, col 6: expected TABLE or INDEX after DROP (got tkIdent 'VIEW')"},
      {"SELECT a FROM t\n  WHERE a IN (1\n",
       "Parse error at line 3, col 1: expected tkRParen (got tkEof '')"},
  });
}

TEST(Errors, StatementDispatch) {
  expectAll(std::vector<Framed>{
      {"SELEC 2", 1, 1, kStatement, "tkIdent", "SELEC"},
      {"SELECT 1; SELEC 2", 1, 11, kStatement, "tkIdent", "SELEC"},
      {"SELECT 1 FROM t;;; x", 1, 20, kStatement, "tkIdent", "x"},
      {"ALTER TABLE t", 1, 1, kStatement, "tkAlter", "ALTER"},
      {")", 1, 1, kStatement, "tkRParen", ")"},
      {"SELECT a FROM t !=", 1, 17, kStatement, "tkNeq", "!="},
      {"SELECT a FROM t <>", 1, 17, kStatement, "tkNeq", "<>"},
      {"CREATE", 1, 7, "expected TABLE or INDEX after CREATE", "tkEof", ""},
      {"create unique index i on t (a)", 1, 8, "expected TABLE or INDEX after CREATE", "tkUnique",
       "unique"},
      {"DROP DATABASE d", 1, 6, "expected TABLE or INDEX after DROP", "tkIdent", "DATABASE"},
      {"drop view v", 1, 6, "expected TABLE or INDEX after DROP", "tkIdent", "view"},
  });
}

TEST(Errors, Expressions) {
  expectAll(std::vector<Framed>{
      {"SELECT a BETWEEN 1 OR 2", 1, 20, "expected tkAnd", "tkOr", "OR"},
      {"SELECT a NOT BETWEEN 1, 2", 1, 23, "expected tkAnd", "tkComma", ","},
      {"SELECT a NOT BETWEEN 1 AND", 1, 27, kExpr, "tkEof", ""},
      {"SELECT a BETWEEN 1 AND 2 AND", 1, 29, kExpr, "tkEof", ""},
      {"SELECT a IS TRUE", 1, 13, "expected tkNull", "tkTrue", "TRUE"},
      {"SELECT a IS NOT 1", 1, 17, "expected tkNull", "tkInteger", "1"},
      {"SELECT a IS", 1, 12, "expected tkNull", "tkEof", ""},
      {"SELECT a IN 1", 1, 13, "expected tkLParen", "tkInteger", "1"},
      {"SELECT a NOT IN [1]", 1, 17, "expected tkLParen", "tkLBracket", "["},
      {"SELECT a IN (1, 2", 1, 18, "expected tkRParen", "tkEof", ""},
      {"SELECT a IN (SELECT b FROM t", 1, 29, "expected tkRParen", "tkEof", ""},
      {"SELECT a IN (1,)", 1, 16, kExpr, "tkRParen", ")"},
      {"SELECT a IN (1, 'x' y)", 1, 21, "expected tkRParen", "tkIdent", "y"},
      {"SELECT a = ANY (1, 2)", 1, 17, "expected SELECT subquery", "tkInteger", "1"},
      {"SELECT a = ANY b", 1, 16, "expected tkLParen", "tkIdent", "b"},
      {"SELECT a >= ALL 1", 1, 17, "expected tkLParen", "tkInteger", "1"},
      {"SELECT a > ALL (SELECT b FROM t", 1, 32, "expected tkRParen", "tkEof", ""},
      {"SELECT a <= SOME (SELECT 1 2)", 1, 28, "expected tkRParen", "tkInteger", "2"},
      {"SELECT EXISTS SELECT 1", 1, 15, "expected tkLParen", "tkSelect", "SELECT"},
      {"SELECT EXISTS (1)", 1, 16, "expected SELECT subquery", "tkInteger", "1"},
      {"SELECT NOT EXISTS (SELECT 1", 1, 28, "expected tkRParen", "tkEof", ""},
      {"SELECT x = y = z", 1, 14, kStatement, "tkEq", "="},
      {"SELECT a +", 1, 11, kExpr, "tkEof", ""},
      {"SELECT a LIKE", 1, 14, kExpr, "tkEof", ""},
      {"SELECT a NOT LIKE", 1, 18, kExpr, "tkEof", ""},
      {"SELECT a LIKE 'x' ESCAPE", 1, 25, kExpr, "tkEof", ""},
      {"SELECT 1 AND", 1, 13, kExpr, "tkEof", ""},
      {"SELECT a OR OR b", 1, 13, kExpr, "tkOr", "OR"},
  });
}

TEST(Errors, Primaries) {
  expectAll(std::vector<Framed>{
      {"SELECT t.*", 1, 10, "expected column name", "tkStar", "*"},
      {"SELECT t.date", 1, 10, "expected column name", "tkDate", "date"},
      {"SELECT t.", 1, 10, "expected column name", "tkEof", ""},
      {"SELECT a.b.c", 1, 11, kStatement, "tkDot", "."},
      {"SELECT +5", 1, 8, kExpr, "tkPlus", "+"},
      {"SELECT CASE WHEN a THEN 1 END", 1, 8, kExpr, "tkCase", "CASE"},
      {"SELECT date", 1, 8, kExpr, "tkDate", "date"},
      {"SELECT a FROM t WHERE key = 1", 1, 23, kExpr, "tkKey", "key"},
      {"SELECT .5", 1, 8, kExpr, "tkDot", "."},
      {"SELECT NOW", 1, 11, "expected function call", "tkEof", ""},
      {"SELECT vector + 1", 1, 15, "expected function call", "tkPlus", "+"},
      {"SELECT now(", 1, 12, kExpr, "tkEof", ""},
      {"SELECT f(1, 2", 1, 14, "expected tkRParen", "tkEof", ""},
      {"SELECT count(*, a)", 1, 15, "expected tkRParen", "tkComma", ","},
      {"SELECT count(DISTINCT)", 1, 22, kExpr, "tkRParen", ")"},
      {"SELECT (1 + 2", 1, 14, "expected tkRParen", "tkEof", ""},
      {"SELECT (SELECT 1", 1, 17, "expected tkRParen", "tkEof", ""},
      {"SELECT CAST a", 1, 13, "expected tkLParen", "tkIdent", "a"},
      {"SELECT CAST(a varchar)", 1, 15, "expected tkAs", "tkVarchar", "varchar"},
      {"SELECT CAST(a AS 5)", 1, 18, "expected type name", "tkInteger", "5"},
      {"SELECT CAST(a AS key)", 1, 18, "expected type name", "tkKey", "key"},
      {"SELECT CAST(a AS INT", 1, 21, "expected tkRParen", "tkEof", ""},
      {"SELECT CAST(a AS DECIMAL(1, 2, 3))", 1, 30, "expected tkRParen", "tkComma", ","},
      {"SELECT []", 1, 9, "vector literal cannot be empty", "tkRBracket", "]"},
      {"SELECT [1 2]", 1, 11, "expected ',' or ']' in vector literal", "tkInteger", "2"},
      {"SELECT [1", 1, 10, "expected ',' or ']' in vector literal", "tkEof", ""},
      {"SELECT [1.5.2]", 1, 12, "expected ',' or ']' in vector literal", "tkDot", "."},
      {"SELECT [+1]", 1, 9, "expected vector numeric literal", "tkPlus", "+"},
      {"SELECT [x]", 1, 9, "expected vector numeric literal", "tkIdent", "x"},
      {"SELECT [-x]", 1, 10, "expected vector numeric literal", "tkIdent", "x"},
      {"SELECT [- -1]", 1, 11, "expected vector numeric literal", "tkMinus", "-"},
      {"SELECT [1, 'a']", 1, 12, "expected vector numeric literal", "tkString", "a"},
      {"SELECT [,]", 1, 9, "expected vector numeric literal", "tkComma", ","},
      {"SELECT [1,,]", 1, 11, "expected vector numeric literal", "tkComma", ","},
      {"SELECT [1,", 1, 11, "expected vector numeric literal", "tkEof", ""},
      // Past several well-formed elements, the fault is still placed on its own token.
      {"SELECT [1, 2, 3 4]", 1, 17, "expected ',' or ']' in vector literal", "tkInteger", "4"},
      {"SELECT [0.5, 1.5e3]", 1, 17, "expected ',' or ']' in vector literal", "tkIdent", "e3"},
      {"SELECT [1, 2,\n 3 x]", 2, 4, "expected ',' or ']' in vector literal", "tkIdent", "x"},
      {"SELECT [1, 2, 3.]", 1, 16, "expected ',' or ']' in vector literal", "tkDot", "."},
      {"SELECT [-0.25, 12345678901234567890123, 'a']", 1, 41, "expected vector numeric literal",
       "tkString", "a"},
  });
}

TEST(Errors, Select) {
  expectAll(std::vector<Framed>{
      {"SELECT", 1, 7, kExpr, "tkEof", ""},
      {"SELECT DISTINCT", 1, 16, kExpr, "tkEof", ""},
      {"SELECT ALL a", 1, 8, kExpr, "tkAll", "ALL"},
      {"SELECT a, FROM t", 1, 11, kExpr, "tkFrom", "FROM"},
      {"SELECT a AS from", 1, 13, "expected alias", "tkFrom", "from"},
      {"SELECT a from", 1, 14, "expected table name", "tkEof", ""},
      {"SELECT * FROM 5", 1, 15, "expected table name", "tkInteger", "5"},
      {"SELECT a FROM 'it''s'", 1, 15, "expected table name", "tkString", "it's"},
      {"Select a From Where", 1, 15, "expected table name", "tkWhere", "Where"},
      {"SELECT * FROM t AS order", 1, 20, "expected alias", "tkOrder", "order"},
      {"SELECT * FROM s.t", 1, 16, kStatement, "tkDot", "."},
      {"SELECT a FROM t1, t2 JOIN t3 ON x = y", 1, 22, kStatement, "tkJoin", "JOIN"},
      {"SELECT a FROM t1 OUTER JOIN t2", 1, 18, kStatement, "tkOuter", "OUTER"},
      {"SELECT a FROM t NATURAL OUTER JOIN u", 1, 25, "expected JOIN", "tkOuter", "OUTER"},
      {"SELECT a FROM t NATURAL, u", 1, 24, "expected JOIN", "tkComma", ","},
      {"SELECT a FROM t NATURAL NATURAL JOIN u", 1, 25, "expected JOIN", "tkNatural", "NATURAL"},
      {"SELECT a FROM t INNER u", 1, 23, "expected tkJoin", "tkIdent", "u"},
      {"SELECT a FROM t LEFT OUTER u", 1, 28, "expected tkJoin", "tkIdent", "u"},
      {"SELECT a FROM t CROSS OUTER JOIN u", 1, 23, "expected tkJoin", "tkOuter", "OUTER"},
      {"SELECT a FROM t FULL", 1, 21, "expected tkJoin", "tkEof", ""},
      {"SELECT a FROM t JOIN", 1, 21, "expected table name", "tkEof", ""},
      {"SELECT a FROM t JOIN u ON", 1, 26, kExpr, "tkEof", ""},
      {"SELECT a FROM t JOIN u USING a", 1, 30, "expected tkLParen", "tkIdent", "a"},
      {"SELECT a FROM t JOIN u USING ()", 1, 31, "expected USING column", "tkRParen", ")"},
      {"SELECT a FROM t JOIN u USING (a, key)", 1, 34, "expected USING column", "tkKey", "key"},
      {"SELECT a FROM t JOIN u USING (a b)", 1, 33, "expected tkRParen", "tkIdent", "b"},
      {"SELECT a FROM t JOIN u ON a = b USING (c)", 1, 33, kStatement, "tkUsing", "USING"},
      {"SELECT * FROM (t)", 1, 16, "expected SELECT in FROM derived table", "tkIdent", "t"},
      {"SELECT * FROM ()", 1, 16, "expected SELECT in FROM derived table", "tkRParen", ")"},
      {"SELECT * FROM (SELECT 1", 1, 24, "expected tkRParen", "tkEof", ""},
      {"SELECT * FROM (SELECT 1) AS", 1, 28, "expected alias", "tkEof", ""},
      {"SELECT a FROM t GROUP a", 1, 23, "expected tkBy", "tkIdent", "a"},
      {"SELECT a FROM t GROUP BY a,", 1, 28, kExpr, "tkEof", ""},
      {"SELECT a FROM t ORDER a", 1, 23, "expected tkBy", "tkIdent", "a"},
      {"SELECT a FROM t ORDER BY", 1, 25, kExpr, "tkEof", ""},
      {"SELECT a FROM t ORDER BY a NULLS", 1, 33, "expected FIRST or LAST after NULLS", "tkEof",
       ""},
      {"SELECT a FROM t ORDER BY a DESC NULLS LOW", 1, 39, "expected FIRST or LAST after NULLS",
       "tkIdent", "LOW"},
      {"SELECT a FROM t ORDER BY a NULLS LAST DESC", 1, 39, kStatement, "tkDesc", "DESC"},
      {"SELECT a FROM t LIMIT", 1, 22, kExpr, "tkEof", ""},
      {"SELECT a FROM t LIMIT 1 OFFSET", 1, 31, kExpr, "tkEof", ""},
      {"SELECT a FROM t LIMIT 5, 10", 1, 24, kStatement, "tkComma", ","},
      {"SELECT a FROM t OFFSET 5", 1, 17, kStatement, "tkOffset", "OFFSET"},
      {"SELECT a FROM t HAVING b WHERE a", 1, 26, kStatement, "tkWhere", "WHERE"},
      {"SELECT a FROM t WHERE a WHERE b", 1, 25, kStatement, "tkWhere", "WHERE"},
  });
}

TEST(Errors, InsertUpdateDelete) {
  expectAll(std::vector<Framed>{
      {"INSERT t VALUES (1)", 1, 8, "expected tkInto", "tkIdent", "t"},
      {"INSERT INTO order VALUES (1)", 1, 13, "expected table name", "tkOrder", "order"},
      {"INSERT INTO t () VALUES (1)", 1, 16, "expected column name", "tkRParen", ")"},
      {"INSERT INTO t (a,) VALUES (1)", 1, 18, "expected column name", "tkRParen", ")"},
      {"INSERT INTO t (date) VALUES (1)", 1, 16, "expected column name", "tkDate", "date"},
      {"INSERT INTO t (a, b VALUES (1)", 1, 21, "expected tkRParen", "tkValues", "VALUES"},
      {"INSERT INTO t", 1, 14, "expected tkValues", "tkEof", ""},
      {"INSERT INTO t SELECT 1", 1, 15, "expected tkValues", "tkSelect", "SELECT"},
      {"INSERT INTO t DEFAULT VALUES", 1, 15, "expected tkValues", "tkDefault", "DEFAULT"},
      {"INSERT INTO t VALUES 1", 1, 22, "expected tkLParen", "tkInteger", "1"},
      {"INSERT INTO t VALUES (1),", 1, 26, "expected tkLParen", "tkEof", ""},
      {"INSERT INTO t VALUES ()", 1, 23, kExpr, "tkRParen", ")"},
      {"INSERT INTO t VALUES (1 2)", 1, 25, "expected tkRParen", "tkInteger", "2"},
      // Faults after literals that each close an element are placed as after any other.
      {"INSERT INTO t VALUES (1, 'a', NULL 2)", 1, 36, "expected tkRParen", "tkInteger", "2"},
      {"INSERT INTO t VALUES (1, 2), (3, 4", 1, 35, "expected tkRParen", "tkEof", ""},
      {"INSERT INTO t VALUES (1, 2), (3, 4,)", 1, 36, kExpr, "tkRParen", ")"},
      {"INSERT INTO t VALUES (1, TRUE, x y)", 1, 34, "expected tkRParen", "tkIdent", "y"},
      {"INSERT INTO t VALUES ('a', 2) (3)", 1, 31, kStatement, "tkLParen", "("},
      {"INSERT INTO t VALUES (1) RETURNING a", 1, 26, kStatement, "tkIdent", "RETURNING"},
      {"UPDATE SET a = 1", 1, 8, "expected table name", "tkSet", "SET"},
      {"UPDATE t a = 1", 1, 10, "expected tkSet", "tkIdent", "a"},
      {"UPDATE t SET", 1, 13, "expected column name", "tkEof", ""},
      {"UPDATE t SET key = 1", 1, 14, "expected column name", "tkKey", "key"},
      {"UPDATE t SET t.a = 1", 1, 15, "expected tkEq", "tkDot", "."},
      {"UPDATE t SET a 1", 1, 16, "expected tkEq", "tkInteger", "1"},
      {"UPDATE t SET a = 1,", 1, 20, "expected column name", "tkEof", ""},
      {"UPDATE t SET a = 1 WHERE", 1, 25, kExpr, "tkEof", ""},
      {"UPDATE t SET a = 1 FROM u", 1, 20, kStatement, "tkFrom", "FROM"},
      {"DELETE t", 1, 8, "expected tkFrom", "tkIdent", "t"},
      {"DELETE FROM order", 1, 13, "expected table name", "tkOrder", "order"},
      {"DELETE FROM t WHERE", 1, 20, kExpr, "tkEof", ""},
      {"DELETE FROM t USING u", 1, 15, kStatement, "tkUsing", "USING"},
      {"DELETE FROM t WHERE a = 1 ORDER BY a", 1, 27, kStatement, "tkOrder", "ORDER"},
  });
}

TEST(Errors, CreateTable) {
  expectAll(std::vector<Framed>{
      {"CREATE TABLE IF EXISTS t (a INT)", 1, 17, "expected tkNot", "tkExists", "EXISTS"},
      {"CREATE TABLE IF NOT t (a INT)", 1, 21, "expected tkExists", "tkIdent", "t"},
      {"CREATE TABLE table (a INT)", 1, 14, "expected table name", "tkTable", "table"},
      {"CREATE TABLE (a INT)", 1, 14, "expected table name", "tkLParen", "("},
      {"CREATE TABLE t a INT", 1, 16, "expected tkLParen", "tkIdent", "a"},
      {"CREATE TABLE t ()", 1, 17, "expected column name", "tkRParen", ")"},
      {"CREATE TABLE t (PRIMARY KEY (a))", 1, 17, "expected column name", "tkPrimary", "PRIMARY"},
      {"CREATE TABLE t (key INT)", 1, 17, "expected column name", "tkKey", "key"},
      {"CREATE TABLE t (a INT,)", 1, 23, "expected column name", "tkRParen", ")"},
      {"CREATE TABLE t (a INT, CHECK (a > 0))", 1, 24, "expected column name", "tkCheck", "CHECK"},
      {"CREATE TABLE t (a)", 1, 18, "expected type name", "tkRParen", ")"},
      {"CREATE TABLE t (a 5)", 1, 19, "expected type name", "tkInteger", "5"},
      {"CREATE TABLE t (a INT NOT 1)", 1, 27, "expected tkNull", "tkInteger", "1"},
      {"CREATE TABLE t (a INT PRIMARY)", 1, 30, "expected tkKey", "tkRParen", ")"},
      {"CREATE TABLE t (a INT DEFAULT)", 1, 30, kExpr, "tkRParen", ")"},
      {"CREATE TABLE t (a INT REFERENCES u)", 1, 23, "expected tkRParen", "tkReferences",
       "REFERENCES"},
      {"CREATE TABLE t (a VARCHAR(10 20))", 1, 30, "expected tkRParen", "tkInteger", "20"},
      {"CREATE TABLE t (v VECTOR(3, cosine, x))", 1, 35, "expected tkRParen", "tkComma", ","},
      {"CREATE TABLE t (a INT, CONSTRAINT pk PRIMARY KEY (a))", 1, 35, "expected tkRParen",
       "tkIdent", "pk"},
      {"CREATE TABLE t (a INT, FOREIGN KEY (a) REFERENCES u (b))", 1, 40, "expected tkRParen",
       "tkReferences", "REFERENCES"},
      {"CREATE TABLE t (a INT, PRIMARY KEY (a,))", 1, 39, "expected constraint column", "tkRParen",
       ")"},
      {"CREATE TABLE t (a INT, UNIQUE (1))", 1, 32, "expected constraint column", "tkInteger", "1"},
      {"CREATE TABLE t (a INT, PRIMARY KEY (a b))", 1, 39, "expected tkRParen", "tkIdent", "b"},
      {"CREATE TABLE t (a INT", 1, 22, "expected tkRParen", "tkEof", ""},
      {"CREATE TABLE t (a INT) WITH m = 1", 1, 29, "expected tkLParen", "tkIdent", "m"},
      {"CREATE TABLE t (a INT) WITH ()", 1, 30, "expected option key", "tkRParen", ")"},
      {"CREATE TABLE t (a INT) WITH (key = 1)", 1, 30, "expected option key", "tkKey", "key"},
      {"CREATE TABLE t (a INT) WITH (m = 16,)", 1, 37, "expected option key", "tkRParen", ")"},
      {"CREATE TABLE t (a INT) WITH (m 16)", 1, 32, "expected tkEq", "tkInteger", "16"},
      {"CREATE TABLE t (a INT) WITH (m = -1)", 1, 34, "expected option value", "tkMinus", "-"},
      {"CREATE TABLE t (a INT) WITH (flag = true)", 1, 37, "expected option value", "tkTrue",
       "true"},
      {"CREATE TABLE t (a INT) WITH (m = false)", 1, 34, "expected option value", "tkFalse",
       "false"},
      {"CREATE TABLE t (a INT) WITH (m = NULL)", 1, 34, "expected option value", "tkNull", "NULL"},
      {"CREATE TABLE t (a INT) WITH (m = blob)", 1, 34, "expected option value", "tkBlob", "blob"},
      {"CREATE TABLE t (a INT) WITH (m = int)", 1, 34, "expected option value", "tkInt", "int"},
      {"CREATE TABLE t (a INT) WITH (m = vector)", 1, 34, "expected option value", "tkVector",
       "vector"},
      {"CREATE TABLE t (a INT) WITH (m = 16", 1, 36, "expected tkRParen", "tkEof", ""},
      {"CREATE TABLE t (a INT) WITH (m = 1) x", 1, 37, kStatement, "tkIdent", "x"},
  });
}

TEST(Errors, CreateIndexAndDrop) {
  expectAll(std::vector<Framed>{
      {"CREATE INDEX IF EXISTS idx ON t (v)", 1, 17, "expected tkNot", "tkExists", "EXISTS"},
      {"CREATE INDEX IF NOT idx ON t (v)", 1, 21, "expected tkExists", "tkIdent", "idx"},
      {"CREATE INDEX date ON t (v)", 1, 14, "expected index name", "tkDate", "date"},
      {"CREATE INDEX idx t (v)", 1, 18, "expected tkOn", "tkIdent", "t"},
      {"CREATE INDEX idx ON (v)", 1, 21, "expected table name", "tkLParen", "("},
      {"CREATE INDEX idx ON t v", 1, 23, "expected tkLParen", "tkIdent", "v"},
      {"CREATE INDEX idx ON t ()", 1, 24, "expected index column", "tkRParen", ")"},
      {"CREATE INDEX idx ON t (a, b)", 1, 25, "expected tkRParen", "tkComma", ","},
      {"CREATE INDEX idx ON t (v) USING ivf", 1, 33, "expected HNSW or BTREE index method",
       "tkIdent", "ivf"},
      {"CREATE INDEX idx ON t (v) USING", 1, 32, "expected HNSW or BTREE index method", "tkEof",
       ""},
      {"CREATE INDEX idx ON t (v) USING hnsw WITH (ef = )", 1, 49, "expected option value",
       "tkRParen", ")"},
      {"CREATE INDEX idx ON t (v) WITH (m = 16) USING hnsw", 1, 41, kStatement, "tkUsing", "USING"},
      {"DROP TABLE", 1, 11, "expected table name", "tkEof", ""},
      {"DROP TABLE IF EXISTS", 1, 21, "expected table name", "tkEof", ""},
      {"DROP TABLE IF t", 1, 15, "expected tkExists", "tkIdent", "t"},
      {"DROP TABLE IF NOT EXISTS t", 1, 15, "expected tkExists", "tkNot", "NOT"},
      {"DROP TABLE t CASCADE", 1, 14, kStatement, "tkIdent", "CASCADE"},
      {"DROP INDEX", 1, 11, "expected index name", "tkEof", ""},
      {"DROP INDEX IF EXISTS key", 1, 22, "expected index name", "tkKey", "key"},
      {"DROP INDEX idx ON t", 1, 16, kStatement, "tkOn", "ON"},
  });
}

// Positions past the first line, after comments, carriage returns, tabs, multi-line strings and
// multi-byte characters, and the end-of-input position after trailing blanks and comments.
TEST(Errors, Positions) {
  expectAll(std::vector<Framed>{
      {"SELECT 1;\nSELECT 2;\n  bogus", 3, 3, kStatement, "tkIdent", "bogus"},
      {"-- note\nSELECT a\n  FROM t WHERE", 3, 15, kExpr, "tkEof", ""},
      {"/* one\n two */ SELECT 1 2", 2, 18, kStatement, "tkInteger", "2"},
      {"SELECT 1;\r\nSELEC 2", 2, 1, kStatement, "tkIdent", "SELEC"},
      {"SELECT a\r\nFROM\r\n", 3, 1, "expected table name", "tkEof", ""},
      {"SELECT\r1 2", 1, 10, kStatement, "tkInteger", "2"},
      {"SELECT\ta\tFROM\t\tt\tWHERE\t", 1, 24, kExpr, "tkEof", ""},
      {"SELECT a FROM t WHERE -- trailing\n", 2, 1, kExpr, "tkEof", ""},
      {"SELECT a FROM t WHERE\r\n-- nothing\r\n", 3, 1, kExpr, "tkEof", ""},
      {"SELECT a FROM t WHERE /* x */  ", 1, 32, kExpr, "tkEof", ""},
      {"SELECT a /* x */FROM/* y */t/**/JOIN", 1, 37, "expected table name", "tkEof", ""},
      {"SELECT a /* outer /* inner */ still */ FROM t", 1, 37, kStatement, "tkStar", "*"},
      {"SELECT 5--3\n 4", 2, 2, kStatement, "tkInteger", "4"},
      {"SELECT 'a\nb' 1", 2, 4, kStatement, "tkInteger", "1"},
      {"SELECT 'multi\nline' FROM\n  (t)", 3, 4, "expected SELECT in FROM derived table", "tkIdent",
       "t"},
      {"SELECT '\xC3\xA9' 2", 1, 13, kStatement, "tkInteger", "2"},
      // The first byte of the two-byte character is an alias; the second starts no statement.
      {"SELECT 1 \xC3\xA9", 1, 11, kStatement, "tkIdent", "\xA9"},
      {"SELECT a,\n       b\nFROM t\nWHERE a =\n", 5, 1, kExpr, "tkEof", ""},
      {"CREATE TABLE t (\n  a INT,\n  key TEXT\n)", 3, 3, "expected column name", "tkKey", "key"},
      {"INSERT INTO t\r\nVALUES (1),\r\n  (2,)", 3, 6, kExpr, "tkRParen", ")"},
      {"UPDATE t\n\tSET a = 1,\n\tb 2", 3, 4, "expected tkEq", "tkInteger", "2"},
      {"/* header\n   comment */\nDROP INDEX IF idx", 3, 15, "expected tkExists", "tkIdent", "idx"},
      {"SELECT a -- trailing comment\nFROM t -- another\nJOIN u USING (a,\n-- only a comment\n)", 5,
       1, "expected USING column", "tkRParen", ")"},
  });
}

// A block comment or string literal still open at the end of the text would silently swallow
// the rest (a WHERE, say). It fails at the "/" or quote that opened it, with no token to name, as
// soon as the parser asks for the token it would precede or be: an earlier error still wins.
TEST(Errors, UnterminatedCommentsAndStrings) {
  const std::string comment = "unterminated block comment";
  const std::string literal = "unterminated string literal";
  auto at = [](int line, int col, const std::string& m) {
    return "Parse error at line " + std::to_string(line) + ", col " + std::to_string(col) + ": " +
           m;
  };
  expectAll(std::vector<Literal>{
      {"DELETE FROM t /* WHERE id = 1", at(1, 15, comment)},
      {"UPDATE t SET a = 'x WHERE id = 1", at(1, 18, literal)},
      {"SELECT a FROM /* never closed", at(1, 15, comment)},
      {"/* header", at(1, 1, comment)},
      {"SELECT 1;\n  /* one /* two */ /* three\n", at(2, 20, comment)},
      {"SELECT 1 /*/", at(1, 10, comment)},
      {"SELECT \"", at(1, 8, literal)},
      {"SELECT 'it''", at(1, 8, literal)},
      {"SELECT 'a' \"b\n\nc", at(1, 12, literal)},
      {"INSERT INTO t VALUES (1, 'x), (2, 3)", at(1, 26, literal)},
      // The quote before y closes the literal that opened at x, and y is the error.
      {"INSERT INTO t VALUES (1, 'x), (2, 'y')",
       frame({"", 1, 36, "expected tkRParen", "tkIdent", "y"})},
      {"SELECT [1, 2 /* ]", at(1, 14, comment)},
      {"SELECT a FROM t WHERE b IN (1 /*, 2)", at(1, 31, comment)},
      // The rule fails at FROM before the literal is asked for.
      {"SELECT FROM 'x", frame({"", 1, 8, kExpr, "tkFrom", "FROM"})},
      {"SELEC 'x", frame({"", 1, 1, kStatement, "tkIdent", "SELEC"})},
  });
}

// Conversion failures carry their own message with no position; they arise while the literal
// is parsed, so they win over a later syntax error in the same text.
TEST(Errors, NumericValues) {
  expectAll(std::vector<Literal>{
      {"SELECT 9223372036854775808", kRange},
      {"SELECT -9223372036854775808", kRange},
      {"SELECT 99999999999999999999999", kRange},
      {"INSERT INTO t VALUES (18446744073709551616)", kRange},
      {"SELECT a FROM t LIMIT 9223372036854775808", kRange},
      {"CREATE TABLE t (v VECTOR(9223372036854775808))", kRange},
      {"SELECT 1;\nSELECT a FROM t WHERE b = 10000000000000000000", kRange},
      {"SELECT 9223372036854775808 2", kRange},
      {"CREATE TABLE t (v VECTOR(3, 5)); SELECT 9223372036854775808", kRange},
  });
}

TEST(Errors, InternalDefects) {
  const std::string field =
      kDefect + "field 'children' is not accessible for type 'SqlNode' " + "using 'kind = ";
  expectAll(std::vector<Literal>{
      {"CREATE TABLE t (v VECTOR(3, 5))", field + "nkIntLit'"},
      {"CREATE TABLE t (v vector(3, 5))", field + "nkIntLit'"},
      {"CREATE TABLE t (v VECTOR(3, 2.5))", field + "nkFloatLit'"},
      {"CREATE TABLE t (v VECTOR(3, TRUE))", field + "nkBoolLit'"},
      {"CREATE TABLE t (v VECTOR(3, 1 + 1))", field + "nkBinaryOp'"},
      {"CREATE TABLE t (v VECTOR(3, -1))", field + "nkUnaryOp'"},
      {"SELECT 1; CREATE TABLE t (a INT, v VECTOR(3, 5) NOT NULL)", field + "nkIntLit'"},
  });
  // The whole text is parsed before anything is encoded, so a later syntax error wins.
  expectAll(std::vector<Framed>{
      {"CREATE TABLE t (v VECTOR(3, 5)); SELEC", 1, 34, kStatement, "tkIdent", "SELEC"},
  });
}

// Texts that look wrong but belong to the dialect.
TEST(Errors, AcceptedWhereAnErrorMightBeExpected) {
  const char* accepted[] = {
      "",
      " \t\r\n",
      ";;;",
      "-- only a comment\n/* and a block */",
      "SELECT 1 SELECT 2",
      "SELECT 1;;SELECT 2;",
      "SELECT a IN ()",
      "SELECT a NOT IN ()",
      "SELECT [1,]",
      "SELECT [-1, -2.5,]",
      "SELECT a NOT FROM t",
      "SELECT * x",
      "SELECT 1e5",
      "SELECT !",
      "SELECT | FROM t",
      "SELECT 1 -- a line comment needs no line feed at the end",
      "SELECT 1 /**/",
      "SELECT x = (y = z)",
      "SELECT (x = y) = z",
      "SELECT 9223372036854775807",
      "SELECT -9223372036854775807",
      "SELECT 0009223372036854775807",
      "SELECT [99999999999999999999999]",
      "SELECT count(DISTINCT *)",
      "SELECT CAST(a AS mytype)",
      "SELECT CAST(a AS VECTOR(3, 5))",
      "SELECT a FROM t1 JOIN t2",
      "SELECT a FROM t NATURAL CROSS JOIN u",
      "SELECT a FROM t LEFT OUTER JOIN u ON a = b",
      "SELECT * FROM (SELECT 1)",
      "SELECT a FROM t WHERE a HAVING b",
      "INSERT INTO t (a, b) VALUES (1)",
      "UPDATE t SET a = b = c",
      "CREATE TABLE t (a INT, UNIQUE)",
      "CREATE TABLE t (a INT, UNIQUE KEY (a))",
      "CREATE TABLE t (a INT UNIQUE UNIQUE)",
      "CREATE TABLE t (a DECIMAL(10, 2))",
      "CREATE TABLE t (v myvec(3, 5))",
      "CREATE TABLE t (v VECTOR(3, NULL))",
      "CREATE TABLE t (v VECTOR(3, 'l2'))",
      "CREATE TABLE t (a INT) WITH (metric = inner)",
      ("CREATE INDEX i ON t (v) WITH (a = x, b = 'y', c = 1, d = 1.5, e = inner, f = text, "
       "g = boolean, h = bool, i = hnsw, j = btree, k = cosine, l = l2, a = x)"),
      "DROP TABLE IF EXISTS t",
  };
  for (const char* sql : accepted) {
    SCOPED_TRACE(sql);
    Outcome o = parse(sql);
    EXPECT_EQ(o.status, 0) << o.error;
  }
}

}  // namespace
}  // namespace quorix::test
