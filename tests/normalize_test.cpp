// normalize: what counts as a constant and what is left alone, the bytes around each
// placeholder, failures that are the parser's own, and a million-term chain on a small stack.
// The generated-statement properties of normalize run beside fingerprint's, on the same
// statements (fingerprint_test.cpp).
#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "common/errors.h"
#include "stack_thread.h"
#include "test_support.h"
#include "tools/tools.h"

namespace quorix::tools {
namespace {

TEST(Normalize, ConstantsAndWhatIsLeftAsWritten) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT a FROM t WHERE b = 1 AND c = 'x' OR d = TRUE",
       "SELECT a FROM t WHERE b = $1 AND c = $2 OR d = $3"},
      // Numbering starts again with each statement, as each is its own entry in a query log.
      {"select 1;;SELECT 2, 3; DELETE FROM t WHERE a=4",
       "select $1;;SELECT $1, $2; DELETE FROM t WHERE a=$1"},
      // The sign stays, NULL stays, case, comments and line endings stay.
      {"SeLeCt -1.5, - 2, NULL, fAlSe /* 7 */ FROM t\r\n-- 8\nLIMIT 10 OFFSET 20",
       "SeLeCt -$1, - $2, NULL, $3 /* 7 */ FROM t\r\n-- 8\nLIMIT $4 OFFSET $5"},
      // A vector literal is one value, comments inside it and all.
      {"SELECT [0.5, -1, 2], [1, /* ] */ 2\n -- ]\n ] FROM t", "SELECT $1, $2 FROM t"},
      // Strings: doubled quotes, both quote styles, a line break, text that looks like SQL.
      {"UPDATE t SET a = 'it''s', b = \"say \"\"hi\"\"\", c = 'x\ny' WHERE d = '-- $1 /*'",
       "UPDATE t SET a = $1, b = $2, c = $3 WHERE d = $4"},
      // A type's parameters are part of the type.
      {"SELECT CAST(a AS DECIMAL(10, 2)), CAST(3 AS VECTOR(3, COSINE)) FROM t",
       "SELECT CAST(a AS DECIMAL(10, 2)), CAST($1 AS VECTOR(3, COSINE)) FROM t"},
      // A bare integer as a whole ORDER BY or GROUP BY item is a column's position.
      {"SELECT a, b FROM t GROUP BY 1, b ORDER BY 2 DESC, 3, a + 4, -5, '6'",
       "SELECT a, b FROM t GROUP BY 1, b ORDER BY 2 DESC, 3, a + $1, -$2, $3"},
      {"INSERT INTO t (a, b) VALUES (1, 'x'), (2 + a, NULL)",
       "INSERT INTO t (a, b) VALUES ($1, $2), ($3 + a, NULL)"},
      {"SELECT a FROM t WHERE a IN (1, 2) AND b NOT BETWEEN 3 AND 4 AND c LIKE 'p' ESCAPE '!'",
       "SELECT a FROM t WHERE a IN ($1, $2) AND b NOT BETWEEN $3 AND $4 AND c LIKE $5 ESCAPE $6"},
      {"SELECT (SELECT 1), f(2) FROM (SELECT 3) d WHERE EXISTS (SELECT 4)",
       "SELECT (SELECT $1), f($2) FROM (SELECT $3) d WHERE EXISTS (SELECT $4)"},
      // Definitions are left as written, between statements that are not.
      {"CREATE TABLE t (a INT DEFAULT 5, v VECTOR(3)) WITH (m = 16); SELECT 5; "
       "CREATE INDEX i ON t (v) WITH (ef = 200); DROP TABLE t",
       "CREATE TABLE t (a INT DEFAULT 5, v VECTOR(3)) WITH (m = 16); SELECT $1; "
       "CREATE INDEX i ON t (v) WITH (ef = 200); DROP TABLE t"},
      {"", ""},
      {"  -- nothing\n", "  -- nothing\n"},
  };
  for (const auto& [text, normalized] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(normalizeSql(text), normalized);
  }
}

