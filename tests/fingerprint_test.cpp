// fingerprint (and, on the same generated statements, normalize): which statements must share
// a fingerprint and which must not, recorded fingerprints that pin the byte stream down, and
// properties over generated statements that render one template many ways.
//
// QUORIX_UPDATE_GOLDEN=1 rewrites tests/golden_tools/fingerprints.txt from what the library
// produces today. A rewritten fingerprint is a changed fingerprint for every user who stored
// one: docs/TOOLS.md must say what changed in the stream.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "stack_thread.h"
#include "tools/tools.h"

namespace quorix::tools {
namespace {

std::string hex(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string hexAll(const std::vector<uint64_t>& fps) {
  std::string s;
  for (uint64_t f : fps) s += (s.empty() ? "" : " ") + hex(f);
  return s;
}

// ---- pairs ---------------------------------------------------------------------------------

struct Pair {
  const char* why;
  const char* a;
  const char* b;
};

TEST(Fingerprint, StatementsThatDifferOnlyInWhatIsIgnoredShareIt) {
  std::string bulk = "INSERT INTO t (a, b) VALUES (0, 'x')";
  for (int i = 1; i < 500; ++i) bulk += ", (" + std::to_string(i) + (i % 7 ? ", 'y')" : ", NULL)");
  const Pair pairs[] = {
      {"500 rows of literals and one", bulk.c_str(), "INSERT INTO t (a, b) VALUES (1, 'z')"},
      {"literal values", "SELECT a FROM t WHERE b = 1", "SELECT a FROM t WHERE b = 'x'"},
      {"every kind of constant", "SELECT 1, 'a', TRUE, 1.5, [1, 2]",
       "SELECT [3], 2.25, 'b''c', FALSE, 7"},
      {"a minus before a number", "SELECT a FROM t WHERE b = -1", "SELECT a FROM t WHERE b = 1"},
      {"whitespace and comments", "SELECT a FROM t WHERE b = 1",
       "  SELECT\r\n\ta /* x */FROM t -- y\nWHERE b=1 -- z"},
      {"keyword case", "select distinct a from t where b is not null order by a desc nulls last",
       "SELECT DISTINCT a FROM t WHERE b IS NOT NULL ORDER BY a DESC NULLS LAST"},
      {"keyword function names", "SELECT now(), Vector(a)", "SELECT NOW(), VECTOR(a)"},
      {"type keyword case", "SELECT CAST(a AS varchar(10))", "SELECT CAST(a AS VARCHAR(10))"},
      {"OUTER", "SELECT a FROM t LEFT OUTER JOIN u ON t.id = u.id",
       "SELECT a FROM t LEFT JOIN u ON t.id = u.id"},
      {"INNER", "SELECT a FROM t INNER JOIN u USING (id)", "SELECT a FROM t JOIN u USING (id)"},
      {"ASC", "SELECT a FROM t ORDER BY a ASC, b NULLS FIRST",
       "SELECT a FROM t ORDER BY a, b ASC NULLS FIRST"},
      {"AS", "SELECT a AS x FROM t AS u", "SELECT a x FROM t u"},
      {"!= and <>", "DELETE FROM t WHERE a != 1", "DELETE FROM t WHERE a <> 2"},
      {"SOME and ANY", "SELECT a FROM t WHERE a < SOME (SELECT b FROM u)",
       "SELECT a FROM t WHERE a < ANY (SELECT b FROM u)"},
      {"a comma and CROSS JOIN", "SELECT * FROM t, u", "SELECT * FROM t CROSS JOIN u"},
      {"IN list length", "SELECT a FROM t WHERE a IN (1, 2, 3)", "SELECT a FROM t WHERE a IN (7)"},
      {"NOT IN list of literals with NULL and signs",
       "UPDATE t SET a = 1 WHERE b NOT IN (1, NULL, -2)",
       "UPDATE t SET a = 5 WHERE b NOT IN ('x')"},
      {"VALUES row count", "INSERT INTO t (a, b) VALUES (1, 'x')",
       "INSERT INTO t (a, b) VALUES (2, 'y'), (3, NULL), (-4, [1, 2])"},
      {"semicolons", "SELECT 1;;", "SELECT 2"},
      {"values in ORDER BY that are not positions", "SELECT a FROM t ORDER BY a + 1, -1",
       "SELECT a FROM t ORDER BY a + 2, -3"},
      {"definitions: keyword case and layout",
       "create table if not exists t (a int default 5, v vector(3, cosine)) with (m = hnsw)",
       "CREATE TABLE IF NOT EXISTS t (\n  a INT DEFAULT 5,\n  v VECTOR(3, COSINE)\n) WITH (m = "
       "HNSW)"},
  };
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.why);
    EXPECT_EQ(hexAll(fingerprintSql(p.a)), hexAll(fingerprintSql(p.b))) << p.a << "\n" << p.b;
  }
}

TEST(Fingerprint, StatementsThatDifferInMeaningOrShapeDoNot) {
  const Pair pairs[] = {
      {"column", "SELECT a FROM t", "SELECT b FROM t"},
      {"name case", "SELECT a FROM t", "SELECT A FROM t"},
      {"table case", "SELECT a FROM t", "SELECT a FROM T"},
      {"function case", "SELECT f(a)", "SELECT F(a)"},
      {"qualifier", "SELECT t.a FROM t", "SELECT a FROM t"},
      {"alias", "SELECT a AS x FROM t", "SELECT a AS y FROM t"},
      {"alias or none", "SELECT a x FROM t", "SELECT a FROM t"},
      {"table alias", "SELECT a FROM t x", "SELECT a FROM t"},
      {"comparison", "SELECT a FROM t WHERE b = 1", "SELECT a FROM t WHERE b <> 1"},
      {"< and <=", "SELECT a FROM t WHERE b < 1", "SELECT a FROM t WHERE b <= 1"},
      {"+ and -", "SELECT a + b", "SELECT a - b"},
      {"AND and OR", "DELETE FROM t WHERE a = 1 AND b = 2", "DELETE FROM t WHERE a = 1 OR b = 2"},
      {"shape", "SELECT a + b * c", "SELECT (a + b) * c"},
      {"prefix minus on a name", "SELECT -a", "SELECT a"},
      {"clause", "SELECT a FROM t WHERE a = 1", "SELECT a FROM t HAVING a = 1"},
      {"ORDER BY position", "SELECT a, b FROM t ORDER BY 1", "SELECT a, b FROM t ORDER BY 2"},
      {"GROUP BY position", "SELECT a, b FROM t GROUP BY 1", "SELECT a, b FROM t GROUP BY 2"},
      {"GROUP BY and ORDER BY", "SELECT a FROM t GROUP BY a", "SELECT a FROM t ORDER BY a"},
      {"OFFSET", "SELECT a FROM t LIMIT 1", "SELECT a FROM t LIMIT 1 OFFSET 2"},
      {"LEFT and RIGHT", "SELECT a FROM t LEFT JOIN u ON a = b",
       "SELECT a FROM t RIGHT JOIN u ON a = b"},
      {"INNER and FULL", "SELECT a FROM t JOIN u ON a = b", "SELECT a FROM t FULL JOIN u ON a = b"},
      {"NATURAL", "SELECT a FROM t NATURAL JOIN u", "SELECT a FROM t JOIN u"},
      {"USING", "SELECT a FROM t JOIN u USING (a)", "SELECT a FROM t JOIN u USING (b)"},
      {"join order", "SELECT * FROM t, u", "SELECT * FROM u, t"},
      {"DESC", "SELECT a FROM t ORDER BY a DESC", "SELECT a FROM t ORDER BY a"},
      {"NULLS", "SELECT a FROM t ORDER BY a NULLS FIRST", "SELECT a FROM t ORDER BY a NULLS LAST"},
      {"NULLS or none", "SELECT a FROM t ORDER BY a NULLS LAST", "SELECT a FROM t ORDER BY a"},
      {"DISTINCT", "SELECT DISTINCT a FROM t", "SELECT a FROM t"},
      {"call DISTINCT", "SELECT count(DISTINCT a) FROM t", "SELECT count(a) FROM t"},
      {"call star", "SELECT count(*) FROM t", "SELECT count(a) FROM t"},
      {"IN and NOT IN", "SELECT a FROM t WHERE a IN (1)", "SELECT a FROM t WHERE a NOT IN (1)"},
      {"a name in the list", "SELECT a FROM t WHERE a IN (1, 2)",
       "SELECT a FROM t WHERE a IN (1, b)"},
      {"length of a list that is not all literals", "SELECT a FROM t WHERE a IN (b, 1)",
       "SELECT a FROM t WHERE a IN (b, 1, 2)"},
      {"empty list", "SELECT a FROM t WHERE a IN ()", "SELECT a FROM t WHERE a IN (1)"},
      {"list or equality", "SELECT a FROM t WHERE a IN (1)", "SELECT a FROM t WHERE a = 1"},
      {"row count when a row is not all literals", "INSERT INTO t VALUES (1 + 1)",
       "INSERT INTO t VALUES (1 + 1), (2)"},
      {"row width", "INSERT INTO t VALUES (1, 2)", "INSERT INTO t VALUES (1, 2, 3)"},
      {"column list", "INSERT INTO t (a, b) VALUES (1, 2)", "INSERT INTO t (b, a) VALUES (1, 2)"},
      {"NULL is not a constant", "SELECT a FROM t WHERE b = NULL", "SELECT a FROM t WHERE b = 1"},
      {"IS NULL and IS NOT NULL", "SELECT a FROM t WHERE b IS NULL",
       "SELECT a FROM t WHERE b IS NOT NULL"},
      {"a string and a name", "SELECT 'a'", "SELECT a"},
      {"LIKE and NOT LIKE", "SELECT a FROM t WHERE a LIKE 'x'",
       "SELECT a FROM t WHERE a NOT LIKE 'x'"},
      {"ESCAPE", "SELECT a FROM t WHERE a LIKE 'x' ESCAPE '!'", "SELECT a FROM t WHERE a LIKE 'x'"},
      {"BETWEEN", "SELECT a FROM t WHERE a BETWEEN 1 AND 2",
       "SELECT a FROM t WHERE a NOT BETWEEN 1 AND 2"},
      {"EXISTS", "SELECT a FROM t WHERE EXISTS (SELECT 1)",
       "SELECT a FROM t WHERE NOT EXISTS (SELECT 1)"},
      {"ANY and ALL", "SELECT a FROM t WHERE a = ANY (SELECT b FROM u)",
       "SELECT a FROM t WHERE a = ALL (SELECT b FROM u)"},
      {"subquery kinds", "SELECT a FROM t WHERE a IN (SELECT b FROM u)",
       "SELECT a FROM t WHERE a = (SELECT b FROM u)"},
      {"derived alias", "SELECT a FROM (SELECT a FROM t) x", "SELECT a FROM (SELECT a FROM t) y"},
      {"type", "SELECT CAST(a AS INT)", "SELECT CAST(a AS BIGINT)"},
      {"type parameter", "SELECT CAST(a AS VARCHAR(10))", "SELECT CAST(a AS VARCHAR(20))"},
      {"statement", "DELETE FROM t", "DROP TABLE t"},
      {"UPDATE target", "UPDATE t SET a = 1", "UPDATE t SET b = 1"},
      {"DEFAULT value", "CREATE TABLE t (a INT DEFAULT 5)", "CREATE TABLE t (a INT DEFAULT 6)"},
      {"option value", "CREATE INDEX i ON t (v) WITH (m = 16)",
       "CREATE INDEX i ON t (v) WITH (m = 32)"},
      {"metric", "CREATE TABLE t (v VECTOR(3, COSINE))", "CREATE TABLE t (v VECTOR(3, L2))"},
      {"IF EXISTS", "DROP INDEX IF EXISTS i", "DROP INDEX i"},
  };
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.why);
    EXPECT_NE(hexAll(fingerprintSql(p.a)), hexAll(fingerprintSql(p.b))) << p.a << "\n" << p.b;
  }
}

