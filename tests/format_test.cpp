// format: the house style on golden files and on tricky cases, then the properties every text
// the parser accepts must keep (same document without spans, a fixed point, every comment once
// and in order) over the grammar fuzzer's generator, and the long chains on a host-sized stack.
//
// QUORIX_UPDATE_GOLDEN=1 rewrites tests/golden_format/*.{compact,pretty}.sql from what the
// library writes today; read every rewritten file against docs/TOOLS.md before keeping it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "lexer/lexer.h"
#include "stack_thread.h"
#include "tools/tools.h"

// The generator of the grammar fuzzer, reused as it is; its entry point is renamed so that it
// cannot collide with any other target's.
#define LLVMFuzzerTestOneInput quorixFormatTestGrammarEntry
#include "../fuzz/fuzz_grammar.cpp"
#undef LLVMFuzzerTestOneInput

namespace quorix::tools {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The document without spans, or the error message behind "!".
std::string documentOf(const std::string& sql) {
  const Outcome o = quorix_fuzz::callOnce(sql.data(), static_cast<int32_t>(sql.size()), sql);
  return o.status == 0 ? quorix_fuzz::withoutSpans(o.bytes) : "!" + o.bytes;
}

std::vector<std::string> commentsOf(const std::string& text) {
  std::vector<std::string> out;
  for (const ScannedToken& t : scanTokens(text)) {
    if (t.kind == tkComment) out.push_back(text.substr(t.start, t.end - t.start));
  }
  return out;
}

TEST(Format, GoldenFiles) {
  const fs::path dir = fs::path(QUORIX_TEST_DATA_DIR) / "golden_format";
  const char* update = std::getenv("QUORIX_UPDATE_GOLDEN");
  size_t inputs = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string stem = e.path().stem().string();
    if (e.path().extension() != ".sql" || stem.find('.') != std::string::npos) continue;
    ++inputs;
    const std::string sql = readFile(e.path());
    for (const bool pretty : {false, true}) {
      const fs::path want = dir / (stem + (pretty ? ".pretty.sql" : ".compact.sql"));
      const std::string got = formatSql(sql, pretty);
      if (update != nullptr && std::string(update) == "1")
        std::ofstream(want, std::ios::binary) << got;
      EXPECT_EQ(got, readFile(want)) << want;
      EXPECT_EQ(formatSql(got, pretty), got) << want << " is not a fixed point";
      EXPECT_EQ(documentOf(got), documentOf(sql)) << want;
      EXPECT_EQ(commentsOf(got), commentsOf(sql)) << want;
    }
  }
  EXPECT_GE(inputs, 2u);
}

