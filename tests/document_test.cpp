// The statement array of a document. Statements are encoded one by one as they are parsed, so
// a text of many statements must give exactly the array of its statements' documents, whatever
// the count (each header form), the sizes (inline and heap buffers) or the strings held between
// statements; and the error reported must be the one a parse-then-encode order would give.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "api/library.h"
#include "common/arena.h"
#include "encoder/encoder.h"
#include "encoder/msgpack_writer.h"
#include "parser/parser.h"
#include "test_support.h"

namespace quorix::test {
namespace {

std::vector<uint8_t> arrayHeader(size_t n) {
  if (n <= 15) return {static_cast<uint8_t>(0x90 | n)};
  if (n <= 0xffff) return {0xdc, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  return {0xdd, static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
          static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

std::string rows(size_t n) {
  std::string s = "INSERT INTO t (a, b) VALUES ";
  for (size_t i = 0; i < n; ++i) s += (i ? ", (" : "(") + std::to_string(i) + ", 'r''" + "')";
  return s;
}

// Statements of every family, with escaped strings (unescaped into the per-statement memory)
// and one whose document alone outgrows the writer's inline buffer.
const std::vector<std::string>& statements() {
  static const std::vector<std::string> list = {
      "SELECT 'it''s' AS x, \"q\"\"d\" FROM t WHERE a IN (1, 2) ORDER BY 1 NULLS FIRST",
      rows(200),
      "CREATE TABLE v (id INT PRIMARY KEY, e VECTOR(3, COSINE)) WITH (m = 'a''b')",
      "UPDATE t SET a = 'x''y' WHERE b BETWEEN 1 AND 2",
      "SELECT * FROM a JOIN b ON a.x = b.x LEFT JOIN (SELECT 1) AS d ON TRUE",
      "DELETE FROM t WHERE EXISTS (SELECT 1 FROM u WHERE u.a = t.a)",
      "CREATE INDEX i ON v (e) USING HNSW WITH (m = 16)",
      "DROP TABLE IF EXISTS t",
  };
  return list;
}

// The statements cycled to `count` entries, each on a line of its own so that every position
// differs from that of the statement parsed alone only by its line.
struct Composed {
  std::string text;
  std::vector<uint8_t> expected;
};

Composed compose(size_t count, size_t variety) {
  Composed c;
  std::vector<uint8_t> body;
  for (size_t i = 0; i < count; ++i) {
    const std::string& s = statements()[i % variety];
    // Alone, on the line it will have in the text.
    Outcome alone = parse(std::string(i, '\n') + s);
    EXPECT_EQ(alone.status, 0) << alone.error;
    EXPECT_EQ(alone.data.at(0), 0x91);
    body.insert(body.end(), alone.data.begin() + 1, alone.data.end());
    c.text += s;
    c.text += ";\n";
  }
  c.expected = arrayHeader(count);
  c.expected.insert(c.expected.end(), body.begin(), body.end());
  return c;
}

TEST(StatementArray, ManyStatementsEncodeAsEachAlone) {
  struct Case {
    size_t count;
    size_t variety;  // how many of statements() take part
    const char* why;
  };
  const Case cases[] = {
      {1, 1, "short text, fixarray"},
      {3, 1, "over 128 bytes, fixarray after a wider reservation"},
      {15, 8, "largest fixarray, heap buffer moved down on hand-over"},
      {16, 8, "smallest array16"},
      {17, 4, "array16 with the bulk statement"},
      {300, 8, "many statements reuse the same memory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Composed composed = compose(c.count, c.variety);
    Outcome o = parse(composed.text);
    ASSERT_EQ(o.status, 0) << o.error;
    EXPECT_EQ(o.data, composed.expected);
  }
}

TEST(StatementArray, Array32HeaderWhenTheReservationIsOutgrown) {
  // 65536 statements need five header bytes, more than a long text reserves.
  std::string text;
  for (int i = 0; i < 65536; ++i) text += "DROP TABLE t;";
  Outcome o = parse(text);
  ASSERT_EQ(o.status, 0) << o.error;
  Outcome one = parse("DROP TABLE t");
  ASSERT_EQ(one.status, 0);
  // Every statement is on line 1 at its own column, so compare the frame and the first entry.
  const std::vector<uint8_t> header = {0xdd, 0x00, 0x01, 0x00, 0x00};
  ASSERT_GT(o.data.size(), one.data.size() + 4);
  EXPECT_EQ(std::vector<uint8_t>(o.data.begin(), o.data.begin() + 5), header);
  EXPECT_EQ(std::vector<uint8_t>(o.data.begin() + 5, o.data.begin() + 5 + (one.data.size() - 1)),
            std::vector<uint8_t>(one.data.begin() + 1, one.data.end()));
}

TEST(StatementArray, EmptyTextsGiveTheEmptyArray) {
  for (const char* sql : {"", ";", " ; ;\n", "-- nothing\n;"}) {
    Outcome o = parse(sql);
    ASSERT_EQ(o.status, 0) << o.error;
    EXPECT_EQ(hex(o.data), "90") << sql;
  }
}

// A failure while encoding one statement waits for the rest of the text: a later parse or
// value error is what the host sees, as it would be if the whole text were parsed first.
TEST(StatementArray, LaterParseErrorsOutrankEncodingFailures) {
  const std::string badVector = "CREATE TABLE t (v VECTOR(3, 5))";
  Outcome defect = parse(badVector);
  ASSERT_EQ(defect.status, 1);
  ASSERT_NE(defect.error.find("field 'children'"), std::string::npos) << defect.error;

  struct Case {
    std::string tail;  // what follows the statement that cannot be encoded, on line 2
  };
  const Case cases[] = {
      {"SELECT FROM"},
      {"SELECT 99999999999999999999"},
      {"SELECT 1; 'it''s'"},
      {"DROP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    Outcome alone = parse("\n" + c.tail);
    ASSERT_EQ(alone.status, 1);
    Outcome o = parse(badVector + ";\n" + c.tail);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.error, alone.error);
  }
  // With nothing wrong after it, the encoding failure is the result.
  Outcome o = parse(badVector + ";\nSELECT 1; SELECT 2");
  EXPECT_EQ(o.error, defect.error);
  Outcome first = parse(badVector + "; " + badVector + "; SELECT 'later'");
  EXPECT_EQ(first.error, defect.error);
}

TEST(StatementArray, LaterParseErrorsOutrankTheDocumentLimit) {
  // The first statement's document outgrows the limit while it is written: among its first 64
  // rows (written together), or among the rows written one by one after them.
  for (size_t limit : {size_t(4096), size_t(64) << 10}) {
    SCOPED_TRACE(limit);
    const std::string text = rows(2000) + ";\nSELECT FROM";
    const Limits limits{.maxDocumentBytes = limit};
    Outcome o = take(parseWithLimits(text.c_str(), 0, limits));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.error,
              "Parse error at line 2, col 8: unexpected token in expression (got tkFrom 'FROM')");
    Outcome over = take(parseWithLimits(rows(2000).c_str(), 0, limits));
    EXPECT_EQ(over.error.find("internal parser defect (this is a parser bug, not invalid SQL): "
                              "value out of range: the document exceeds " +
                              std::to_string(limit) + " bytes"),
              0u)
        << over.error;
  }
}

TEST(StatementArray, EscapedStringAfterAStatementKeepsItsText) {
  // The token after a statement is read before the statement's memory is released; an
  // unescaped string there must survive into the message.
  Outcome o = parse("SELECT 1; 'it''s' ");
  EXPECT_EQ(o.error,
            "Parse error at line 1, col 11: expected SQL statement (SELECT, INSERT, UPDATE, "
            "DELETE, CREATE, DROP) (got tkString 'it's')");
}

// The document as a parse-then-encode order writes it: each statement's whole tree, with no
// rows handed over while parsing.
std::vector<uint8_t> wholeTreeDocument(std::string_view text) {
  Arena arena;
  MsgPackWriter body(0);
  Encoder enc(body);
  size_t count = parseSqlStatements(
      text, arena, [&](const SqlNode* stmt, const Parser&) { enc.writeStatement(stmt); });
  std::vector<uint8_t> out = arrayHeader(count);
  out.insert(out.end(), body.data(), body.data() + body.size());
  return out;
}

// Rows of every kind of element: literals, escaped strings, expressions, subqueries, and rows
// broken by comments and line breaks (which leave the literal shortcut).
std::string mixedRows(size_t n) {
  std::string s = "INSERT INTO t VALUES ";
  for (size_t i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    s += i ? ",\n" : "";
    switch (i % 5) {
      case 0:
        s += "(" + k + ", 'a''" + k + "', NULL)";
        break;
      case 1:
        s += "(-" + k + ".25, a + " + k + ", TRUE)";
        break;
      case 2:
        s += "((SELECT max(x) FROM u WHERE u.y = " + k + "), 'b', " + k + ")";
        break;
      case 3:
        s += "(" + k + " -- a comment\n, 'c', 1)";
        break;
      default:
        s += "(CAST(" + k + " AS INT), lower('D'), " + k + " * 2)";
    }
  }
  return s;
}

// A long INSERT is written while it is parsed, row by row (see RowSink); its bytes must be those
// of the whole tree, whatever the row count (the values header grows from three bytes to five
// at 65536 rows) and wherever the statement stands in the text.
TEST(LongInsert, StreamedRowsGiveTheWholeTreesDocument) {
  struct Case {
    const char* why;
    std::string text;
  };
  std::string many;
  for (int i = 0; i < 15; ++i) many += "SELECT " + std::to_string(i) + ";\n";
  const Case cases[] = {
      {"64 rows: parsed whole", rows(64)},
      {"65 rows: the first streamed row", rows(65)},
      {"200 rows", rows(200)},
      {"every kind of row, no column list", mixedRows(500)},
      {"65535 rows: the largest array16", rows(65535)},
      {"65536 rows: widened to array32 mid-stream", rows(65536)},
      {"65537 rows", rows(65537)},
      {"between other statements, twice",
       "SELECT 1;\n" + rows(300) + ";\n" + mixedRows(90) + ";\nDELETE FROM t"},
      {"the 16th statement, when the front header widens", many + rows(100) + "; SELECT 2"},
      {"a string whose text is unescaped, right after the rows", rows(70) + ";\n'it''s'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Outcome o = parse(c.text);
    if (c.text.back() == '\'') {
      EXPECT_EQ(o.status, 1);
      EXPECT_EQ(o.error,
                "Parse error at line 2, col 1: expected SQL statement (SELECT, INSERT, UPDATE, "
                "DELETE, CREATE, DROP) (got tkString 'it's')");
      continue;
    }
    ASSERT_EQ(o.status, 0) << o.error;
    EXPECT_TRUE(o.data == wholeTreeDocument(c.text)) << "documents differ";
  }
}

TEST(FrontHeader, FilledInAfterTheEntries) {
  struct Case {
    size_t front;
    size_t count;
    const char* header;
  };
  const Case cases[] = {
      {1, 0, "90"},
      {1, 15, "9f"},
      {3, 15, "9f"},
      {3, 16, "dc 00 10"},
      {3, 65535, "dc ff ff"},
      {1, 16, "dc 00 10"},
      {3, 65536, "dd 00 01 00 00"},
      {5, 7, "97"},
  };
  for (const Case& c : cases) {
    for (size_t entries : {size_t(2), size_t(20000)}) {
      SCOPED_TRACE(std::to_string(c.front) + " front bytes, count " + std::to_string(c.count) +
                   ", " + std::to_string(entries) + " entries");
      MsgPackWriter w(0);
      w.reserveFront(c.front);
      for (size_t i = 0; i < entries; ++i) w.writeString("ab");
      w.writeFrontArrayHeader(c.count);
      std::vector<uint8_t> expected;
      for (const char* p = c.header; *p != '\0';) {
        expected.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += p[2] == ' ' ? 3 : 2;
      }
      for (size_t i = 0; i < entries; ++i) expected.insert(expected.end(), {0xa2, 'a', 'b'});
      ASSERT_EQ(w.size(), expected.size());
      EXPECT_EQ(std::vector<uint8_t>(w.data(), w.data() + w.size()), expected);
      // The hand-over gives a block of exactly the document, starting at its first byte.
      size_t size = w.size();
      uint8_t* block = w.release();
      EXPECT_EQ(std::vector<uint8_t>(block, block + size), expected);
      EXPECT_EQ(w.size(), 0u);
      std::free(block);
    }
  }
}

}  // namespace
}  // namespace quorix::test
