// The exported functions' contract: how the input is taken, the shape of the result record,
// buffer ownership, concurrency, and the parser's behaviour on deep and long inputs when it
// runs on a host thread with a small stack.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "encoder/kept_block.h"
#include "stack_thread.h"
#include "test_support.h"

namespace quorix::test {
namespace {

const std::string kDefect = "internal parser defect (this is a parser bug, not invalid SQL): ";
constexpr const char* kStatement =
    "expected SQL statement (SELECT, INSERT, UPDATE, DELETE, CREATE, DROP)";

Outcome call(const char* sql, int32_t len) { return take(quorix_parse_sql(sql, len)); }

std::string repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string frame(int line, int col, const std::string& message, const std::string& kind,
                  const std::string& lexeme) {
  return "Parse error at line " + std::to_string(line) + ", col " + std::to_string(col) + ": " +
         message + " (got " + kind + " '" + lexeme + "')";
}

// --- Input taking -------------------------------------------------------------------------

TEST(Api, NonPositiveLengthReadsTheWholeText) {
  Outcome whole = call("SELECT 1", 8);
  ASSERT_EQ(whole.status, 0);
  ASSERT_FALSE(whole.data.empty());
  EXPECT_EQ(whole.data[0], 0x91);  // one statement
  for (int32_t len : {0, -1, -5, INT32_MIN}) {
    SCOPED_TRACE(len);
    Outcome o = call("SELECT 1", len);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.data, whole.data);
  }
}

TEST(Api, PositiveLengthTakesExactlyThatPrefix) {
  const char* text = "SELECT 1; garbage";
  Outcome reference = call("SELECT 1", 0);
  for (int32_t len : {8, 9, 10}) {
    SCOPED_TRACE(len);
    Outcome o = call(text, len);
    EXPECT_EQ(o.status, 0) << o.error;
    EXPECT_EQ(o.data, reference.data);
  }
  // Cut inside a word: only the bytes before the cut make the token.
  Outcome cut = call(text, 11);
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.error, frame(1, 11, kStatement, "tkIdent", "g"));
  EXPECT_EQ(call(text, 0).error, frame(1, 11, kStatement, "tkIdent", "garbage"));
}

TEST(Api, ShortOrNullInputIsAnIndexFault) {
  struct Case {
    const char* sql;
    int32_t len;
    std::string message;
  };
  const Case cases[] = {
      {"SELECT 1", 20, kDefect + "index 8 not in 0 .. 7"},
      {"SELECT 1", 9, kDefect + "index 8 not in 0 .. 7"},
      {"", 1, kDefect + "index out of bounds, the container is empty"},
      {nullptr, 3, kDefect + "index out of bounds, the container is empty"},
      {nullptr, 1, kDefect + "index out of bounds, the container is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sql ? c.sql : "(null)") + " len " + std::to_string(c.len));
    Outcome o = call(c.sql, c.len);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.data.empty());
    EXPECT_EQ(o.error, c.message);
  }
}

TEST(Api, NullTextWithoutLengthIsTheEmptyDocument) {
  for (int32_t len : {0, -1}) {
    Outcome o = call(nullptr, len);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(hex(o.data), "90");
  }
}

TEST(Api, NulInsideTheTakenBytesFails) {
  Outcome inner = parseBytes(std::string_view("SELECT\0 1", 9));
  EXPECT_EQ(inner.status, 1);
  EXPECT_EQ(inner.error, kDefect + "index 6 not in 0 .. 5");
  Outcome leading = parseBytes(std::string_view("\0SELECT 1", 9));
  EXPECT_EQ(leading.status, 1);
  EXPECT_EQ(leading.error, kDefect + "index out of bounds, the container is empty");
  // A NUL just past the taken bytes is not looked at.
  Outcome after = parseBytes(std::string_view("SELECT 1\0x", 8));
  EXPECT_EQ(after.status, 0) << after.error;
}

