// The library at the edges of size and content: very long and very deep inputs on a host thread
// with a 1 MiB stack, the document and message size limits, hostile bytes, and how parse time
// grows with the input. Every expected position is worked out by hand from the scanner and
// grammar rules (1-based lines, 1-based byte columns).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "api/library.h"
#include "stack_thread.h"
#include "test_support.h"

namespace quorix::test {
namespace {

const std::string kDefect = "internal parser defect (this is a parser bug, not invalid SQL): ";
constexpr const char* kStatement =
    "expected SQL statement (SELECT, INSERT, UPDATE, DELETE, CREATE, DROP)";
constexpr const char* kExpr = "unexpected token in expression";
constexpr const char* kTooDeep = "nesting too deep";

std::string frame(int line, int col, std::string_view message, std::string_view kind,
                  std::string_view lexeme) {
  return "Parse error at line " + std::to_string(line) + ", col " + std::to_string(col) + ": " +
         std::string(message) + " (got " + std::string(kind) + " '" + std::string(lexeme) + "')";
}

std::string repeat(std::string_view s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// A MessagePack string in its short form, as the document writes keys and short values.
std::string fixstr(std::string_view s) {
  return static_cast<char>(0xa0 + s.size()) + std::string(s);
}

size_t countOf(std::string_view haystack, std::string_view needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string_view::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const std::string& name, double seconds) {
  ::testing::Test::RecordProperty(name, std::to_string(seconds));
  std::cout << "[ timing   ] " << name << ": " << seconds << " s\n";
}

// Every library call of this file runs inside body, on a thread with a 1 MiB stack.
template <typename Fn>
void onHostStack(Fn&& body) {
  ASSERT_EQ(runOnStack(kHostStackBytes, body), 0) << "no thread with a 1 MiB stack";
}

Outcome hostParse(const std::string& sql) {
  Outcome o;
  onHostStack([&] { o = parse(sql); });
  return o;
}

// Walks the whole document without recursion (a chain of a million terms nests a million maps
// deep) and accepts it only if every value is complete and nothing trails the top-level array.
bool isWellFormedDocument(std::string_view doc) {
  size_t pos = 0;
  auto bigEndian = [&](size_t bytes, uint64_t& value) {
    if (doc.size() - pos < bytes) return false;
    value = 0;
    for (size_t i = 0; i < bytes; ++i) value = value << 8 | static_cast<unsigned char>(doc[pos++]);
    return true;
  };
  if (doc.empty()) return false;
  const auto first = static_cast<unsigned char>(doc[0]);
  if ((first & 0xf0) != 0x90 && first != 0xdc && first != 0xdd) return false;
  uint64_t pending = 1;
  while (pending > 0) {
    if (pos >= doc.size()) return false;
    const auto b = static_cast<unsigned char>(doc[pos++]);
    --pending;
    uint64_t skip = 0;
    uint64_t n = 0;
    if (b <= 0x7f || b >= 0xe0 || b == 0xc0 || b == 0xc2 || b == 0xc3) {
      // a complete value in one byte
    } else if (b >= 0xa0 && b <= 0xbf) {
      skip = b & 0x1fu;
    } else if ((b & 0xf0) == 0x90) {
      pending += b & 0x0fu;
    } else if ((b & 0xf0) == 0x80) {
      pending += 2u * (b & 0x0fu);
    } else {
      switch (b) {
        case 0xcc:
        case 0xd0:
          skip = 1;
          break;
        case 0xcd:
        case 0xd1:
          skip = 2;
          break;
        case 0xce:
        case 0xd2:
          skip = 4;
          break;
        case 0xcf:
        case 0xd3:
        case 0xcb:
          skip = 8;
          break;
        case 0xd9:
        case 0xda:
        case 0xdb:
          if (!bigEndian(size_t(1) << (b - 0xd9), skip)) return false;
          break;
        case 0xdc:
        case 0xdd:
          if (!bigEndian(b == 0xdc ? 2 : 4, n)) return false;
          pending += n;
          break;
        case 0xde:
        case 0xdf:
          if (!bigEndian(b == 0xde ? 2 : 4, n)) return false;
          pending += 2 * n;
          break;
        default:
          return false;  // a form the document never uses
      }
    }
    if (doc.size() - pos < skip) return false;
    pos += static_cast<size_t>(skip);
  }
  return pos == doc.size();
}

// What a large parse produced, inspected in place: its document can run to hundreds of
// megabytes and is not copied.
struct Summary {
  int status = -1;
  size_t size = 0;
  std::string error;
  bool wellFormed = false;
  std::string head;            // the first bytes of the document
  std::vector<size_t> counts;  // occurrences of each needle in the document
  double seconds = 0;          // the library call alone
};

Summary parseLarge(const std::string& sql, const std::vector<std::string>& needles = {}) {
  Summary s;
  onHostStack([&] {
    const auto start = std::chrono::steady_clock::now();
    ParseResult r = quorix_parse_sql(sql.data(), static_cast<int32_t>(sql.size()));
    s.seconds = secondsSince(start);
    s.status = r.status;
    if (r.error != nullptr) s.error.assign(r.error, static_cast<size_t>(r.error_len));
    if (r.data != nullptr) {
      std::string_view doc(reinterpret_cast<const char*>(r.data), static_cast<size_t>(r.data_len));
      s.size = doc.size();
      s.wellFormed = isWellFormedDocument(doc);
      s.head = std::string(doc.substr(0, 64));
      for (const std::string& needle : needles) s.counts.push_back(countOf(doc, needle));
    }
    quorix_free_buffer(r.data);
    quorix_free_buffer(r.error);
  });
  return s;
}

// The document is an array of exactly one statement map whose kind map has this variant.
void expectOneStatement(const Summary& s, std::string_view variant) {
  ASSERT_EQ(s.status, 0) << s.error.substr(0, 300);
  EXPECT_GT(s.size, 0u);
  EXPECT_TRUE(s.wellFormed);
  ASSERT_GE(s.head.size(), 17 + variant.size());
  EXPECT_EQ(s.head.substr(0, 7), "\x91\x82" + fixstr("kind"));
  EXPECT_EQ(static_cast<unsigned char>(s.head[7]) & 0xf0, 0x80);  // the kind map
  EXPECT_EQ(s.head.substr(8, 9 + variant.size()), fixstr("variant") + fixstr(variant));
}

std::string opNeedle(std::string_view op) { return fixstr("op") + fixstr(op); }

// --- Long inputs ---------------------------------------------------------------------------------

constexpr size_t kMillion = 1000000;

// Terms and separators taken in turn: "a OR b AND c + d OR a ...".
std::string chain(const std::vector<std::string_view>& terms,
                  const std::vector<std::string_view>& separators, size_t n) {
  std::string sql = "SELECT ";
  sql.reserve(n * 8);
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) sql += separators[(i - 1) % separators.size()];
    sql += terms[i % terms.size()];
  }
  return sql;
}

TEST(LimitsChains, MillionTermChainsParseAndEncode) {
  struct Case {
    const char* name;
    std::vector<std::string_view> terms;
    std::vector<std::string_view> separators;
    std::vector<std::string_view> ops;  // "op" names to count in the document
    std::vector<size_t> counts;         // how often each must appear
  };
  const Case cases[] = {
      {"AND", {"a"}, {" AND "}, {"And"}, {kMillion - 1}},
      {"OR", {"a"}, {" OR "}, {"Or"}, {kMillion - 1}},
      {"plus", {"1"}, {" + "}, {"Add"}, {kMillion - 1}},
      // 999,999 separators in turns of three.
      {"mixed",
       {"a", "b", "c", "d"},
       {" OR ", " AND ", " + "},
       {"Or", "And", "Add"},
       {333333, 333333, 333333}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> needles;
    for (std::string_view op : c.ops) needles.push_back(opNeedle(op));
    Summary s = parseLarge(chain(c.terms, c.separators, kMillion), needles);
    expectOneStatement(s, "Select");
    EXPECT_EQ(s.counts, c.counts);
    report(std::string("chain_") + c.name + "_1e6_terms", s.seconds);
  }
}

TEST(LimitsFrom, FiveThousandJoinsOfMixedKinds) {
  // One step per kind, in turn; t0 is the first table.
  const std::vector<std::function<std::string(const std::string&)>> steps = {
      [](const std::string& t) { return " JOIN " + t + " ON " + t + ".a = t0.a"; },
      [](const std::string& t) { return " LEFT JOIN " + t + " USING (a, b)"; },
      [](const std::string& t) { return " CROSS JOIN " + t; },
      [](const std::string& t) { return " NATURAL JOIN " + t; },
      [](const std::string& t) { return " LEFT OUTER JOIN " + t + " x ON x.a = 1"; },
      [](const std::string& t) { return " NATURAL LEFT JOIN (SELECT 1 AS a) " + t; },
      [](const std::string& t) { return " INNER JOIN " + t + " USING (a)"; },
      [](const std::string& t) { return " NATURAL CROSS JOIN " + t; },
      [](const std::string& t) { return " RIGHT JOIN " + t + " ON TRUE"; },
      [](const std::string& t) { return " FULL OUTER JOIN " + t + " USING (c)"; },
  };
  std::string sql = "SELECT * FROM t0";
  for (size_t i = 1; i <= 5000; ++i) sql += steps[(i - 1) % steps.size()]("t" + std::to_string(i));
  const std::string joinType = fixstr("join_type");
  Summary s = parseLarge(
      sql, {joinType + fixstr("Inner"), joinType + fixstr("Left"), joinType + fixstr("Cross"),
            joinType + fixstr("Right"), joinType + fixstr("Full")});
  expectOneStatement(s, "Select");
  // 500 joins of each of the ten steps: Inner from steps 1, 4, 7; Left from 2, 5, 6; Cross from
  // 3, 8.
  EXPECT_EQ(s.counts, (std::vector<size_t>{1500, 1500, 1000, 500, 500}));
}

TEST(LimitsFrom, FiveThousandItemCommaList) {
  std::string sql = "SELECT * FROM t0";
  for (size_t i = 1; i < 5000; ++i) sql += ", t" + std::to_string(i);
  Summary s = parseLarge(sql, {fixstr("join_type") + fixstr("Cross")});
  expectOneStatement(s, "Select");
  EXPECT_EQ(s.counts, std::vector<size_t>{4999});
}

TEST(LimitsLists, MillionItemInListAndTwoHundredThousandRows) {
  std::string in = "SELECT a FROM t WHERE a IN (0";
  for (size_t i = 1; i < kMillion; ++i) in += ", " + std::to_string(i);
  in += ")";
  // One "list" array of 1,000,000 (0x000f4240) entries.
  Summary list = parseLarge(in, {fixstr("list") + std::string("\xdd\x00\x0f\x42\x40", 5)});
  expectOneStatement(list, "Select");
  EXPECT_EQ(list.counts, std::vector<size_t>{1});
  report("in_list_1e6_items", list.seconds);

  std::string values = "INSERT INTO t (a, b) VALUES (0, 'x')";
  for (size_t i = 1; i < 200000; ++i) values += ", (" + std::to_string(i) + ", 'x')";
  // One "values" array of 200,000 (0x00030d40) rows.
  Summary rows = parseLarge(values, {fixstr("values") + std::string("\xdd\x00\x03\x0d\x40", 5)});
  expectOneStatement(rows, "Insert");
  EXPECT_EQ(rows.counts, std::vector<size_t>{1});
  report("values_2e5_rows", rows.seconds);
}

// --- Nesting -------------------------------------------------------------------------------------

constexpr int kMaxNesting = 500;

// A construct nested n levels deep, and the token that opens level 501 (all on line 1).
struct Deep {
  const char* name;
  std::function<std::string(int)> build;
  int column;
  const char* kind;
  const char* lexeme;
};

std::string nest(std::string_view head, std::string_view open, int n, std::string_view inner,
                 std::string_view close, std::string_view tail = "") {
  const auto count = static_cast<size_t>(n);
  return std::string(head) + repeat(open, count) + std::string(inner) + repeat(close, count) +
         std::string(tail);
}

TEST(LimitsNesting, FiveHundredLevelsPassAndTheNextIsRefused) {
  // Column of the opener of level L = where the first opener stands + (L - 1) * the unit's
  // length; "SELECT " puts the first unit at column 8.
  const std::vector<Deep> cases = {
      // "EXISTS (SELECT " is 15 bytes: 8 + 500 * 15.
      {"EXISTS", [](int n) { return nest("SELECT ", "EXISTS (SELECT ", n, "1", ")"); }, 7508,
       "tkExists", "EXISTS"},
      // "a = ANY (SELECT " is 16 bytes with ANY at offset 4: 8 + 500 * 16 + 4.
      {"ANY", [](int n) { return nest("SELECT ", "a = ANY (SELECT ", n, "1", ")"); }, 8012, "tkAny",
       "ANY"},
      {"ALL", [](int n) { return nest("SELECT ", "a > ALL (SELECT ", n, "1", ")"); }, 8012, "tkAll",
       "ALL"},
      // "a <= SOME (SELECT " is 18 bytes with SOME at offset 5: 8 + 500 * 18 + 5.
      {"SOME", [](int n) { return nest("SELECT ", "a <= SOME (SELECT ", n, "1", ")"); }, 9013,
       "tkSome", "SOME"},
      // "a IN (" is 6 bytes with "(" at offset 5: 8 + 500 * 6 + 5.
      {"IN lists", [](int n) { return nest("SELECT ", "a IN (", n, "1", ")"); }, 3013, "tkLParen",
       "("},
      // "a IN (SELECT " is 13 bytes with "(" at offset 5: 8 + 500 * 13 + 5.
      {"IN subqueries", [](int n) { return nest("SELECT ", "a IN (SELECT ", n, "1", ")"); }, 6513,
       "tkLParen", "("},
      // "CAST(" is 5 bytes; the level opens at CAST, not at its parenthesis: 8 + 500 * 5.
      {"CAST", [](int n) { return nest("SELECT ", "CAST(", n, "1", " AS INT)"); }, 2508, "tkCast",
       "CAST"},
      // CAST is level 1 and DECIMAL's "(" (column 25) level 2; parenthesis L stands at 25 + L - 2.
      {"parentheses in a type parameter",
       [](int n) { return nest("SELECT CAST(x AS DECIMAL(", "(", n - 2, "1", ")", "))"); }, 524,
       "tkLParen", "("},
      // Each "CAST(1 AS DECIMAL(" (18 bytes) opens two levels, the type's "(" at offset 17 the
      // second; an odd count starts with a parenthesis at column 8, so level 501 is the
      // type "(" of unit 250: 9 + 249 * 18 + 17.
      {"type parameter lists",
       [](int n) {
         const bool odd = n % 2 != 0;
         return nest(odd ? "SELECT (" : "SELECT ", "CAST(1 AS DECIMAL(", n / 2, "1", "))",
                     odd ? ")" : "");
       },
       4508, "tkLParen", "("},
      // The first "(" after DEFAULT stands at column 31.
      {"DEFAULT expression",
       [](int n) { return nest("CREATE TABLE t (a INT DEFAULT ", "(", n, "1", ")", ")"); }, 531,
       "tkLParen", "("},
      // DECIMAL's "(" is level 1 at column 26.
      {"column type parameter",
       [](int n) { return nest("CREATE TABLE t (a DECIMAL(", "(", n - 1, "1", ")", "))"); }, 526,
       "tkLParen", "("},
  };
  for (const Deep& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome atLimit = hostParse(c.build(kMaxNesting));
    EXPECT_EQ(atLimit.status, 0) << atLimit.error;
    Outcome past = hostParse(c.build(kMaxNesting + 1));
    EXPECT_EQ(past.status, 1);
    EXPECT_TRUE(past.data.empty());
    EXPECT_EQ(past.error, frame(1, c.column, kTooDeep, c.kind, c.lexeme));
  }
}

// A primary that wraps another one, opening one or two levels at hand-counted offsets.
struct Wrapper {
  std::string_view open;
  std::string_view close;
  struct Opener {
    size_t offset;
    const char* kind;
    const char* lexeme;
  };
  std::vector<Opener> openers;
};

const std::vector<Wrapper>& wrappers() {
  static const std::vector<Wrapper> all = {
      {"(", ")", {{0, "tkLParen", "("}}},
      {"NOT ", "", {{0, "tkNot", "NOT"}}},
      {"- ", "", {{0, "tkMinus", "-"}}},
      {"f(", ")", {{1, "tkLParen", "("}}},
      {"CAST(", " AS INT)", {{0, "tkCast", "CAST"}}},
      {"EXISTS (SELECT ", ")", {{0, "tkExists", "EXISTS"}}},
      {"(a IN (", "))", {{0, "tkLParen", "("}, {6, "tkLParen", "("}}},
      {"(a = ALL (SELECT ", "))", {{0, "tkLParen", "("}, {5, "tkAll", "ALL"}}},
      {"(SELECT * FROM (SELECT ", ") x)", {{0, "tkLParen", "("}, {15, "tkLParen", "("}}},
      {"CAST(1 AS DECIMAL(", "))", {{0, "tkCast", "CAST"}, {17, "tkLParen", "("}}},
      {"(SELECT ", ")", {{0, "tkLParen", "("}}},
      {"(a IN (SELECT ", "))", {{0, "tkLParen", "("}, {6, "tkLParen", "("}}},
      {"(a < SOME (SELECT ", "))", {{0, "tkLParen", "("}, {5, "tkSome", "SOME"}}},
  };
  return all;
}

struct Mixed {
  std::string sql;
  struct Located {
    int column;
    const char* kind;
    const char* lexeme;
  };
  std::vector<Located> openers;  // one per level, outermost first
};

// Wrappers in turn from `first` until `levels` levels are open (only `first` when `alone`); a
// plain parenthesis fills a last level that a two-level wrapper would overshoot.
Mixed mixedNesting(size_t levels, size_t first, bool alone = false) {
  const std::vector<Wrapper>& all = wrappers();
  Mixed m{"SELECT ", {}};
  std::vector<std::string_view> closers;
  for (size_t i = first; m.openers.size() < levels; i += alone ? 0 : 1) {
    const Wrapper* w = &all[i % all.size()];
    if (w->openers.size() > levels - m.openers.size()) w = &all[0];
    for (const Wrapper::Opener& o : w->openers) {
      m.openers.push_back({static_cast<int>(m.sql.size() + o.offset + 1), o.kind, o.lexeme});
    }
    m.sql += w->open;
    closers.emplace_back(w->close);
  }
  m.sql += "1";
  for (auto it = closers.rbegin(); it != closers.rend(); ++it) m.sql += *it;
  return m;
}

TEST(LimitsNesting, KindsMixedInEveryOrderShareOneLimit) {
  // Starting the cycle at each wrapper in turn puts each kind of opener at level 501 once.
  for (size_t first = 0; first < wrappers().size(); ++first) {
    SCOPED_TRACE(first);
    Mixed ok = mixedNesting(kMaxNesting, first);
    Outcome atLimit = hostParse(ok.sql);
    EXPECT_EQ(atLimit.status, 0) << atLimit.error;
    Mixed deep = mixedNesting(kMaxNesting + 1, first);
    const Mixed::Located& opener = deep.openers[kMaxNesting];
    EXPECT_EQ(hostParse(deep.sql).error,
              frame(1, opener.column, kTooDeep, opener.kind, opener.lexeme));
  }
}

// Small host stacks stop nesting sooner, with the same error at the opener of the first level that
// would not leave room to finish, and never crash: one level less then parses and encodes on the
// same thread. Each construct alone, and all of them in turn.
TEST(LimitsNesting, SmallStacksStopSoonerWithTheSameError) {
  const size_t stacks[] = {size_t(64) << 10, size_t(128) << 10, size_t(256) << 10, size_t(1) << 20};
  for (size_t bytes : stacks) {
    for (size_t first = 0; first < wrappers().size(); ++first) {
      for (bool alone : {true, false}) {
        SCOPED_TRACE(std::to_string(bytes >> 10) + " KiB, from wrapper " + std::to_string(first) +
                     (alone ? " alone" : " in turn"));
        const Mixed deep = mixedNesting(kMaxNesting + 1, first, alone);
        Outcome refused;
        ASSERT_EQ(runOnStack(bytes, [&] { refused = parse(deep.sql); }), 0);
        size_t level = 0;
        while (level < deep.openers.size()) {
          const Mixed::Located& o = deep.openers[level];
          if (refused.error == frame(1, o.column, kTooDeep, o.kind, o.lexeme)) break;
          ++level;
        }
        ASSERT_LT(level, deep.openers.size()) << refused.error;
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        if (bytes == size_t(1) << 20) EXPECT_EQ(level, size_t(kMaxNesting));
#endif
        Outcome accepted;
        const Mixed shallower = mixedNesting(level, first, alone);
        ASSERT_EQ(runOnStack(bytes, [&] { accepted = parse(shallower.sql); }), 0);
        EXPECT_EQ(accepted.status, 0) << accepted.error;
        EXPECT_FALSE(accepted.data.empty());
      }
    }
  }
}

// The main thread's stack is bounded by RLIMIT_STACK rather than by a size fixed when it started,
// and the library reads it so: with the limit lowered, deep input stops sooner there too.
TEST(LimitsNesting, MainThreadFollowsItsStackLimit) {
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &saved), 0);
  if (saved.rlim_cur != RLIM_INFINITY && saved.rlim_cur < (size_t(2) << 20))
    GTEST_SKIP() << "the stack limit is already small";
  rlimit lowered = saved;
  lowered.rlim_cur = size_t(256) << 10;
  ASSERT_EQ(setrlimit(RLIMIT_STACK, &lowered), 0);
  const Mixed deep = mixedNesting(kMaxNesting + 1, 5, true);  // EXISTS (SELECT ... alone
  const Outcome o = parse(deep.sql);
  ASSERT_EQ(setrlimit(RLIMIT_STACK, &saved), 0);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.error.find(kTooDeep), std::string::npos) << o.error;
  EXPECT_NE(o.error, frame(1, deep.openers.back().column, kTooDeep, "tkExists", "EXISTS"));
}