// Where the tree no longer says how the text was written: parentheses, spellings, and the
// nodes that read back differently when printed the obvious way.
TEST(Format, CompactCases) {
  const struct {
    const char* sql;
    const char* want;
  } cases[] = {
      // Parentheses only where the ladder needs them; comparisons do not associate.
      {"select a - (b - c), (a * b) + c, (a - b) - c, a / (b * c), (a || b) || c, a || (b || c)",
       "SELECT a - (b - c), a * b + c, a - b - c, a / (b * c), a || b || c, a || (b || c);"},
      {"select (a or b) and c, a or (b and c), (x = y) = z, x = (y = z), (a like b) = c, "
       "(x is null) is null, x = y and z",
       "SELECT (a OR b) AND c, a OR b AND c, (x = y) = z, x = (y = z), (a LIKE b) = c, "
       "(x IS NULL) IS NULL, x = y AND z;"},
      // Bounds and patterns are read at the || level; list elements are whole expressions.
      {"select a between b and c and d, a between (b and c) and (d or e), a not like b || c "
       "escape (d = e), a in (1, 2 or 3), a not in ()",
       "SELECT a BETWEEN b AND c AND d, a BETWEEN (b AND c) AND (d OR e), a NOT LIKE b || c "
       "ESCAPE (d = e), a IN (1, 2 OR 3), a NOT IN ();"},
      // Prefix NOT and minus bind tighter than everything; a postfix NOT is the same node.
      {"select not a = b, not (a = b), a || b not, -(-a), - - a, -(a + b), not not a, -a * b",
       "SELECT NOT a = b, NOT (a = b), NOT (a || b), - -a, - -a, -(a + b), NOT NOT a, -a * b;"},
      // NOT EXISTS is a node of its own; NOT applied to EXISTS keeps its parentheses.
      {"select not exists (select 1), not (exists (select 1)), exists (select 1) not",
       "SELECT NOT EXISTS (SELECT 1), NOT (EXISTS (SELECT 1)), NOT (EXISTS (SELECT 1));"},
      {"select * from t where a = some (select 1) and b not in (select 2) and c != all (select 3)",
       "SELECT * FROM t WHERE a = ANY (SELECT 1) AND b NOT IN (SELECT 2) AND c <> ALL "
       "(SELECT 3);"},
      // Literals as written; strings re-quoted with single quotes; vectors hold doubles only.
      {"select 007, 1.50, \"it's\", 'a''b', true, null, [0.1, -0, 1.0, 10000000000000000000000.0]",
       "SELECT 007, 1.50, 'it''s', 'a''b', TRUE, NULL, [0.1, -0, 1, 10000000000000000000000];"},
      {"select count(*), Count(distinct a, b), f(), now(), cast(a as varchar(10)), "
       "sum(distinct *), x.y z from t",
       "SELECT count(*), Count(DISTINCT a, b), f(), now(), CAST(a AS varchar(10)), "
       "sum(DISTINCT *), x.y AS z FROM t;"},
      // Joins: the noise words go, and a comma list ends the chain (a comma takes no JOIN).
      {"select * from a natural join b inner join c using (x, y) left outer join d on a.x = d.x "
       "cross join e, f",
       "SELECT * FROM a NATURAL JOIN b JOIN c USING (x, y) LEFT JOIN d ON a.x = d.x, e, f;"},
      {"select * from a cross join b, c", "SELECT * FROM a, b, c;"},
      {"select * from a cross join b natural full outer join (select 1) d",
       "SELECT * FROM a CROSS JOIN b NATURAL FULL JOIN (SELECT 1) AS d;"},
      {"select a from t order by a asc, b desc nulls first, c nulls last limit 1 offset 2",
       "SELECT a FROM t ORDER BY a ASC, b DESC NULLS FIRST, c NULLS LAST LIMIT 1 OFFSET 2;"},
      // What the document leaves out: constraint intros, KEY, type parameters, IF [NOT] EXISTS.
      {"create table if not exists t (a integer, b int(5) not null unique default -1, "
       "c vector(3, l2), d uuid, primary (a), unique key (b), constraint (a, b), foreign key (c))",
       "CREATE TABLE IF NOT EXISTS t (a INTEGER, b INT(5) NOT NULL UNIQUE DEFAULT -1, "
       "c VECTOR(3, L2), d uuid, PRIMARY KEY (a), UNIQUE (b), CONSTRAINT (a, b), "
       "FOREIGN KEY (c));"},
      // Option values are kept as the token they were: the document holds their text.
      {"create index if not exists i on t (c) using btree with (a = Cosine, b = 'x y', c = 3, "
       "d = \"q\")",
       "CREATE INDEX IF NOT EXISTS i ON t (c) USING BTREE WITH (a = Cosine, b = 'x y', c = 3, "
       "d = 'q');"},
      {"drop table if exists t;;; drop index i", "DROP TABLE IF EXISTS t;\nDROP INDEX i;"},
      {"select \xc3\xa9, ! from t", "SELECT \xc3 AS \xa9, ! FROM t;"},
      {"", ""},
      {" ;; ", ""},
  };
  for (const auto& c : cases) {
    const std::string got = formatSql(c.sql, false);
    EXPECT_EQ(got, std::string(c.want) + (*c.want != '\0' ? "\n" : "")) << c.sql;
    EXPECT_EQ(documentOf(got), documentOf(c.sql)) << c.sql;
  }
}

TEST(Format, FailsAsParsingFails) {
  for (const char* sql : {"SELECT", "DROP VIEW v", "SELECT 1; SELECT 99999999999999999999",
                          "SELECT 1 /* open", "SELECT 'open", "SELECT a FROM t -- fine\nWHERE"}) {
    const Outcome o = quorix_fuzz::callOnce(sql, 0, sql);
    ASSERT_EQ(o.status, 1) << sql;
    try {
      formatSql(sql, true);
      ADD_FAILURE() << "formatted: " << sql;
    } catch (const ParseError& e) {
      EXPECT_EQ(e.what(), o.bytes);
    } catch (const ValueError& e) {
      EXPECT_EQ(e.what(), o.bytes);
    }
  }
}

// Tokens joined by single blanks, or with numbered comments of every shape in some gaps.
std::string joinTokens(const Words& tokens, std::mt19937_64* rng) {
  std::string out;
  unsigned n = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (i > 0) {
      switch (rng == nullptr ? 9 : (*rng)() % 10) {
        case 0:
          out += " /* " + std::to_string(++n) + " */ ";
          break;
        case 1:
          out += " -- " + std::to_string(++n) + "\n";
          break;
        case 2:
          out += "\n-- " + std::to_string(++n);
          out += "\n/*" + std::to_string(++n) + "\n*/";
          break;
        case 3:
          out += "\t-- " + std::to_string(++n) + "\r\n";
          break;
        default:
          out += ' ';
      }
    }
    out += tokens[i];
  }
  if (rng != nullptr && (*rng)() % 2 == 0) out += " -- " + std::to_string(++n);
  return out;
}

