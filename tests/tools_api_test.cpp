// The tools' C interface as a host meets it: the text taken exactly as quorix_parse_sql takes it,
// errors with the parser's messages, records zeroed and owned as documented, and calls from
// several threads at once giving what one thread gives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "quorix_sql_tools.h"
#include "test_support.h"

namespace quorix::test {
namespace {

// Every tool's outcome on one text, as one string: what each returned, or its message.
std::string allTools(const char* sql, int32_t len) {
  std::string out;
  auto add = [&](const char* name, auto r, auto&& describe) {
    out += name;
    out += r.status == 0 ? ": " + describe(r)
                         : ": error " + std::string(r.error, static_cast<size_t>(r.error_len));
    out += '\n';
  };
  const QuorixText f = quorix_sql_format(sql, len, 0);
  add("format", f,
      [](const QuorixText& r) { return std::string(r.text, static_cast<size_t>(r.text_len)); });
  quorix_tools_free(f.text);
  quorix_tools_free(f.error);
  const QuorixText n = quorix_sql_normalize(sql, len);
  add("normalize", n,
      [](const QuorixText& r) { return std::string(r.text, static_cast<size_t>(r.text_len)); });
  quorix_tools_free(n.text);
  quorix_tools_free(n.error);
  const QuorixFingerprints p = quorix_sql_fingerprint(sql, len);
  add("fingerprint", p, [](const QuorixFingerprints& r) { return std::to_string(r.count); });
  quorix_tools_free(p.fingerprints);
  quorix_tools_free(p.error);
  const QuorixStatements s = quorix_sql_split(sql, len);
  add("split", s, [](const QuorixStatements& r) { return std::to_string(r.count); });
  quorix_tools_free(s.statements);
  quorix_tools_free(s.error);
  const QuorixTokens t = quorix_sql_tokens(sql, len);
  add("tokens", t, [](const QuorixTokens& r) {
    std::string kinds;
    for (int32_t i = 0; i < r.count; ++i)
      kinds += std::string(quorix_token_kind_name(r.tokens[i].kind)) + ' ';
    return kinds;
  });
  quorix_tools_free(t.tokens);
  quorix_tools_free(t.error);
  return out;
}

TEST(ToolsApi, TextTakenAndRefusedAsTheParserTakesIt) {
  const std::string defect =
      "error internal parser defect (this is a parser bug, not invalid SQL): ";
  const std::string parseError = "error " + parse("DROP VIEW v").error;
  struct Case {
    const char* sql;
    int32_t len;
    std::string expected;
  };
  const Case cases[] = {
      {"select 1", 0,
       "format: SELECT 1;\n\nnormalize: select $1\nfingerprint: 1\nsplit: 1\ntokens: tkSelect "
       "tkInteger \n"},
      // A length reads exactly that many bytes, and one past the terminator is the index fault.
      {"SELECT 1; junk", 8,
       "format: SELECT 1;\n\nnormalize: SELECT $1\nfingerprint: 1\nsplit: 1\ntokens: tkSelect "
       "tkInteger \n"},
      {"SELECT 1", 20,
       "format: " + defect + "index 8 not in 0 .. 7\nnormalize: " + defect +
           "index 8 not in 0 .. 7\nfingerprint: " + defect + "index 8 not in 0 .. 7\nsplit: " +
           defect + "index 8 not in 0 .. 7\ntokens: " + defect + "index 8 not in 0 .. 7\n"},
      {nullptr, 0, "format: \nnormalize: \nfingerprint: 0\nsplit: 0\ntokens: \n"},
      // Text that does not parse: the parser's message from the tools that need a parse.
      {"DROP VIEW v", 0,
       "format: " + parseError + "\nnormalize: " + parseError + "\nfingerprint: " + parseError +
           "\nsplit: 1\ntokens: tkDrop tkIdent tkIdent \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql == nullptr ? "(null)" : c.sql);
    EXPECT_EQ(allTools(c.sql, c.len), c.expected);
  }
}

TEST(ToolsApi, RecordsAreZeroedAndTextIsTerminated) {
  QuorixText ok = quorix_sql_format("select 1", 0, QUORIX_FORMAT_PRETTY);
  QuorixText bad = quorix_sql_format("select", 0, 0);
  for (const QuorixText* r : {&ok, &bad}) {
    unsigned char bytes[sizeof(QuorixText)];
    std::memcpy(bytes, r, sizeof bytes);
    for (size_t i : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 20u, 21u, 22u, 23u, 36u, 37u, 38u, 39u})
      EXPECT_EQ(bytes[i], 0) << i;
  }
  EXPECT_EQ(ok.text[ok.text_len], '\0');
  EXPECT_EQ(ok.error, nullptr);
  EXPECT_EQ(bad.text, nullptr);
  EXPECT_EQ(bad.error[bad.error_len], '\0');
  quorix_tools_free(ok.text);
  quorix_tools_free(bad.error);
  quorix_tools_free(nullptr);
  EXPECT_STREQ(quorix_token_kind_name(200), "");
  EXPECT_STREQ(quorix_token_class_name(QUORIX_CLASS_INVALID), "invalid");
  EXPECT_STREQ(quorix_tools_version(), "0.1.0");
}

// The place of every failure parse reports, found from its message and the text alone; the
// literal of a value error by scanning, never inside a string, a comment or a vector literal.
TEST(ToolsApi, ErrorPositionsFromMessages) {
  struct Row {
    const char* sql;
    uint32_t line, column, width;  // line 0: no place
  };
  const Row rows[] = {
      {"DROP VIEW v", 1, 6, 0},
      {"SELECT 1;\n  SELECT FROM", 2, 10, 0},
      {"SELECT 99999999999999999999", 1, 8, 20},
      {"SELECT '99999999999999999999', -- 99999999999999999999\n 9223372036854775808", 2, 2, 19},
      {"SELECT [99999999999999999999], 0099999999999999999999", 1, 32, 22},
      {"SELECT 9223372036854775807, 09223372036854775808", 1, 29, 20},
  };
  for (const Row& row : rows) {
    ParseResult r = quorix_parse_sql(row.sql, 0);
    ASSERT_EQ(r.status, 1) << row.sql;
    QuorixErrorPosition at{9, 9, 9};
    EXPECT_EQ(quorix_sql_error_position(row.sql, 0, r.error, r.error_len, &at), row.line != 0)
        << row.sql;
    EXPECT_EQ(at.line, row.line) << row.sql;
    EXPECT_EQ(at.column, row.column) << row.sql;
    EXPECT_EQ(at.width, row.width) << row.sql;
    quorix_free_buffer(r.error);
  }
  // A message that names no place, or one whose literal is not in the text, gives none.
  QuorixErrorPosition at{9, 9, 9};
  EXPECT_EQ(
      quorix_sql_error_position("SELECT 1", 0, "Parsed integer outside of valid range", 0, &at), 0);
  EXPECT_EQ(at.line, 0u);
  EXPECT_EQ(quorix_sql_error_position("SELECT 1", 0, "something else", 0, &at), 0);
  EXPECT_EQ(quorix_sql_error_position("SELECT 1", 0, "Parse error at line 1", 0, nullptr), 0);
}

TEST(ToolsApi, ThreadsCallingAtOnceGetWhatOneThreadGets) {
  const std::vector<std::string> texts = {
      "SELECT a, count(*) FROM t /* c */ WHERE b IN (1, 2) GROUP BY a",
      "INSERT INTO t VALUES (1, 'x')", "UPDATE t SET a = a + 1 WHERE id = 7 -- note",
      "CREATE TABLE t (v VECTOR(3, COSINE))", "SELEC 'open"};
  std::vector<std::string> expected;
  for (const std::string& t : texts) expected.push_back(allTools(t.c_str(), 0));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] {
      for (int round = 0; round < 50; ++round)
        for (size_t i = 0; i < texts.size(); ++i)
          mismatches[static_cast<size_t>(k)] += allTools(texts[i].c_str(), 0) != expected[i];
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace quorix::test
