// Checks the benchmark corpora before anything is measured on them: every statement parses
// with quorix (alone and inside its workload's whole text, where the document must hold one
// entry per statement), every PostgreSQL spelling parses with pg_query, every statement that
// is spelled differently for PostgreSQL really needs it, and the generator keeps its promises
// on determinism, sizes and shapes.
//
// Usage: corpus_check [MiB]             check at MiB per workload (default 1; the benchmarks
//                                       also use a 32 MiB mixed text)
//        corpus_check --print WORKLOAD N  print the first N statements in both spellings
//        corpus_check --dump DIR          write DIR/<workload>.json, each a JSON array of the
//                                       1 MiB workload's statements in this library's spelling,
//                                       so that other runtimes measure exactly these statements

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "corpus.h"
#include "parsers.h"
#include "quorix_sql_parser.h"

namespace {

using quorix_bench::Rendering;
using quorix_bench::Statement;
using quorix_bench::Workload;

int g_failures = 0;
int g_passes = 0;

void check(bool ok, const std::string& what) {
  if (ok) {
    ++g_passes;
    return;
  }
  ++g_failures;
  std::fprintf(stderr, "FAIL: %s\n", what.c_str());
}

std::string excerpt(const std::string& s) { return s.size() <= 160 ? s : s.substr(0, 160) + "..."; }

// The number of entries of the document's top-level array, from its MessagePack header.
std::int64_t topLevelCount(const std::uint8_t* d, std::int32_t len) {
  if (len >= 1 && (d[0] & 0xf0) == 0x90) return d[0] & 0x0f;
  if (len >= 3 && d[0] == 0xdc) return (d[1] << 8) | d[2];
  if (len >= 5 && d[0] == 0xdd) {
    return (std::int64_t{d[1]} << 24) | (d[2] << 16) | (d[3] << 8) | d[4];
  }
  return -1;
}

std::size_t count(std::string_view text, std::string_view needle) {
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::string_view::npos;
       at = text.find(needle, at + 1)) {
    ++n;
  }
  return n;
}

// Whether word occurs, and if it ends in a letter or digit, with no letter, digit or underscore
// right after it, so that " INT" is not found inside " INTEGER".
bool hasWord(std::string_view text, std::string_view word) {
  for (std::size_t at = text.find(word); at != std::string_view::npos;
       at = text.find(word, at + 1)) {
    std::size_t end = at + word.size();
    if (end == text.size() || !std::isalnum(static_cast<unsigned char>(word.back()))) return true;
    char c = text[end];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return true;
  }
  return false;
}

void checkWholeText(Workload w, const std::vector<Statement>& corpus) {
  std::string name(quorix_bench::workloadName(w));
  quorix_bench::Texts native = quorix_bench::renderTexts(corpus, Rendering::kNative);
  ParseResult r =
      quorix_parse_sql(native.text.data(), static_cast<std::int32_t>(native.text.size()));
  if (r.status != 0) {
    check(false, name + ": whole text rejected: " + std::string(r.error));
    quorix_free_buffer(r.error);
    return;
  }
  check(topLevelCount(r.data, r.data_len) == static_cast<std::int64_t>(corpus.size()),
        name + ": the document of the whole text has one entry per statement");
  quorix_free_buffer(r.data);
  if (quorix_bench::kHavePgQuery) {
    quorix_bench::Texts pg = quorix_bench::renderTexts(corpus, Rendering::kPg);
#ifdef QUORIX_BENCH_HAVE_PG_QUERY
    quorix_bench::ParseOutcome out = quorix_bench::pgParseChecked(pg.text);
    check(out.ok, name + ": pg_query rejects the whole PostgreSQL text: " + out.error);
#endif
  }
}

// Every statement alone, in both spellings.
void checkStatements(Workload w, const std::vector<Statement>& corpus) {
  std::string name(quorix_bench::workloadName(w));
  int bad = 0;
  for (const Statement& s : corpus) {
    quorix_bench::ParseOutcome q = quorix_bench::quorixParseChecked(s.sql);
    if (!q.ok && bad++ < 5) check(false, name + ": quorix: " + q.error + "\n  " + excerpt(s.sql));
#ifdef QUORIX_BENCH_HAVE_PG_QUERY
    quorix_bench::ParseOutcome p = quorix_bench::pgParseChecked(s.pg);
    if (!p.ok && bad++ < 5) check(false, name + ": pg_query: " + p.error + "\n  " + excerpt(s.pg));
    // A translation is only justified where PostgreSQL cannot read the statement as written.
    if (!s.identical() && quorix_bench::pgParseChecked(s.sql).ok && bad++ < 5) {
      check(false, name + ": translated for PostgreSQL without need:\n  " + excerpt(s.sql));
    }
#endif
  }
  check(bad == 0, name + ": " + std::to_string(corpus.size()) + " statements parse");
}