// A host may hand over a buffer of exactly len bytes with no terminator.
TEST(Api, UnterminatedBufferOfExactlyLenBytes) {
  const std::string texts[] = {"SELECT a FROM t", "SELECT a FROM"};
  // The scanner and the shortcuts that read ahead in the text (several bytes at a time in
  // strings, numbers in vectors and lists, the point of t.c) must stop at the last byte
  // whatever the cut: every prefix of these ends at an inaccessible page.
  const std::string readAhead[] = {
      "SELECT 'abcdefghij''klmnopqrstuv\nwxyz', t.c, [-0.25, 1.5, 3 ] FROM t",
      "INSERT INTO t VALUES (1, 'abcdefgh', NULL, 2.5), (3, 'x''y', TRUE)",
      "SELECT a FROM t WHERE a IN (1, 2 ,'abcdefghijk') AND b.c = \"quoted identifier text\""};
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* area = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(area, MAP_FAILED);
  char* edge = static_cast<char*>(area) + page;
  ASSERT_EQ(mprotect(edge, page, PROT_NONE), 0);
  for (const std::string& text : readAhead) {
    for (size_t n = 1; n <= text.size(); ++n) {
      SCOPED_TRACE(text.substr(0, n));
      Outcome expected = parseBytes(std::string_view(text.data(), n));
      std::memcpy(edge - n, text.data(), n);
      Outcome guarded = call(edge - n, static_cast<int32_t>(n));
      EXPECT_EQ(guarded.status, expected.status);
      EXPECT_EQ(guarded.data, expected.data);
      EXPECT_EQ(guarded.error, expected.error);
    }
  }
  munmap(area, 2 * page);

  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const int32_t len = static_cast<int32_t>(text.size());
    Outcome expected = parse(text);

    std::unique_ptr<char[]> heap(new char[text.size()]);
    std::memcpy(heap.get(), text.data(), text.size());
    Outcome fromHeap = call(heap.get(), len);
    EXPECT_EQ(fromHeap.status, expected.status);
    EXPECT_EQ(fromHeap.data, expected.data);
    EXPECT_EQ(fromHeap.error, expected.error);

    // The text ends at the last byte of a readable page followed by an inaccessible one, so any
    // read past the end faults instead of going unnoticed.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* region =
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    char* base = static_cast<char*>(region);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    char* start = base + page - text.size();
    std::memcpy(start, text.data(), text.size());
    Outcome guarded = call(start, len);
    munmap(region, 2 * page);
    EXPECT_EQ(guarded.status, expected.status);
    EXPECT_EQ(guarded.data, expected.data);
    EXPECT_EQ(guarded.error, expected.error);
  }
}

// --- The result record ------------------------------------------------------------------------

// Builds the result straight into storage filled with a marker byte, so that any byte the
// library leaves unset shows up.
std::array<unsigned char, sizeof(ParseResult)> rawResult(const char* sql, int32_t len,
                                                         ParseResult& out) {
  alignas(ParseResult) unsigned char storage[sizeof(ParseResult)];
  std::memset(storage, 0xAA, sizeof storage);
  ParseResult* r = new (storage) ParseResult(quorix_parse_sql(sql, len));
  std::array<unsigned char, sizeof(ParseResult)> bytes{};
  std::memcpy(bytes.data(), storage, sizeof storage);
  out = *r;
  return bytes;
}

const char* const kFailing[] = {
    "SELEC 1",                          // parse error
    "SELECT 9223372036854775808",       // value error
    "CREATE TABLE t (v VECTOR(3, 5))",  // internal defect
    "SELECT 1; SELEC 2",                // valid statement before the error
    "DROP",                             // error at the end of input
};
const char* const kSucceeding[] = {"", ";", "SELECT 1", "SELECT 1; SELECT 2",
                                   "CREATE TABLE t (a INT)"};

TEST(Api, ErrorResultHasATerminatedMessageAndNoDocument) {
  for (const char* sql : kFailing) {
    SCOPED_TRACE(sql);
    ParseResult r;
    rawResult(sql, 0, r);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.data, nullptr);
    EXPECT_EQ(r.data_len, 0);
    ASSERT_NE(r.error, nullptr);
    EXPECT_GT(r.error_len, 0);
    EXPECT_EQ(r.error[r.error_len], '\0');
    EXPECT_EQ(std::strlen(r.error), static_cast<size_t>(r.error_len));
    quorix_free_buffer(r.error);
  }
}

TEST(Api, SuccessResultHasADocumentAndNoMessage) {
  for (const char* sql : kSucceeding) {
    SCOPED_TRACE(sql);
    ParseResult r;
    rawResult(sql, 0, r);
    EXPECT_EQ(r.status, 0);
    ASSERT_NE(r.data, nullptr);
    EXPECT_GE(r.data_len, 1);
    EXPECT_EQ(r.error, nullptr);
    EXPECT_EQ(r.error_len, 0);
    quorix_free_buffer(r.data);
  }
}