// ---- recorded fingerprints -----------------------------------------------------------------

namespace fs = std::filesystem;

fs::path goldenPath() {
  return fs::path(QUORIX_TEST_DATA_DIR) / "golden_tools" / "fingerprints.txt";
}

// Each line "HEX SQL", one statement per line, so a changed hash shows beside its statement.
TEST(Fingerprint, RecordedFingerprintsDoNotChange) {
  std::ifstream in(goldenPath(), std::ios::binary);
  ASSERT_TRUE(in) << "missing " << goldenPath();
  std::string line;
  std::string rewritten;
  std::vector<std::pair<std::string, std::string>> cases;  // recorded, statement
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') {
      rewritten += line + "\n";
      continue;
    }
    ASSERT_GT(line.size(), 17u) << line;
    cases.emplace_back(line.substr(0, 16), line.substr(17));
    rewritten += hexAll(fingerprintSql(cases.back().second)) + " " + cases.back().second + "\n";
  }
  const char* update = std::getenv("QUORIX_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    in.close();
    std::ofstream(goldenPath(), std::ios::binary) << rewritten;
    GTEST_SKIP() << "rewrote " << goldenPath();
  }
  EXPECT_GE(cases.size(), 12u);
  for (const auto& [recorded, sql] : cases) EXPECT_EQ(hexAll(fingerprintSql(sql)), recorded) << sql;
}