void checkShapes(Workload w, const std::vector<Statement>& corpus, std::size_t target) {
  std::string name(quorix_bench::workloadName(w));
  quorix_bench::Texts native = quorix_bench::renderTexts(corpus, Rendering::kNative);
  std::size_t longest = 0;
  for (const Statement& s : corpus) longest = std::max(longest, s.sql.size() + 2);
  check(native.text.size() >= target && native.text.size() < target + longest,
        name + ": text reaches the requested size and overshoots by less than a statement");
  check(native.statements.size() == corpus.size(), name + ": native rendering keeps all");

  std::size_t identical = 0;
  for (const Statement& s : corpus) identical += s.identical() ? 1U : 0U;
  quorix_bench::Texts common = quorix_bench::renderTexts(corpus, Rendering::kCommon);
  check(common.statements.size() == identical, name + ": common rendering keeps the identical");

  switch (w) {
    case Workload::kSmall: {
      bool sized = true;
      for (const Statement& s : corpus) sized = sized && s.sql.size() >= 40 && s.sql.size() <= 60;
      check(sized, name + ": every statement is 40 to 60 bytes");
      check(identical == corpus.size(), name + ": PostgreSQL reads every statement as written");
      break;
    }
    case Workload::kOltp: {
      bool lists = true;
      for (const Statement& s : corpus) {
        std::size_t at = s.sql.find(" IN (");
        if (at == std::string::npos) continue;
        std::size_t end = s.sql.find(')', at);
        std::size_t items = count(std::string_view(s.sql).substr(at, end - at), ",") + 1;
        lists = lists && items >= 5 && items <= 50;
      }
      check(lists, name + ": IN lists hold 5 to 50 keys");
      check(identical == corpus.size(), name + ": PostgreSQL reads every statement as written");
      break;
    }
    case Workload::kAnalytic: {
      std::string all;
      for (const Statement& s : corpus) all += s.sql + "\n";
      for (std::string_view feature : {" JOIN ",       " INNER JOIN ", " LEFT JOIN ",
                                       " RIGHT JOIN ", " FULL JOIN ",  " FULL OUTER JOIN ",
                                       " CROSS JOIN ", " NATURAL ",    " USING (",
                                       " GROUP BY ",   " HAVING ",     " NULLS FIRST",
                                       " NULLS LAST",  ") AS d",       " IN (SELECT ",
                                       "NOT EXISTS (", " ANY (",       " ALL (",
                                       " SOME (",      "(SELECT max(", " ESCAPE '!'",
                                       " BETWEEN ",    "CAST(",        " DISTINCT ",
                                       " OFFSET "}) {
        check(all.find(feature) != std::string::npos,
              name + ": uses \"" + std::string(feature) + "\"");
      }
      check(identical == corpus.size(), name + ": PostgreSQL reads every statement as written");
      break;
    }
    case Workload::kBulk:
      for (const Statement& s : corpus) {
        if (count(s.sql, "),\n(") + 1 != static_cast<std::size_t>(quorix_bench::kBulkRows)) {
          check(false,
                name + ": an INSERT without " + std::to_string(quorix_bench::kBulkRows) + " rows");
          break;
        }
      }
      break;
    case Workload::kDdl: {
      std::string all;
      for (const Statement& s : corpus) all += s.sql + "\n";
      for (std::string_view feature : {" INT",
                                       " INTEGER",
                                       " BIGINT",
                                       " SMALLINT",
                                       " FLOAT",
                                       " DOUBLE",
                                       " DECIMAL(",
                                       " VARCHAR(",
                                       " CHAR(",
                                       " TEXT",
                                       " BLOB",
                                       " BOOLEAN",
                                       " BOOL",
                                       " TIMESTAMP",
                                       " DATE",
                                       " TIME",
                                       "COSINE)",
                                       "L2)",
                                       "INNER)",
                                       " NOT NULL",
                                       " DEFAULT ",
                                       " UNIQUE",
                                       "PRIMARY KEY (",
                                       ") WITH (",
                                       "USING HNSW WITH (m = ",
                                       "USING BTREE",
                                       "DROP TABLE IF EXISTS ",
                                       "DROP INDEX IF EXISTS ",
                                       "CREATE INDEX IF NOT EXISTS "}) {
        check(hasWord(all, feature), name + ": uses \"" + std::string(feature) + "\"");
      }
      check(identical > 0 && identical < corpus.size(),
            name + ": some statements, and only some, need a PostgreSQL spelling");
      break;
    }
    case Workload::kVector:
      for (const Statement& s : corpus) {
        std::size_t open = s.sql.find('[');
        if (open == std::string::npos ||
            count(s.sql.substr(open, s.sql.find(']', open) - open), ",") + 1 !=
                quorix_bench::kVectorDimension) {
          check(false, name + ": a statement without a " +
                           std::to_string(quorix_bench::kVectorDimension) +
                           "-element vector literal: " + excerpt(s.sql));
          break;
        }
      }
      check(identical == 0, name + ": no vector statement is read by PostgreSQL as written");
      break;
    case Workload::kMixed: {
      std::string all;
      for (const Statement& s : corpus) all += s.sql + "\n";
      for (std::string_view feature :
           {"SELECT name, email FROM customers WHERE id = ", " WHERE id IN (", " GROUP BY ",
            "),\n(", "CREATE TABLE ", "CREATE INDEX ", "_distance(", "inner_product("}) {
        check(all.find(feature) != std::string::npos,
              name + ": mixes in \"" + std::string(feature) + "\"");
      }
      break;
    }
  }
}

