// Deterministic SQL workloads for the benchmarks and their self-check.
//
// Every statement is generated twice from the same random draws: once in this library's dialect
// and once as PostgreSQL writes it. The two texts are the same wherever the dialects agree; they
// differ only where PostgreSQL has no such form or spells it otherwise (vector literals, USING
// after an index's column list, the INNER metric word). Comparisons with PostgreSQL's parser are
// therefore made on the statements whose two texts are identical, and only where there are
// none, on the translated texts.
#ifndef QUORIX_BENCH_CORPUS_H
#define QUORIX_BENCH_CORPUS_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorix_bench {

enum class Workload { kSmall, kOltp, kAnalytic, kBulk, kDdl, kVector, kMixed };

inline constexpr Workload kAllWorkloads[] = {Workload::kSmall, Workload::kOltp, Workload::kAnalytic,
                                             Workload::kBulk,  Workload::kDdl,  Workload::kVector,
                                             Workload::kMixed};

// Lower-case, used in benchmark names and in the report.
std::string_view workloadName(Workload w);

inline constexpr std::size_t kMiB = std::size_t{1} << 20;
inline constexpr std::uint64_t kDefaultSeed = 20240611;

// The vector literals of the vector workload have this many elements.
inline constexpr int kVectorDimension = 384;
// Rows of one bulk INSERT.
inline constexpr int kBulkRows = 1000;

// A 49-byte point lookup, valid in both dialects, for the round-trip latency benchmark.
inline constexpr std::string_view kRoundTripStatement =
    "SELECT name, email FROM customers WHERE id = 4821";

struct Statement {
  std::string sql;  // this library's dialect, without a terminating semicolon
  std::string pg;   // PostgreSQL's spelling of the same statement
  bool identical() const { return sql == pg; }
};

// Statements of one workload in generation order. Their joined text (see joinStatements) is at
// least target_bytes long and overshoots by less than one statement. The same arguments always
// give the same statements, on any platform.
std::vector<Statement> generateCorpus(Workload w, std::size_t target_bytes,
                                      std::uint64_t seed = kDefaultSeed);

// Which rendering of a corpus to take.
enum class Rendering {
  kNative,  // every statement, this library's dialect
  kPg,      // every statement, PostgreSQL's spelling
  kCommon,  // only the statements whose two spellings are identical
};

// A rendering laid out for the two ways of calling a parser: one statement per call (each its
// own NUL-terminated string) and the whole text in one call.
struct Texts {
  std::vector<std::string> statements;
  std::string text;  // the statements joined by ";\n", ending in ";\n"
};

Texts renderTexts(std::span<const Statement> corpus, Rendering r);

// The separator and terminator that renderTexts puts after every statement.
inline constexpr std::string_view kStatementSeparator = ";\n";

}  // namespace quorix_bench

#endif  // QUORIX_BENCH_CORPUS_H