// ---- generated statements ------------------------------------------------------------------

// splitmix64: a fixed sequence on every platform, unlike the standard distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  size_t below(size_t n) { return static_cast<size_t>(next() % n); }
  bool chance(size_t n) { return below(n) == 0; }
  template <typename T, size_t N>
  const T& pick(const T (&options)[N]) {
    return options[below(N)];
  }

 private:
  uint64_t s_;
};

// A statement list as pieces: one template renders into texts that differ only in layout
// (blanks, comments, keyword case, noise words, lengths of literal lists) and constants, or,
// mutated, in exactly one name or operator.
enum class Kind : uint8_t {
  keyword,  // rendered in a random case
  noise,    // a keyword that may be left out (INNER, OUTER, ASC, AS)
  name,
  symbol,
  op,        // an operator; `group` says what it may be swapped with
  constant,  // any constant: number, string, TRUE/FALSE, vector literal
  number,    // a number, after a prefix minus
  list,      // an IN list of literals (NULL and signed numbers among them), of any length
  rows,      // VALUES rows of `width` literals, any number of them
  fixed,     // a literal that is no constant where it stands (a type parameter, DDL)
  end,       // ';' between statements: placeholders start again at $1
};

struct Piece {
  Kind kind;
  std::string text;
  int group = 0;
  size_t width = 0;
};

