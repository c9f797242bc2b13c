// Span inheritance: a node without a position takes the span of its nearest ancestor with one.
// The encoder works that out on its way down the tree; fillMissingSpans states the rule as a
// pass of its own. Both must give the same document for every statement, in particular where
// the encoder steps through nodes without writing them (aliases, clause wrappers, lists).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/arena.h"
#include "encoder/encoder.h"
#include "parser/parser.h"

namespace quorix::test {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

// Each statement of `text` encoded twice: as it comes from the parser, and after the explicit
// pass. Returns the number of statements compared.
size_t compareBothWays(const std::string& text) {
  Arena arena;
  Parser parser(text, arena);
  size_t count = 0;
  while (SqlNode* stmt = parser.nextStatement()) {
    MsgPackWriter onTheWay;
    Encoder(onTheWay).writeStatement(stmt);
    fillMissingSpans(stmt, stmt);
    MsgPackWriter afterPass;
    Encoder(afterPass).writeStatement(stmt);
    EXPECT_EQ(Bytes(onTheWay.data(), onTheWay.data() + onTheWay.size()),
              Bytes(afterPass.data(), afterPass.data() + afterPass.size()))
        << "statement " << count << " of:\n"
        << text;
    ++count;
    parser.releaseNodes();
  }
  return count;
}

TEST(SpanInheritance, EncoderAgreesWithTheExplicitPass) {
  // Places where a span-less node sits below a node that the encoder does not write itself.
  const char* const cases[] = {
      "SELECT a + b AS total, -(c * d), NOT (e OR f) AS g FROM t",
      "SELECT x FROM t ORDER BY a + b DESC NULLS LAST, c ASC, d",
      "SELECT * FROM a JOIN b ON a.x = b.x AND a.y < 3 LEFT JOIN c USING (k) CROSS JOIN d",
      "SELECT * FROM (SELECT 1 + 2) AS s JOIN (SELECT x FROM u WHERE x > 1) AS v ON s.a = v.a",
      "SELECT * FROM (SELECT 1) , t AS u, w",
      "SELECT f(a + 1, b * 2), CAST(c + 1 AS INT) FROM t WHERE d IN (1 + 1, 2) AND e NOT IN "
      "(SELECT 1) AND g LIKE 'a' || 'b' ESCAPE '!' AND h BETWEEN 1 + 1 AND 2 * 3",
      "SELECT a FROM t WHERE x = ANY (SELECT y FROM u) OR EXISTS (SELECT 1 WHERE 1 = 1) "
      "GROUP BY a + 1, b HAVING COUNT(*) > 1 + 1 LIMIT 1 + 1 OFFSET 2 * 2",
      "SELECT (SELECT a + 1 FROM u) AS s, x IS NOT NULL, y IS NULL FROM t",
      "INSERT INTO t (a, b) VALUES (1 + 1, 'x'), (-2, NULL)",
      "UPDATE t SET a = a + 1, b = -b WHERE c = 1 OR d = 2",
      "DELETE FROM t WHERE a IN (1, 2) AND NOT b",
      "CREATE TABLE t (a INT NOT NULL DEFAULT 1 + 1, v VECTOR(3, COSINE), PRIMARY KEY (a)) "
      "WITH (m = 16)",
      "CREATE INDEX i ON t (v) USING HNSW WITH (m = 16, ef = 'x')",
      "DROP TABLE IF EXISTS t; DROP INDEX i",
  };
  for (const char* sql : cases) EXPECT_GE(compareBothWays(sql), 1u) << sql;
}

TEST(SpanInheritance, EncoderAgreesWithTheExplicitPassOnEveryGoldenText) {
  const fs::path dir = fs::path(QUORIX_TEST_DATA_DIR) / "golden";
  size_t statements = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".sql") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    // Texts that the parser rejects stop at their error; what came before still counts.
    try {
      statements += compareBothWays(text.str());
    } catch (const std::exception&) {
    }
  }
  EXPECT_GT(statements, 50u);
}

}  // namespace
}  // namespace quorix::test