TEST(Api, PaddingBytesAreZero) {
  // After status, after data_len, after error_len.
  constexpr size_t kPadding[] = {1, 2, 3, 4, 5, 6, 7, 20, 21, 22, 23, 36, 37, 38, 39};
  std::vector<std::pair<const char*, int32_t>> inputs;
  for (const char* sql : kFailing) inputs.emplace_back(sql, 0);
  for (const char* sql : kSucceeding) inputs.emplace_back(sql, 0);
  inputs.emplace_back("SELECT 1", 20);  // index fault
  for (const auto& [sql, len] : inputs) {
    SCOPED_TRACE(sql);
    ParseResult r;
    auto bytes = rawResult(sql, len, r);
    for (size_t i : kPadding) EXPECT_EQ(bytes[i], 0) << "byte " << i;
    quorix_free_buffer(r.data);
    quorix_free_buffer(r.error);
  }
}

TEST(Api, LaterInvalidStatementDiscardsTheDocument) {
  Outcome o = parse("SELECT 1; SELEC 2");
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(o.data.empty());
  EXPECT_EQ(o.error, frame(1, 11, kStatement, "tkIdent", "SELEC"));
}

TEST(Api, FreeBufferAcceptsNull) {
  quorix_free_buffer(nullptr);
  quorix_free_buffer(nullptr);
  EXPECT_EQ(parse("SELECT 1").status, 0);
}

TEST(Api, VersionIsOneConstantString) {
  const char* first = quorix_parser_version();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "0.1.0");
  EXPECT_EQ(quorix_parser_version(), first);
  const char* fromThread = nullptr;
  std::thread([&] { fromThread = quorix_parser_version(); }).join();
  EXPECT_EQ(fromThread, first);
}

TEST(Api, InitIsRepeatableAndChangesNothing) {
  Outcome before = parse("SELECT a FROM t WHERE b = 1");
  for (int i = 0; i < 5; ++i) quorix_parser_init();
  std::thread(quorix_parser_init).join();
  Outcome after = parse("SELECT a FROM t WHERE b = 1");
  EXPECT_EQ(after.status, 0);
  EXPECT_EQ(after.data, before.data);
}

TEST(Api, BlocksMayBeReleasedOnAnotherThread) {
  ParseResult ok = quorix_parse_sql("SELECT 1", 0);
  ParseResult bad = quorix_parse_sql("SELEC", 0);
  ASSERT_EQ(ok.status, 0);
  ASSERT_EQ(bad.status, 1);
  std::thread([&] {
    quorix_free_buffer(ok.data);
    quorix_free_buffer(bad.error);
  }).join();
}

// --- The block a thread keeps between calls ----------------------------------------------------

// Statements of every family, `copies` times over: documents from a few KiB to megabytes.
std::string mixedText(int copies, int salt) {
  std::string text;
  for (int i = 0; i < copies; ++i) {
    const std::string n = std::to_string(i * 7 + salt);
    text += "SELECT a" + n + ", 'x" + n + "' FROM t WHERE b = " + n + " OR c IN (1, 2);\n";
    text += "INSERT INTO v (id, e) VALUES (" + n + ", [0.5, -1.25, " + n + "]);\n";
    if (i % 16 == 0) text += "CREATE TABLE t" + n + " (id INT PRIMARY KEY, v VECTOR(3));\n";
  }
  return text;
}

TEST(KeptBlock, ReusedBlocksNeverChangeAResult) {
  // Growing, shrinking and equal sizes, each text's document compared with one written on a
  // thread that keeps nothing; the first and last texts are the same.
  const std::vector<std::string> texts = {mixedText(400, 1), mixedText(4000, 2),
                                          mixedText(40, 3),  mixedText(4000, 4),
                                          mixedText(900, 5), mixedText(400, 1)};
  std::vector<Outcome> fresh;
  for (const std::string& t : texts) {
    std::thread([&] { fresh.push_back(parse(t)); }).join();
  }
  std::thread([&] {
    size_t reused = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
      const size_t keptBefore = keptBlockBytes();
      const Outcome o = parse(texts[i]);
      ASSERT_EQ(o.status, 0) << o.error;
      EXPECT_EQ(o.data, fresh[i].data) << "text " << i;
      if (keptBefore >= o.data.size()) ++reused;
    }
    EXPECT_GE(reused, 2u);
  }).join();
}