constexpr const char* kNames[] = {"a", "b", "c", "price", "qty", "Foo", "bAr", "_z", "x1"};
constexpr const char* kTables[] = {"t", "u", "orders", "Items"};
constexpr const char* kFunctions[] = {"f", "lower", "Abs", "coalesce"};
const std::vector<std::string> kOpGroups[] = {
    {}, {"=", "<>", "<", "<=", ">", ">="}, {"+", "-"}, {"*", "/", "%"}, {"AND", "OR"},
};

class TemplateGenerator {
 public:
  explicit TemplateGenerator(uint64_t seed) : r_(seed) {}

  std::vector<Piece> generate(size_t& statements) {
    pieces_.clear();
    statements = 1 + r_.below(3);
    for (size_t i = 0; i < statements; ++i) {
      if (i > 0) add(Kind::end, ";");
      statement();
    }
    return pieces_;
  }

 private:
  void add(Kind k, std::string text = {}, int group = 0, size_t width = 0) {
    pieces_.push_back({k, std::move(text), group, width});
  }
  void kw(const char* words) {
    std::istringstream in(words);
    for (std::string w; in >> w;) add(Kind::keyword, w);
  }
  void sym(const char* s) { add(Kind::symbol, s); }
  void name() { add(Kind::name, r_.pick(kNames)); }
  void table() {
    add(Kind::name, r_.pick(kTables));
    if (r_.chance(3)) add(Kind::noise, "AS"), add(Kind::name, "p");
  }
  void op(int group) {
    const auto& g = kOpGroups[group];
    add(Kind::op, g[r_.below(g.size())], group);
  }