// --- A very large text ---------------------------------------------------------------------------

TEST(LimitsBigText, HundredMegabytesOfStatements) {
  // Realistic statements padded with comments and literals, so that the document stays well
  // under the 2 GiB that data_len can describe.
  const std::string unit =
      "-- nightly load: events and their payloads, with a note for whoever reads this log\n"
      "INSERT INTO events (id, kind, payload) VALUES (17, 'click', '" +
      std::string(300, 'p') + "'), (18, 'view', '" + std::string(300, 'q') +
      "');\n"
      "SELECT e.id, count(*) AS n FROM events e LEFT JOIN users u ON u.id = e.user_id\n"
      "  WHERE e.kind IN ('click', 'view') AND e.ts BETWEEN 1 AND 99\n"
      "  GROUP BY e.id ORDER BY n DESC LIMIT 10;\n"
      "/* " +
      std::string(400, '*') +
      " */\n"
      "UPDATE users SET visits = visits + 1, note = '" +
      std::string(200, 'n') +
      "' WHERE id = 42;\n"
      "DELETE FROM events WHERE ts < 5;\n";
  constexpr size_t kStatementsPerUnit = 4;
  const size_t units = ((size_t(100) << 20) + unit.size() - 1) / unit.size();
  std::string sql;
  sql.reserve(units * unit.size());
  for (size_t i = 0; i < units; ++i) sql += unit;

  const std::string variant = fixstr("variant");
  Summary s = parseLarge(
      sql, {variant + fixstr("Insert"), variant + fixstr("Update"), variant + fixstr("Delete")});
  ASSERT_EQ(s.status, 0) << s.error.substr(0, 300);
  EXPECT_TRUE(s.wellFormed);
  const size_t statements = units * kStatementsPerUnit;
  std::string arrayHeader = "\xdd";
  for (int shift = 24; shift >= 0; shift -= 8)
    arrayHeader += static_cast<char>(statements >> shift);
  EXPECT_EQ(s.head.substr(0, 5), arrayHeader);
  EXPECT_EQ(s.counts, (std::vector<size_t>{units, units, units}));
  std::cout << "[ size     ] text " << sql.size() << " bytes, " << statements
            << " statements, document " << s.size << " bytes\n";
  report("text_100MiB", s.seconds);
#ifdef NDEBUG
  EXPECT_LT(s.seconds, 60.0);
#endif
}