void checkDeterminism() {
  for (Workload w : quorix_bench::kAllWorkloads) {
    std::string name(quorix_bench::workloadName(w));
    auto a = quorix_bench::generateCorpus(w, 64 * 1024, 7);
    auto b = quorix_bench::generateCorpus(w, 64 * 1024, 7);
    auto c = quorix_bench::generateCorpus(w, 64 * 1024, 8);
    auto text = [](const std::vector<Statement>& v) {
      return quorix_bench::renderTexts(v, Rendering::kNative).text +
             quorix_bench::renderTexts(v, Rendering::kPg).text;
    };
    check(text(a) == text(b), name + ": one seed, one corpus");
    check(text(a) != text(c), name + ": another seed, another corpus");
  }
  // Each workload draws from its own stream: the mixed workload's first statements do not
  // depend on whether others were generated first, and the start of a larger corpus is a
  // smaller one.
  auto small = quorix_bench::generateCorpus(Workload::kMixed, 16 * 1024);
  auto large = quorix_bench::generateCorpus(Workload::kMixed, 256 * 1024);
  bool prefix = small.size() <= large.size();
  for (std::size_t i = 0; prefix && i < small.size(); ++i) prefix = small[i].sql == large[i].sql;
  check(prefix, "mixed: a smaller corpus is the start of a larger one");
}

void checkRoundTripStatement() {
  std::string s(quorix_bench::kRoundTripStatement);
  check(s.size() >= 45 && s.size() <= 55, "the round-trip statement is about 50 bytes");
  check(quorix_bench::quorixParseChecked(s).ok, "quorix parses the round-trip statement");
#ifdef QUORIX_BENCH_HAVE_PG_QUERY
  check(quorix_bench::pgParseChecked(s).ok, "pg_query parses the round-trip statement");
#endif
}

}  // namespace

int printStatements(std::string_view workload, std::size_t n) {
  for (Workload w : quorix_bench::kAllWorkloads) {
    if (quorix_bench::workloadName(w) != workload) continue;
    std::vector<Statement> corpus = quorix_bench::generateCorpus(w, quorix_bench::kMiB);
    for (std::size_t i = 0; i < n && i < corpus.size(); ++i) {
      std::printf("%s;\n", corpus[i].sql.c_str());
      if (!corpus[i].identical()) std::printf("-- PostgreSQL: %s;\n", corpus[i].pg.c_str());
    }
    return 0;
  }
  std::fprintf(stderr, "unknown workload: %s\n", std::string(workload).c_str());
  return 2;
}

// JSON takes UTF-8 as it is, so only quotes, backslashes and control bytes need escapes.
std::string jsonString(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

int dumpStatements(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "corpus_check: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }
  for (Workload w : quorix_bench::kAllWorkloads) {
    std::string name(quorix_bench::workloadName(w));
    std::vector<Statement> corpus = quorix_bench::generateCorpus(w, quorix_bench::kMiB);
    quorix_bench::Texts native = quorix_bench::renderTexts(corpus, Rendering::kNative);
    std::string path = dir + "/" + name + ".json";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "[";
    for (std::size_t i = 0; i < native.statements.size(); ++i) {
      out << (i == 0 ? "\n" : ",\n") << jsonString(native.statements[i]);
    }
    out << "\n]\n";
    out.close();
    if (!out) {
      std::fprintf(stderr, "corpus_check: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("  %-8s %6zu statements -> %s\n", name.c_str(), native.statements.size(),
                path.c_str());
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--dump") return dumpStatements(argv[2]);
  if (argc == 4 && std::string_view(argv[1]) == "--print") {
    return printStatements(argv[2], std::strtoul(argv[3], nullptr, 10));
  }
  std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::strtoul(argv[1], nullptr, 10)) : 1;
  std::size_t target = (mib == 0 ? 1 : mib) * quorix_bench::kMiB;
  std::printf("corpus_check: %zu MiB per workload, pg_query %s\n", target / quorix_bench::kMiB,
              quorix_bench::kHavePgQuery ? "available" : "not available");
  checkRoundTripStatement();
  checkDeterminism();
  for (Workload w : quorix_bench::kAllWorkloads) {
    std::vector<Statement> corpus = quorix_bench::generateCorpus(w, target);
    std::size_t identical = 0;
    for (const Statement& s : corpus) identical += s.identical() ? 1U : 0U;
    std::printf("  %-8s %6zu statements, %5zu spelled alike for PostgreSQL\n",
                std::string(quorix_bench::workloadName(w)).c_str(), corpus.size(), identical);
    checkShapes(w, corpus, target);
    checkStatements(w, corpus);
    checkWholeText(w, corpus);
  }
  std::printf("%d passed, %d failed\n", g_passes, g_failures);
  return g_failures == 0 ? 0 : 1;
}