  void statement() {
    depth_ = 0;
    switch (r_.below(8)) {
      case 0:
        return insert();
      case 1:
        kw("UPDATE"), add(Kind::name, r_.pick(kTables)), kw("SET");
        for (size_t i = 0, n = 1 + r_.below(2); i < n; ++i) {
          if (i > 0) sym(",");
          name(), sym("="), expr();
        }
        if (r_.chance(2)) kw("WHERE"), cond();
        return;
      case 2:
        kw("DELETE FROM"), add(Kind::name, r_.pick(kTables));
        if (r_.below(3) != 0) kw("WHERE"), cond();
        return;
      case 3:
        if (r_.chance(2)) return definition();
        [[fallthrough]];
      default:
        return select();
    }
  }

  void definition() {
    if (r_.chance(3)) {
      kw("DROP TABLE");
      if (r_.chance(2)) kw("IF EXISTS");
      return add(Kind::name, r_.pick(kTables));
    }
    kw("CREATE TABLE"), add(Kind::name, r_.pick(kTables)), sym("(");
    name(), kw("INT DEFAULT"), add(Kind::fixed, "5"), sym(",");
    name(), kw("VARCHAR"), sym("("), add(Kind::fixed, "20"), sym(")"), kw("NOT NULL"), sym(",");
    name(), kw("VECTOR"), sym("("), add(Kind::fixed, "3"), sym(","), kw("COSINE"), sym(")");
    sym(")");
    if (r_.chance(2)) kw("WITH"), sym("("), name(), sym("="), kw("HNSW"), sym(")");
  }

  void insert() {
    kw("INSERT INTO"), add(Kind::name, r_.pick(kTables));
    const size_t width = 1 + r_.below(3);
    if (r_.chance(2)) {
      sym("(");
      for (size_t i = 0; i < width; ++i) {
        if (i > 0) sym(",");
        name();
      }
      sym(")");
    }
    kw("VALUES");
    if (r_.below(3) != 0) return add(Kind::rows, {}, 0, width);
    // A row with an expression: such rows are kept one by one.
    for (size_t row = 0, n = 1 + r_.below(2); row < n; ++row) {
      if (row > 0) sym(",");
      sym("(");
      for (size_t i = 0; i < width; ++i) {
        if (i > 0) sym(",");
        expr();
      }
      sym(")");
    }
  }

  void select() {
    ++depth_;
    kw("SELECT");
    if (r_.chance(4)) kw("DISTINCT");
    for (size_t i = 0, n = 1 + r_.below(3); i < n; ++i) {
      if (i > 0) sym(",");
      expr();
      if (r_.chance(3)) add(Kind::noise, "AS"), add(Kind::name, "y");
    }
    kw("FROM"), table();
    for (size_t i = 0, n = r_.below(3); i < n; ++i) {
      switch (r_.below(5)) {
        case 0:
          add(Kind::noise, "INNER"), kw("JOIN");
          break;
        case 1:
          kw("LEFT"), add(Kind::noise, "OUTER"), kw("JOIN");
          break;
        case 2:
          kw("FULL"), add(Kind::noise, "OUTER"), kw("JOIN");
          break;
        case 3:
          kw("CROSS JOIN"), add(Kind::name, r_.pick(kTables));
          continue;
        default:
          kw("RIGHT JOIN"), add(Kind::name, r_.pick(kTables)), kw("USING"), sym("("), name(),
              sym(")");
          continue;
      }
      table(), kw("ON"), cond();
    }
    if (r_.chance(2)) kw("WHERE"), cond();
    if (r_.chance(4)) {
      kw("GROUP BY"), name();
      if (r_.chance(2)) kw("HAVING"), cond();
    }
    if (r_.chance(3)) {
      kw("ORDER BY");
      for (size_t i = 0, n = 1 + r_.below(2); i < n; ++i) {
        if (i > 0) sym(",");
        // A bare integer item, parenthesised or not, is a position and no constant.
        switch (r_.below(3)) {
          case 0:
            add(Kind::fixed, std::to_string(1 + r_.below(3)));
            break;
          case 1:
            name();
            break;
          default:
            expr(), op(2), name();
            break;
        }
        if (r_.chance(2)) {
          add(Kind::noise, "ASC");
        } else if (r_.chance(2)) {
          kw("DESC");
        }
        if (r_.chance(3)) kw(r_.chance(2) ? "NULLS FIRST" : "NULLS LAST");
      }
    }
    if (r_.chance(4)) {
      kw("LIMIT"), add(Kind::constant);
      if (r_.chance(2)) kw("OFFSET"), add(Kind::constant);
    }
    --depth_;
  }