TEST(KeptBlock, BoundedPerThreadAndGivenBack) {
  std::thread([] {
    EXPECT_EQ(keptBlockBytes(), 0u);
    ParseResult big = quorix_parse_sql(mixedText(2000, 0).c_str(), 0);
    ASSERT_EQ(big.status, 0);
    const auto size = static_cast<size_t>(big.data_len);
    // Released on another thread, the block is that thread's to keep; this one keeps nothing.
    std::thread([&] {
      quorix_free_buffer(big.data);
      EXPECT_GE(keptBlockBytes(), size);
    }).join();
    EXPECT_EQ(keptBlockBytes(), 0u);

    const Outcome again = parse(mixedText(2000, 0));
    const size_t kept = keptBlockBytes();
    EXPECT_GE(kept, again.data.size());
    EXPECT_LE(kept, again.data.size() + again.data.size() / 8 + 4096);
    // Calls that do not need it give it back after a while.
    for (unsigned i = 1; i < kKeptBlockIdleCalls; ++i) parse("SELECT 1");
    EXPECT_EQ(keptBlockBytes(), kept);
    parse("SELECT 1");
    EXPECT_EQ(keptBlockBytes(), 0u);
    // Small documents and failures keep nothing.
    parse(mixedText(8, 0));
    parse(mixedText(2000, 0) + "SELEC");
    EXPECT_EQ(keptBlockBytes(), 0u);
  }).join();
}

TEST(KeptBlock, NeverMoreThanTheBound) {
  void* block = std::malloc(kMaxKeptBlock + 1);
  ASSERT_NE(block, nullptr);
  std::thread([&] {
    keepOrFree(block);
    EXPECT_EQ(keptBlockBytes(), 0u);
  }).join();
}

// --- Concurrency ------------------------------------------------------------------------------

TEST(ApiThreads, ConcurrentCallsMatchASingleThreadedRun) {
  const std::vector<std::string> texts = {
      "SELECT a, b AS c FROM t WHERE a > 1 ORDER BY b DESC NULLS LAST LIMIT 10 OFFSET 2",
      "SELECT DISTINCT count(*) FROM t1 LEFT JOIN t2 USING (id) GROUP BY x HAVING y",
      "SELECT * FROM (SELECT 1) s, u NATURAL JOIN v",
      "SELECT a FROM t WHERE a IN (SELECT b FROM u) AND NOT EXISTS (SELECT 1)",
      "SELECT CAST(a AS VARCHAR(10)), [1, -2.5, 3], 'it''s' || x",
      "INSERT INTO t (a, b) VALUES (1, 'x'), (2, NULL)",
      "UPDATE t SET a = a + 1 WHERE b LIKE 'x%' ESCAPE '!'",
      "DELETE FROM t WHERE a BETWEEN 1 AND 5",
      "CREATE TABLE IF NOT EXISTS t (id INT PRIMARY KEY, v VECTOR(128, cosine)) WITH (m = 16)",
      "CREATE INDEX IF NOT EXISTS i ON t (v) USING hnsw WITH (ef = 64)",
      "DROP TABLE IF EXISTS t; DROP INDEX i",
      "",
      "SELECT 1;\nSELEC 2",
      "SELECT a FROM t WHERE",
      "CREATE TABLE t ()",
      "SELECT 9223372036854775808",
      "CREATE TABLE t (v VECTOR(3, 5))",
      "SELECT [1 2]",
      "INSERT INTO t VALUES (1),",
      "SELECT a = ANY (1, 2)",
  };
  std::vector<Outcome> expected;
  for (const std::string& t : texts) expected.push_back(parse(t));

  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < texts.size(); ++i) {
          Outcome o = parse(texts[i]);
          if (o.status != expected[i].status || o.data != expected[i].data ||
              o.error != expected[i].error) {
            ++mismatches[static_cast<size_t>(t)];
          }
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[static_cast<size_t>(t)], 0);
}

// --- Deep nesting and long chains on a small stack -----------------------------------------

constexpr int kMaxNesting = 500;

// Runs one parse on a thread with a 1 MiB stack, as a host's worker thread might have.
Outcome parseOnSmallStack(const std::string& sql) {
  Outcome outcome;
  int rc = runOnStack(kHostStackBytes, [&] { outcome = parse(sql); });
  if (rc != 0) ADD_FAILURE() << "pthread_create failed: " << rc;
  return outcome;
}

// A way of nesting n levels, and where the token that opens level n + 1 stands.
struct Nesting {
  const char* name;
  std::function<std::string(int)> build;
  std::function<int(int)> openerColumn;  // column of the token opening level `level`
  const char* kind;
  const char* lexeme;
};

std::string derivedTables(int n) {
  std::string sql = "SELECT 1";
  for (int i = 0; i < n; ++i) sql = "SELECT * FROM (" + sql + ") x";
  return sql;
}