// Every text the generator writes: the formatted text reads back as the same document, formats
// to itself, and carries the source's comments, each once and in order.
TEST(Format, GeneratedStatementsKeepTheirMeaning) {
  std::mt19937_64 rng(20261208);
  size_t statements = 0;
  size_t texts = 0;
  for (int round = 0; round < 5000; ++round) {
    std::vector<uint8_t> bytes(64 + rng() % 512);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    Choices choices(bytes.data(), bytes.size());
    Generator g(choices);
    g.statements();
    for (const std::string& sql : {joinTokens(g.tokens, nullptr), joinTokens(g.tokens, &rng)}) {
      const std::string doc = documentOf(sql);
      if (doc[0] == '!') {
        // Texts past a limit: format fails with the parser's message (an encoder defect on a
        // VECTOR metric is the document's, not the parse's).
        if (doc.find(quorix_fuzz::kDefectPrefix) != 1) {
          try {
            formatSql(sql, false);
            ADD_FAILURE() << "formatted text the parser rejects: " << sql;
          } catch (const std::exception& e) {
            EXPECT_EQ("!" + std::string(e.what()), doc);
          }
        }
        continue;
      }
      ++texts;
      statements += g.stmts.size();
      const std::vector<std::string> comments = commentsOf(sql);
      for (const bool pretty : {false, true}) {
        const std::string once = formatSql(sql, pretty);
        ASSERT_EQ(documentOf(once), doc) << sql << "\n=>\n" << once;
        ASSERT_EQ(formatSql(once, pretty), once) << sql << "\n=>\n" << once;
        ASSERT_EQ(commentsOf(once), comments) << sql << "\n=>\n" << once;
      }
    }
  }
  RecordProperty("texts", static_cast<int>(texts));
  RecordProperty("statements", static_cast<int>(statements));
  EXPECT_GT(statements, 5000u);
  EXPECT_GT(texts, 4000u);
}

// Chains as long as the parser takes them are walked in loops: a million ORs and a hundred
// thousand joins on the stack of a modest host thread.
TEST(Format, LongChainsOnAHostStack) {
  std::string ors = "SELECT a";
  for (int i = 1; i < 1000000; ++i) ors += " or a";
  std::string joins = "SELECT * FROM t0";
  for (int i = 1; i < 100000; ++i) joins += " left join t" + std::to_string(i) + " using (k)";
  for (const bool pretty : {false, true}) {
    std::string orsOut, joinsOut;
    ASSERT_EQ(test::runOnStack(test::kHostStackBytes,
                               [&] {
                                 orsOut = formatSql(ors, pretty);
                                 joinsOut = formatSql(joins, pretty);
                               }),
              0);
    std::string wantOrs = pretty ? "SELECT\n  a" : "SELECT a";
    for (int i = 1; i < 1000000; ++i) wantOrs += " OR a";
    EXPECT_TRUE(orsOut == wantOrs + ";\n") << orsOut.substr(0, 100);
    EXPECT_EQ(documentOf(orsOut), documentOf(ors));
    EXPECT_EQ(documentOf(joinsOut), documentOf(joins));
  }
}

std::string repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// Every construct that nests, at the parser's limit and one past it: what parses formats on a
// host-sized stack and reads back the same; what does not fails with the parser's message.
TEST(Format, DeepNestingOnAHostStack) {
  for (const int depth : {499, 500, 501}) {
    const std::string texts[] = {
        "SELECT " + repeat("(", depth) + "a" + repeat(")", depth),
        "SELECT " + repeat("NOT ", depth) + "a",
        "SELECT " + repeat("- ", depth) + "a",
        "SELECT " + repeat("f(", depth) + "a" + repeat(")", depth),
        "SELECT " + repeat("CAST(", depth) + "a" + repeat(" AS INT)", depth),
        "SELECT " + repeat("a IN (", depth) + "1" + repeat(")", depth),
        "SELECT " + repeat("EXISTS (SELECT ", depth) + "1" + repeat(")", depth),
        "SELECT * FROM " + repeat("(SELECT * FROM ", depth) + "t" + repeat(") AS d", depth),
        "CREATE TABLE t (a VARCHAR(" + repeat("(", depth) + "1" + repeat(")", depth) + "))",
    };
    for (const std::string& sql : texts) {
      const std::string doc = documentOf(sql);
      if (depth == 499) EXPECT_NE(doc[0], '!') << sql.substr(0, 60);
      for (const bool pretty : {false, true}) {
        std::string got;
        ASSERT_EQ(test::runOnStack(test::kHostStackBytes,
                                   [&] {
                                     try {
                                       got = formatSql(sql, pretty);
                                     } catch (const std::exception& e) {
                                       got = "!" + std::string(e.what());
                                     }
                                   }),
                  0);
        EXPECT_EQ(got[0] == '!' ? got : documentOf(got), doc) << sql.substr(0, 60);
      }
    }
  }
}

}  // namespace
}  // namespace quorix::tools