  bool deeper() const { return depth_ < 3; }

  void cond() {
    switch (r_.below(deeper() ? 11 : 8)) {
      case 0:
        expr(), kw("IS");
        if (r_.chance(2)) kw("NOT");
        return kw("NULL");
      case 1:
        expr();
        if (r_.chance(3)) kw("NOT");
        kw("IN"), sym("("), add(Kind::list), sym(")");
        return;
      case 2:
        expr(), kw("IN"), sym("("), name(), sym(","), expr(), sym(")");
        return;
      case 3:
        expr(), kw(r_.chance(2) ? "NOT BETWEEN" : "BETWEEN"), add(Kind::constant), kw("AND");
        return add(Kind::constant);
      case 4:
        expr(), kw("LIKE"), add(Kind::constant);
        return;
      case 5:
        kw("NOT"), sym("("), cond(), sym(")");
        return;
      case 6:
        cond(), op(4), cond();
        return;
      case 8:
        if (r_.chance(2)) kw("NOT");
        kw("EXISTS"), sym("("), select(), sym(")");
        return;
      case 9:
        expr(), op(1), kw(r_.chance(2) ? "ANY" : "ALL"), sym("("), select(), sym(")");
        return;
      default:
        expr(), op(1), expr();
        return;
    }
  }

  void expr() {
    ++exprDepth_;
    const size_t choices = exprDepth_ < 4 ? (deeper() ? 11 : 10) : 4;
    switch (r_.below(choices)) {
      case 0:
        name();
        break;
      case 1:
        add(Kind::name, r_.pick(kTables)), sym("."), name();
        break;
      case 2:
        add(Kind::constant);
        break;
      case 3:
        sym("-"), add(Kind::number);
        break;
      case 4:
        expr(), op(2), expr();
        break;
      case 5:
        expr(), op(3), expr();
        break;
      case 6:
        add(Kind::name, r_.pick(kFunctions)), sym("("), expr(), sym(")");
        break;
      case 7:
        if (r_.chance(2)) {
          kw("NOW"), sym("("), sym(")");
        } else {
          add(Kind::name, "count"), sym("("), sym("*"), sym(")");
        }
        break;
      case 8:
        kw("CAST"), sym("("), expr(), kw("AS");
        if (r_.chance(2)) {
          kw("DECIMAL"), sym("("), add(Kind::fixed, "10"), sym(","), add(Kind::fixed, "2");
          sym(")");
        } else {
          kw("VARCHAR"), sym("("), add(Kind::fixed, "30"), sym(")");
        }
        sym(")");
        break;
      case 9:
        sym("("), expr(), sym(")");
        break;
      default:
        sym("("), select(), sym(")");
        break;
    }
    --exprDepth_;
  }

  Rng r_;
  std::vector<Piece> pieces_;
  int depth_ = 0;
  int exprDepth_ = 0;
};

struct Rendered {
  std::string text;
  std::string normalized;  // what normalize must give: each constant as $n
  size_t constants = 0;
};