// --- Size limits of the result -------------------------------------------------------------------

std::string tooLarge(size_t limit) {
  return kDefect + "value out of range: the document exceeds " + std::to_string(limit) +
         " bytes, the most that data_len can describe";
}

Outcome parseLimited(const std::string& sql, const Limits& limits) {
  Outcome o;
  onHostStack([&] { o = take(parseWithLimits(sql.c_str(), 0, limits)); });
  return o;
}

TEST(LimitsDocument, ExactlyAtTheLimitPassesOneByteMoreFails) {
  const std::string texts[] = {"", "SELECT a, b FROM t WHERE c = 1",
                               "SELECT 1; INSERT INTO t VALUES (1, 'x'); DROP TABLE t"};
  for (const std::string& sql : texts) {
    SCOPED_TRACE(sql);
    Outcome unlimited = parseLimited(sql, Limits{});
    ASSERT_EQ(unlimited.status, 0) << unlimited.error;
    const size_t size = unlimited.data.size();
    Outcome exact = parseLimited(sql, Limits{.maxDocumentBytes = size});
    EXPECT_EQ(exact.status, 0) << exact.error;
    EXPECT_EQ(exact.data, unlimited.data);
    Outcome over = parseLimited(sql, Limits{.maxDocumentBytes = size - 1});
    EXPECT_EQ(over.status, 1);
    EXPECT_TRUE(over.data.empty());
    EXPECT_EQ(over.error, tooLarge(size - 1));
  }
}