// The first failure of the text, as quorix_parse_sql reports it: same message, same family.
TEST(Normalize, FailsAsParsingFails) {
  const std::string deep = "SELECT " + std::string(501, '(') + "1" + std::string(501, ')');
  const std::pair<std::string, const char*> cases[] = {
      {"SELECT 1; SELECT FROM t", "ParseError"},
      {"SELECT 1 +", "ParseError"},
      {"DELETE FROM t /* WHERE id = 1", "ParseError"},
      {"UPDATE t SET a = 'x WHERE id = 1", "ParseError"},
      {"SELECT [1, a]", "ParseError"},
      {"DROP VIEW v", "ParseError"},
      {deep, "ParseError"},
      // A bad number before a syntax error further on: the first failure wins.
      {"SELECT 1; SELECT 99999999999999999999; SELECT FROM", "ValueError"},
  };
  for (const auto& [text, family] : cases) {
    SCOPED_TRACE(text.substr(0, 60));
    const test::Outcome parsed = test::parse(text);
    ASSERT_EQ(parsed.status, 1);
    for (const char* tool : {"normalize", "fingerprint"}) {
      std::string caught = "nothing";
      std::string message;
      try {
        if (tool[0] == 'n') {
          normalizeSql(text);
        } else {
          fingerprintSql(text);
        }
      } catch (const ParseError& e) {
        caught = "ParseError", message = e.what();
      } catch (const ValueError& e) {
        caught = "ValueError", message = e.what();
      }
      EXPECT_EQ(caught, family) << tool;
      EXPECT_EQ(message, parsed.error) << tool;
    }
  }
}

// Every text the parser's own tests and fuzzing start from: the tools fail exactly where the
// parser does, and otherwise find a constant wherever the tree says there is one (a position
// that led elsewhere would be an internal defect) and one fingerprint per statement.
TEST(Normalize, AgreesWithTheParserOnEveryCorpusText) {
  namespace fs = std::filesystem;
  const fs::path dirs[] = {fs::path(QUORIX_TEST_DATA_DIR) / "golden",
                           fs::path(QUORIX_TEST_DATA_DIR) / ".." / "fuzz" / "corpus"};
  size_t texts = 0;
  for (const fs::path& dir : dirs) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      if (entry.path().extension() != ".sql") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      const std::string text = content.str();
      SCOPED_TRACE(entry.path().string());
      const test::Outcome parsed = test::parseBytes(text);
      ++texts;
      // The document's one reachable defect (a VECTOR column's metric written as a literal) is
      // the encoder's, after parsing; the tools encode nothing, so for them the text is fine.
      const bool encoderDefect = parsed.error.rfind(kInternalDefectPrefix, 0) == 0;
      if (parsed.status != 0 && !encoderDefect) {
        EXPECT_THROW(
            try { normalizeSql(text); } catch (const std::runtime_error& e) {
              EXPECT_EQ(e.what(), parsed.error);
              throw;
            },
            std::runtime_error);
        continue;
      }
      EXPECT_NO_THROW(normalizeSql(text));
      if (encoderDefect) {
        EXPECT_NO_THROW(fingerprintSql(text));
        continue;
      }
      // The document's statement count: a fixarray, or array 16 for 16 statements or more.
      const uint8_t head = parsed.data.at(0);
      const size_t statements =
          (head & 0xf0) == 0x90 ? head & 0x0fu : size_t(parsed.data.at(1)) << 8 | parsed.data.at(2);
      EXPECT_EQ(fingerprintSql(text).size(), statements);
    }
  }
  EXPECT_GT(texts, 60u);
}

TEST(Normalize, MillionTermOrChainOnASmallStack) {
  constexpr size_t kTerms = 1000000;
  std::string text = "SELECT a FROM t WHERE ";
  std::string expected = text;
  for (size_t i = 0; i < kTerms; ++i) {
    if (i > 0) text += " OR ", expected += " OR ";
    text += i % 2 == 0 ? "a" : "'v'";
    expected += i % 2 == 0 ? "a" : "$" + std::to_string(i / 2 + 1);
  }
  std::string normalized;
  ASSERT_EQ(test::failureOnHostStack([&] { normalized = normalizeSql(text); }), "");
  EXPECT_TRUE(normalized == expected);  // not EXPECT_EQ: a failure would print 10 MB
}

}  // namespace
}  // namespace quorix::tools