// `layout` chooses blanks, comments, keyword case, noise words and list lengths; `values`
// chooses the constants. The same layout seed with another value seed must normalize alike.
Rendered render(const std::vector<Piece>& pieces, uint64_t layout, uint64_t values) {
  Rng l(layout);
  Rng v(values);
  Rendered out;
  size_t number = 0;
  auto both = [&](const std::string& s) {
    out.text += s;
    out.normalized += s;
  };
  auto gap = [&] {
    static const char* const kGaps[] = {
        " ", " ", " ", "  ", "\n", "\r\n\t", " /* c */ ", " /* ] ' */\n", " -- x ]\n", "\t"};
    both(l.pick(kGaps));
  };
  auto keyword = [&](const std::string& w) {
    std::string s = w;
    const size_t style = l.below(3);
    for (char& c : s)
      if (std::isalpha(static_cast<unsigned char>(c)) &&
          (style == 1 || (style == 2 && l.chance(2))))
        c = static_cast<char>(c ^ 0x20);
    both(s);
  };
  auto constant = [&](bool numeric) {
    static const char* const kStrings[] = {"'abc'",  "'it''s'",       "\"say \"\"hi\"\"\"",
                                           "''",     "'line\nbreak'", "'-- no comment'",
                                           "'$1 ]'", "'/* x */'"};
    static const char* const kVectors[] = {"[1]", "[0.5, -1, 2]", "[1, /* ] */ 2]",
                                           "[\n  3,\n  -4.25 -- ]\n]"};
    std::string s;
    switch (numeric ? v.below(2) : v.below(6)) {
      case 0:
        s = std::to_string(v.below(100000));
        break;
      case 1:
        s = std::to_string(v.below(1000)) + "." + std::to_string(v.below(100));
        break;
      case 2:
      case 3:
        s = v.pick(kStrings);
        break;
      case 4:
        s = v.chance(2) ? "TRUE" : "false";
        break;
      default:
        s = v.pick(kVectors);
        break;
    }
    out.text += s;
    out.normalized += "$" + std::to_string(++number);
    ++out.constants;
  };
  // One literal of a list: a constant, NULL or a signed number (NULL and the sign are layout).
  auto element = [&] {
    const size_t k = l.below(8);
    if (k == 0) return keyword("NULL");
    if (k == 1) both("-"), gap();
    constant(k == 1);
  };
  auto count = [&] { return l.chance(8) ? 40 + l.below(80) : 1 + l.below(5); };
  for (size_t i = 0; i < pieces.size(); ++i) {
    const Piece& p = pieces[i];
    if (i > 0) gap();
    switch (p.kind) {
      case Kind::keyword:
        keyword(p.text);
        break;
      case Kind::noise:
        if (l.chance(2)) keyword(p.text);
        break;
      case Kind::op:
        if (p.group == 4) {
          keyword(p.text);
        } else {
          both(p.text);
        }
        break;
      case Kind::name:
      case Kind::symbol:
      case Kind::fixed:
        both(p.text);
        break;
      case Kind::constant:
      case Kind::number:
        constant(p.kind == Kind::number);
        break;
      case Kind::list:
        for (size_t j = 0, n = count(); j < n; ++j) {
          if (j > 0) both(","), gap();
          element();
        }
        break;
      case Kind::rows:
        for (size_t row = 0, n = count(); row < n; ++row) {
          if (row > 0) both(","), gap();
          both("(");
          for (size_t j = 0; j < p.width; ++j) {
            if (j > 0) both(","), gap();
            element();
          }
          both(")");
        }
        break;
      case Kind::end:
        both(";");
        number = 0;
        break;
    }
  }
  return out;
}

// Changes one name's case or swaps one operator within its group; false when there is none.
bool mutate(std::vector<Piece>& pieces, Rng& r, bool names) {
  std::vector<size_t> candidates;
  for (size_t i = 0; i < pieces.size(); ++i)
    if (pieces[i].kind == (names ? Kind::name : Kind::op)) candidates.push_back(i);
  if (candidates.empty()) return false;
  Piece& p = pieces[candidates[r.below(candidates.size())]];
  if (names) {
    for (char& c : p.text) {
      if (std::isalpha(static_cast<unsigned char>(c))) {
        c = static_cast<char>(c ^ 0x20);
        break;
      }
    }
    return true;
  }
  const auto& g = kOpGroups[p.group];
  std::string other;
  do other = g[r.below(g.size())];
  while (other == p.text);
  p.text = other;
  return true;
}

constexpr size_t kTemplates = 3000;