TEST(LimitsDocument, FarOverTheLimitFailsWhileGrowing) {
  // About 2 MB of document against a 4 KiB limit.
  Outcome o = parseLimited(chain({"a"}, {" AND "}, 10000), Limits{.maxDocumentBytes = 4096});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(o.data.empty());
  EXPECT_EQ(o.error, tooLarge(4096));
}

std::string truncated(const std::string& message, size_t keep) {
  return message.substr(0, keep) + "... [truncated: the message has " +
         std::to_string(message.size()) + " bytes]";
}

TEST(LimitsMessage, LongMessagesAreCutShortOnesKept) {
  // The literal is the offending token, so the whole 100,000 bytes are its lexeme in the message.
  const std::string literal(100000, 'x');
  const std::string sql = "SELECT 1 '" + literal + "'";
  const std::string full = frame(1, 10, kStatement, "tkString", literal);
  const size_t n = full.size();
  struct Case {
    size_t limit;
    std::string expected;
  };
  const Case cases[] = {
      {SIZE_MAX, full},
      {n, full},
      {n - 1, truncated(full, 4096)},
      {10000, truncated(full, 4096)},
      {1000, truncated(full, 500)},
      {1, truncated(full, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    Outcome o = parseLimited(sql, Limits{.maxMessageBytes = c.limit});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.data.empty());
    EXPECT_EQ(o.error, c.expected);
  }
  // An internal defect's message is cut the same way, prefix included.
  const std::string defect = tooLarge(0);
  Outcome both = parseLimited("", Limits{.maxDocumentBytes = 0, .maxMessageBytes = 20});
  EXPECT_EQ(both.error, truncated(defect, 10));
}

// --- Hostile bytes -------------------------------------------------------------------------------

// expected is a copy of reference's document with its only one-byte string `from` made `to`.
std::vector<uint8_t> substituted(const Outcome& reference, char from, char to) {
  const std::string needle = fixstr(std::string(1, from));
  const std::string_view doc(reinterpret_cast<const char*>(reference.data.data()),
                             reference.data.size());
  EXPECT_EQ(countOf(doc, needle), 1u);
  std::vector<uint8_t> out = reference.data;
  const size_t at = doc.find(needle);
  if (at != std::string_view::npos) out[at + 1] = static_cast<uint8_t>(to);
  return out;
}

TEST(HostileBytes, EveryByteAfterSelect) {
  onHostStack([] {
    const Outcome column = parse("SELECT x");
    const Outcome number = parse("SELECT 0");
    const Outcome star = parse("SELECT *");
    // The bytes that neither make a one-byte identifier nor start a literal or a star, with the
    // failure each leads to. The rest are identifiers (letters, "_", "!", "|", and every byte no
    // scanner rule names), digits, quotes and "*".
    struct Failing {
      char byte;
      int line;
      int col;
      const char* message;
      const char* kind;
    };
    const Failing failing[] = {
        // Blanks: the statement ends before an operand, at the end of the text.
        {' ', 1, 9, kExpr, "tkEof"},
        {'\t', 1, 9, kExpr, "tkEof"},
        {'\r', 1, 9, kExpr, "tkEof"},
        {'\n', 2, 1, kExpr, "tkEof"},
        // Openers whose operand is missing.
        {'(', 1, 9, kExpr, "tkEof"},
        {'-', 1, 9, kExpr, "tkEof"},
        {'[', 1, 9, "expected vector numeric literal", "tkEof"},
        // Tokens that cannot begin an operand.
        {',', 1, 8, kExpr, "tkComma"},
        {'.', 1, 8, kExpr, "tkDot"},
        {';', 1, 8, kExpr, "tkSemicolon"},
        {')', 1, 8, kExpr, "tkRParen"},
        {']', 1, 8, kExpr, "tkRBracket"},
        {'=', 1, 8, kExpr, "tkEq"},
        {'+', 1, 8, kExpr, "tkPlus"},
        {'/', 1, 8, kExpr, "tkSlash"},
        {'%', 1, 8, kExpr, "tkPercent"},
        {'<', 1, 8, kExpr, "tkLt"},
        {'>', 1, 8, kExpr, "tkGt"},
    };
    for (int b = 1; b <= 255; ++b) {
      const char c = static_cast<char>(b);
      SCOPED_TRACE(b);
      const Outcome o = parse(std::string("SELECT ") + c);
      const Failing* fails = nullptr;
      for (const Failing& f : failing) {
        if (f.byte == c) fails = &f;
      }
      if (fails != nullptr) {
        const bool atEnd = std::string_view(fails->kind) == "tkEof";
        EXPECT_EQ(o.error, frame(fails->line, fails->col, fails->message, fails->kind,
                                 atEnd ? std::string() : std::string(1, c)));
        continue;
      }
      if (c == '\'' || c == '"') {
        EXPECT_EQ(o.error, "Parse error at line 1, col 8: unterminated string literal");
        continue;
      }
      EXPECT_EQ(o.status, 0) << o.error;
      if (c == '*') {
        EXPECT_EQ(o.data, star.data);
      } else if (c >= '0' && c <= '9') {
        EXPECT_EQ(o.data, substituted(number, '0', c));
      } else {
        EXPECT_EQ(o.data, substituted(column, 'x', c));
      }
    }
  });
}

// The message of a block comment or string literal still open at the end of the text.
std::string unclosed(int line, int col, std::string_view what) {
  return "Parse error at line " + std::to_string(line) + ", col " + std::to_string(col) +
         ": unterminated " + std::string(what);
}

// A text that must give the same document as a reference text, or an exact message.
struct Hostile {
  std::string sql;
  int32_t len;  // as passed to quorix_parse_sql; 0 reads up to the first NUL
  std::string sameAs;
  std::string error;
};

void expectAll(const std::vector<Hostile>& cases) {
  onHostStack([&] {
    for (const Hostile& c : cases) {
      SCOPED_TRACE(c.sql);
      const Outcome o = take(quorix_parse_sql(c.sql.data(), c.len));
      if (c.error.empty()) {
        const Outcome reference = parse(c.sameAs);
        ASSERT_EQ(reference.status, 0);
        EXPECT_EQ(o.status, 0) << o.error;
        EXPECT_EQ(o.data, reference.data);
      } else {
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(o.data.empty());
        EXPECT_EQ(o.error, c.error);
      }
    }
  });
}

std::string bytes(std::string_view s) { return std::string(s); }

TEST(HostileBytes, NulBytes) {
  expectAll({
      // Measured up to the NUL at index 15, fewer than the 24 bytes asked for.
      {bytes({"SELECT a\nFROM t\0 WHERE x", 24}), 24, "", kDefect + "index 15 not in 0 .. 14"},
      // Without a length the text ends at the first NUL, wherever it stands.
      {bytes({"SELECT 1\0SELEC", 14}), 0, "SELECT 1", ""},
      {bytes({"SELECT\0 1", 9}), 0, "", frame(1, 7, kExpr, "tkEof", "")},
      {bytes({"SELECT 'ab\0cd'", 14}), 0, "", unclosed(1, 8, "string literal")},
      {bytes({"SELECT 1 /* x\0 */ 2", 19}), 0, "", unclosed(1, 10, "block comment")},
  });
}

TEST(HostileBytes, UnclosedAtTheEnd) {
  expectAll({
      {"SELECT '", 0, "", unclosed(1, 8, "string literal")},
      // The doubled quote is content, not the close.
      {"SELECT 'it''", 0, "", unclosed(1, 8, "string literal")},
      {"SELECT 'a\nb", 0, "", unclosed(1, 8, "string literal")},
      // The "*" of "/*" does not also close it.
      {"SELECT 1 /*/ 2", 0, "", unclosed(1, 10, "block comment")},
      {"SELECT 1 --", 0, "SELECT 1", ""},
      {"SELECT --1", 0, "", frame(1, 11, kExpr, "tkEof", "")},
      {"SELECT\n /* x\ny", 0, "", unclosed(2, 2, "block comment")},
      // Given a length, the text ends where the host says, whatever its buffer holds after it.
      {"SELECT 'a' 'b' c", 13, "", unclosed(1, 12, "string literal")},
      {"SELECT 1 /* x */ 2", 14, "", unclosed(1, 10, "block comment")},
  });
}

TEST(HostileBytes, CarriageReturnsAndOtherControlBytes) {
  expectAll({
      // A lone CR does not end line 3; it takes column 6.
      {"SELECT a\r\nFROM t\r\nWHERE\rx = = 1", 0, "", frame(3, 11, kExpr, "tkEq", "=")},
      {"SELECT a\r\nFROM t\r\nWHERE\r", 0, "", frame(3, 7, kExpr, "tkEof", "")},
      // CR LF inside a literal and a block comment, and ending line comments.
      {"SELECT 'x\r\ny\r\nz' 2", 0, "", frame(3, 4, kStatement, "tkInteger", "2")},
      {"SELECT /*\r\n\r\n*/ )", 0, "", frame(3, 4, kExpr, "tkRParen", ")")},
      {"SELECT a -- note\r\nFROM t -- x\r\nWHERE )", 0, "", frame(3, 7, kExpr, "tkRParen", ")")},
      // Vertical tab and form feed are not blanks: each is a one-byte identifier, here a select
      // item, and the 1 after it starts no statement.
      {"SELECT\v1", 0, "", frame(1, 8, kStatement, "tkInteger", "1")},
      {"SELECT\f1", 0, "", frame(1, 8, kStatement, "tkInteger", "1")},
  });
}

// --- Linear time ---------------------------------------------------------------------------------

// About 100 KB times k, every long construct growing with k as well as the statement count, so
// that a cost quadratic in a list, a chain, a join tree, a literal or the text shows.
std::string scaledText(size_t k) {
  std::string sql;
  for (size_t i = 0; i < 60 * k; ++i) {
    sql +=
        "SELECT a, b + 1 AS c FROM t1 JOIN t2 ON t1.id = t2.id WHERE a > 5 AND b LIKE 'x%' "
        "ORDER BY c DESC;\n"
        "INSERT INTO t (a, b) VALUES (1, 'one'), (2, 'two');\n"
        "UPDATE t SET a = a * 2 WHERE b IS NOT NULL;\n"
        "CREATE TABLE t (id INT PRIMARY KEY, v VECTOR(3, cosine)) WITH (m = 16);\n";
  }
  sql += "SELECT a FROM t WHERE a IN (0";
  for (size_t i = 1; i < 3000 * k; ++i) sql += ", " + std::to_string(i);
  sql += ");\n" + chain({"a", "b"}, {" AND ", " OR ", " || "}, 3000 * k);
  sql += ";\nSELECT * FROM t0";
  for (size_t i = 1; i <= 300 * k; ++i) sql += " LEFT JOIN t" + std::to_string(i) + " USING (a)";
  sql += ";\nINSERT INTO t VALUES (0)";
  for (size_t i = 1; i < 1000 * k; ++i) sql += ", (" + std::to_string(i) + ")";
  sql += ";\nSELECT '" + std::string(8000 * k, 's') + "', " + std::string(4000 * k, 'i') +
         ";\n/* " + std::string(8000 * k, 'c') + " */\n";
  return sql;
}

double bestOfThree(const std::string& sql) {
  double best = 0;
  for (int run = 0; run < 3; ++run) {
    Summary s = parseLarge(sql);
    EXPECT_EQ(s.status, 0) << s.error.substr(0, 300);
    if (run == 0 || s.seconds < best) best = s.seconds;
  }
  return best;
}

TEST(LinearTime, TenAndHundredTimesTheTextTakeAtMostProportionalTime) {
  const size_t factors[] = {1, 10, 100};
  double best[3] = {0, 0, 0};
  for (size_t f = 0; f < 3; ++f) {
    const std::string sql = scaledText(factors[f]);
    best[f] = bestOfThree(sql);
    std::cout << "[ size     ] " << factors[f] << "x: " << sql.size() << " bytes\n";
    report("linear_" + std::to_string(factors[f]) + "x", best[f]);
  }
  const double ratio10 = best[1] / best[0];
  const double ratio100 = best[2] / best[1];
  std::cout << "[ ratio    ] 10x/1x " << ratio10 << ", 100x/10x " << ratio100 << "\n";
  ::testing::Test::RecordProperty("linear_ratio_100x_over_10x", std::to_string(ratio100));
  // Each tenfold step may cost more than ten times as much (the 1x document stays in cache and
  // the larger ones fault in fresh pages), but a quadratic rule would cost a hundred times.
  EXPECT_LT(ratio10, 50.0);
  EXPECT_LT(ratio100, 50.0);

  // The same bytes and statement mix as the 100x text, but as 100 copies of the 1x text: caches
  // and fresh pages cost both alike, so only a cost superlinear in the length of one list, chain,
  // join tree or literal can set the scaled text apart.
  std::string copies;
  const std::string base = scaledText(1);
  for (int i = 0; i < 100; ++i) copies += base;
  const double copiesBest = bestOfThree(copies);
  report("linear_100_copies_of_1x", copiesBest);
  EXPECT_LT(best[2], 3 * copiesBest);
}

}  // namespace
}  // namespace quorix::test