const std::vector<Nesting>& nestings() {
  static const std::vector<Nesting> all = {
      {"parentheses", [](int n) { return "SELECT " + repeat("(", n) + "1" + repeat(")", n); },
       [](int level) { return 7 + level; }, "tkLParen", "("},
      {"prefix minus", [](int n) { return "SELECT " + repeat("- ", n) + "1"; },
       [](int level) { return 8 + 2 * (level - 1); }, "tkMinus", "-"},
      {"prefix NOT", [](int n) { return "SELECT " + repeat("NOT ", n) + "a"; },
       [](int level) { return 8 + 4 * (level - 1); }, "tkNot", "NOT"},
      {"scalar subqueries",
       [](int n) { return "SELECT " + repeat("(SELECT ", n) + "1" + repeat(")", n); },
       [](int level) { return 8 + 8 * (level - 1); }, "tkLParen", "("},
      {"derived tables", derivedTables, [](int level) { return 15 * level; }, "tkLParen", "("},
      {"function calls", [](int n) { return "SELECT " + repeat("f(", n) + "1" + repeat(")", n); },
       [](int level) { return 9 + 2 * (level - 1); }, "tkLParen", "("},
  };
  return all;
}

TEST(NestingDepth, LimitIsExactlyFiveHundredLevels) {
  for (const Nesting& n : nestings()) {
    SCOPED_TRACE(n.name);
    Outcome atLimit = parseOnSmallStack(n.build(kMaxNesting));
    EXPECT_EQ(atLimit.status, 0) << atLimit.error;
    Outcome past = parseOnSmallStack(n.build(kMaxNesting + 1));
    EXPECT_EQ(past.status, 1);
    EXPECT_TRUE(past.data.empty());
    EXPECT_EQ(past.error,
              frame(1, n.openerColumn(kMaxNesting + 1), "nesting too deep", n.kind, n.lexeme));
  }
}

TEST(NestingDepth, LevelsOfDifferentKindsAddUp) {
  auto mixed = [](int minuses) {
    return "SELECT " + repeat("(", 250) + repeat("- ", minuses) + "1" + repeat(")", 250);
  };
  EXPECT_EQ(parseOnSmallStack(mixed(250)).status, 0);
  // The 251st minus opens level 501.
  EXPECT_EQ(parseOnSmallStack(mixed(251)).error,
            frame(1, 8 + 250 + 2 * 250, "nesting too deep", "tkMinus", "-"));
}

TEST(NestingDepth, ClosedLevelsAreGivenBack) {
  const std::string deep = repeat("(", kMaxNesting) + "1" + repeat(")", kMaxNesting);
  Outcome siblings = parseOnSmallStack("SELECT " + deep + " + " + deep + ", " + deep);
  EXPECT_EQ(siblings.status, 0) << siblings.error;
  Outcome statements = parseOnSmallStack("SELECT " + deep + "; SELECT " + deep);
  EXPECT_EQ(statements.status, 0) << statements.error;
}

constexpr int kChainTerms = 100000;

std::string chain(const std::string& first, const std::string& separator, int terms) {
  std::string sql = first;
  for (int i = 1; i < terms; ++i) sql += separator + first;
  return sql;
}

TEST(ChainDepth, LongLeftDeepChainsParseAndEncode) {
  const std::pair<const char*, std::string> cases[] = {
      {"OR", "SELECT " + chain("a", " OR ", kChainTerms)},
      {"AND", "SELECT " + chain("a", " AND ", kChainTerms)},
      {"plus", "SELECT " + chain("1", " + ", kChainTerms)},
      {"concat", "SELECT " + chain("x", " || ", kChainTerms)},
      {"comma FROM list", "SELECT * FROM " + chain("t", ", ", kChainTerms)},
      {"joins", "SELECT * FROM t" + repeat(" JOIN t ON a = b", kChainTerms - 1)},
      {"VALUES rows", "INSERT INTO t VALUES " + chain("(1)", ", ", kChainTerms)},
  };
  for (const auto& [name, sql] : cases) {
    SCOPED_TRACE(name);
    Outcome o = parseOnSmallStack(sql);
    EXPECT_EQ(o.status, 0) << o.error.substr(0, 200);
    ASSERT_FALSE(o.data.empty());
    EXPECT_EQ(o.data[0], 0x91);  // one statement
  }
}

TEST(ChainDepth, LongChainWithADanglingOperatorFailsAtTheEnd) {
  const std::string sql = "SELECT " + chain("a", " OR ", kChainTerms) + " OR";
  Outcome o = parseOnSmallStack(sql);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.error, frame(1, static_cast<int>(sql.size()) + 1, "unexpected token in expression",
                           "tkEof", ""));
}

}  // namespace
}  // namespace quorix::test