TEST(FingerprintProperties, GeneratedStatements) {
  size_t statements = 0;
  size_t texts = 0;
  size_t nameMutations = 0;
  size_t opMutations = 0;
  for (uint64_t seed = 1; seed <= kTemplates; ++seed) {
    TemplateGenerator gen(seed);
    size_t count = 0;
    std::vector<Piece> pieces = gen.generate(count);
    Rng r(seed * 7919);

    // Two layouts, each with two sets of values.
    const uint64_t layoutA = r.next(), layoutB = r.next();
    const Rendered a1 = render(pieces, layoutA, r.next());
    const Rendered a2 = render(pieces, layoutA, r.next());
    const Rendered b = render(pieces, layoutB, r.next());
    SCOPED_TRACE("template " + std::to_string(seed) + ":\n" + a1.text + "\n---\n" + b.text);

    // normalize: exactly the constants replaced, numbered per statement, nothing else touched.
    std::string n1;
    ASSERT_NO_THROW(n1 = normalizeSql(a1.text));
    ASSERT_EQ(n1, a1.normalized);
    ASSERT_EQ(normalizeSql(a2.text), n1) << a2.text;

    // fingerprint: one per statement, blind to layout, values and literal-list lengths.
    const std::vector<uint64_t> fp = fingerprintSql(a1.text);
    ASSERT_EQ(fp.size(), count);
    ASSERT_EQ(fingerprintSql(a2.text), fp) << "same normalized text, other fingerprint";
    ASSERT_EQ(fingerprintSql(b.text), fp) << "other layout, other fingerprint";
    statements += 3 * count;
    texts += 3;

    for (bool names : {true, false}) {
      std::vector<Piece> changed = pieces;
      if (!mutate(changed, r, names)) continue;
      const Rendered m = render(changed, layoutA, r.next());
      ASSERT_NE(fingerprintSql(m.text), fp)
          << (names ? "a name" : "an operator") << " changed, fingerprint did not:\n"
          << m.text;
      ++(names ? nameMutations : opMutations);
      statements += count;
      ++texts;
    }
  }
  RecordProperty("statements", static_cast<int>(statements));
  RecordProperty("texts", static_cast<int>(texts));
  EXPECT_GT(nameMutations, kTemplates / 2);
  EXPECT_GT(opMutations, kTemplates / 4);
}

// ---- long chains ---------------------------------------------------------------------------

TEST(Fingerprint, MillionTermOrChainOnASmallStack) {
  // Terms alternate a name and a constant: 999,999 ORs nest the tree a million levels deep.
  auto chain = [](size_t n, const char* constant) {
    std::string sql = "SELECT a FROM t WHERE ";
    sql.reserve(n * 8);
    for (size_t i = 0; i < n; ++i) {
      if (i > 0) sql += " OR ";
      sql += i % 2 == 0 ? "a" : constant;
    }
    return sql;
  };
  const std::string one = chain(1000000, "1");
  const std::string other = chain(1000000, "'x'");
  std::vector<uint64_t> a, b, shorter;
  ASSERT_EQ(test::failureOnHostStack([&] {
              a = fingerprintSql(one);
              b = fingerprintSql(other);
              shorter = fingerprintSql(chain(999998, "1"));
            }),
            "");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, shorter);
}

TEST(Fingerprint, LongJoinListOnASmallStack) {
  // Joins nest to the left as well: 100,000 tables, every other one joined on a constant.
  // (This dialect takes commas only after the last JOIN.)
  constexpr size_t kJoined = 100000;
  auto joins = [](auto constant) {
    std::string sql = "SELECT * FROM t0";
    for (size_t i = 1; i < kJoined; ++i) {
      sql += (i % 2 ? " LEFT JOIN t" : " CROSS JOIN t") + std::to_string(i);
      if (i % 2) sql += " ON a = " + constant(i / 2 + 1);
    }
    return sql;
  };
  const std::string ones = joins([](size_t) { return std::string("1"); });
  const std::string strings = joins([](size_t k) { return "'" + std::to_string(k) + "'"; });
  std::vector<uint64_t> a, b;
  std::string normalized;
  ASSERT_EQ(test::failureOnHostStack([&] {
              a = fingerprintSql(ones);
              b = fingerprintSql(strings);
              normalized = normalizeSql(strings);
            }),
            "");
  EXPECT_EQ(a, b);
  EXPECT_TRUE(normalized == joins([](size_t k) { return "$" + std::to_string(k); }));
}

}  // namespace
}  // namespace quorix::tools
