// Throughput, latency and memory of quorix_parse_sql against PostgreSQL's parser (pg_query)
// on the generated workloads, with a byte-classification pass as the floor of what any parser
// reading the whole input could cost.
//
// Names: <peer>/<mode>/<workload>[.common] where peer is quorix, pg_query or floor; mode is
// text (one call for the whole 1 MiB text), stmt (one call per statement) or text32 (one call
// for a 32 MiB text); ".common" restricts the text to the statements both dialects spell the
// same way. bench/report.py reads these names.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>

#include "corpus.h"
#include "heap_tracker.h"
#include "parsers.h"
#include "quorix_sql_tools.h"

namespace {

using quorix_bench::Rendering;
using quorix_bench::Texts;
using quorix_bench::Workload;

enum class Peer { kQuorix, kPg };
enum class Mode { kText, kStatement };

// Corpora and their renderings, built on first use so that a filtered run only generates what
// it measures (the 32 MiB text takes a moment).
const Texts& textsFor(Workload w, std::size_t bytes, Rendering r) {
  static std::map<std::pair<Workload, std::size_t>, std::vector<quorix_bench::Statement>> corpora;
  static std::map<std::tuple<Workload, std::size_t, Rendering>, Texts> texts;
  auto key = std::make_tuple(w, bytes, r);
  auto it = texts.find(key);
  if (it != texts.end()) return it->second;
  auto c = corpora.find({w, bytes});
  if (c == corpora.end()) {
    c = corpora.emplace(std::make_pair(w, bytes), quorix_bench::generateCorpus(w, bytes)).first;
  }
  return texts.emplace(key, quorix_bench::renderTexts(c->second, r)).first->second;
}

quorix_bench::ParseOutcome parseChecked(Peer peer, const std::string& text) {
#ifdef QUORIX_BENCH_HAVE_PG_QUERY
  if (peer == Peer::kPg) return quorix_bench::pgParseChecked(text);
#endif
  (void)peer;
  return quorix_bench::quorixParseChecked(text);
}

// One timed call: parse and release, nothing measured besides.
bool parsePlain(Peer peer, const std::string& text) {
#ifdef QUORIX_BENCH_HAVE_PG_QUERY
  if (peer == Peer::kPg) return quorix_bench::pgParse(text);
#endif
  (void)peer;
  return quorix_bench::quorixParse(text) == 0;
}

// What one untimed run of a benchmark's calls produced.
struct Footprint {
  std::string error;           // empty when every call succeeded
  std::size_t doc_bytes = 0;   // summed over the calls
  std::int64_t peak_heap = 0;  // the largest rise of the heap during any one call
};

void measureFootprint(Peer peer, Mode mode, const Texts& t, Footprint& f);

// Runs the calls of a benchmark once, outside the timed loop: every statement must parse, and
// this pass is where the document size and the heap peak are taken. Cached per benchmark, so
// that repetitions do not repeat it.
const Footprint& footprint(Peer peer, Mode mode, const Texts& t) {
  static std::map<std::tuple<Peer, Mode, const Texts*>, Footprint> cache;
  auto key = std::make_tuple(peer, mode, &t);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  // On a thread of its own: the first pg_query call on a thread sets up memory that lives as
  // long as the thread, and quorix keeps a thread's last large document block for its next
  // call; a fresh thread starts with neither, so the peak is all that one call needs.
  Footprint f;
  std::thread([&] { measureFootprint(peer, mode, t, f); }).join();
  return cache.emplace(key, std::move(f)).first->second;
}

void measureFootprint(Peer peer, Mode mode, const Texts& t, Footprint& f) {
  parseChecked(peer, "SELECT 1");
  auto one = [&](const std::string& text) {
    std::int64_t before = quorix_bench::heapCurrent();
    quorix_bench::heapResetPeak();
    quorix_bench::ParseOutcome out = parseChecked(peer, text);
    f.peak_heap = std::max(f.peak_heap, quorix_bench::heapPeak() - before);
    if (!out.ok && f.error.empty()) {
      f.error = out.error + " in: " + text.substr(0, 200);
    }
    f.doc_bytes += out.doc_bytes;
  };
  if (mode == Mode::kText) {
    one(t.text);
  } else {
    for (const std::string& s : t.statements) one(s);
  }
}

void setCounters(benchmark::State& state, const Texts& t, std::size_t statements) {
  using benchmark::Counter;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(t.text.size()));
  double n = static_cast<double>(statements);
  state.counters["stmts_per_s"] = Counter(n, Counter::kIsIterationInvariantRate);
  // A rate inverted is seconds per statement; scaling the count by 1e-9 makes it nanoseconds.
  state.counters["ns_per_stmt"] = Counter(
      n * 1e-9, static_cast<Counter::Flags>(Counter::kIsIterationInvariantRate | Counter::kInvert));
  state.counters["input_bytes"] = Counter(static_cast<double>(t.text.size()));
  state.counters["stmts"] = Counter(n);
}

void parserBenchmark(benchmark::State& state, Peer peer, Mode mode, const Texts& t) {
  const Footprint& f = footprint(peer, mode, t);
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  if (peer == Peer::kQuorix) {
    for (auto _ : state) {
      if (mode == Mode::kText) {
        benchmark::DoNotOptimize(quorix_bench::quorixParse(t.text));
      } else {
        for (const std::string& s : t.statements) {
          benchmark::DoNotOptimize(quorix_bench::quorixParse(s));
        }
      }
    }
  } else {
#ifdef QUORIX_BENCH_HAVE_PG_QUERY
    for (auto _ : state) {
      if (mode == Mode::kText) {
        benchmark::DoNotOptimize(quorix_bench::pgParse(t.text));
      } else {
        for (const std::string& s : t.statements) {
          benchmark::DoNotOptimize(quorix_bench::pgParse(s));
        }
      }
    }
#endif
  }
  setCounters(state, t, t.statements.size());
  double input = static_cast<double>(t.text.size());
  state.counters["doc_bytes"] = benchmark::Counter(static_cast<double>(f.doc_bytes));
  state.counters["doc_per_input"] = benchmark::Counter(static_cast<double>(f.doc_bytes) / input);
  state.counters["peak_heap"] = benchmark::Counter(
      static_cast<double>(f.peak_heap), benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

// Each thread parses its own copy of the texts, so that nothing is shared but the code; rates
// are taken over wall-clock time, so two threads that scale perfectly show twice one thread's.
// Whether every statement parses is checked by the one-thread runs.
void threadedBenchmark(benchmark::State& state, Peer peer, Mode mode, const Texts& shared) {
  const Texts t = shared;
  for (auto _ : state) {
    if (mode == Mode::kText) {
      benchmark::DoNotOptimize(parsePlain(peer, t.text));
    } else {
      for (const std::string& s : t.statements) {
        benchmark::DoNotOptimize(parsePlain(peer, s));
      }
    }
  }
  setCounters(state, t, t.statements.size());
}

// The least any parser has to do: look at every byte once and decide what kind it is.
constexpr std::array<std::uint8_t, 256> kByteClass = [] {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    std::uint8_t k = 6;  // anything else, bytes of multi-byte characters among them
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') k = 0;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') k = 1;
    if (c >= '0' && c <= '9') k = 2;
    if (c == '\'' || c == '"') k = 3;
    if (c == '(' || c == ')' || c == ',' || c == ';' || c == '.' || c == '[' || c == ']') k = 4;
    if (c == '=' || c == '<' || c == '>' || c == '+' || c == '-' || c == '*' || c == '/' ||
        c == '%' || c == '|' || c == '!') {
      k = 5;
    }
    classes[static_cast<std::size_t>(c)] = k;
  }
  return classes;
}();

void floorBenchmark(benchmark::State& state, const Texts& t) {
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (char c : t.text) sum += kByteClass[static_cast<unsigned char>(c)];
    benchmark::DoNotOptimize(sum);
  }
  setCounters(state, t, t.statements.size());
}

// One short statement, parsed and released: the latency a host sees per request.
void roundTripBenchmark(benchmark::State& state, Peer peer) {
  static const Texts t = [] {
    Texts one;
    one.statements.emplace_back(quorix_bench::kRoundTripStatement);
    one.text = std::string(quorix_bench::kRoundTripStatement);
    return one;
  }();
  parserBenchmark(state, peer, Mode::kStatement, t);
}

// The tools, one call per text, on the texts parse is measured on: format, normalize and
// fingerprint parse first and then do their own work; split and tokens only scan.
enum class Tool { kFormat, kFormatPretty, kNormalize, kFingerprint, kSplit, kTokens };

struct ToolRow {
  Tool tool;
  const char* name;
};

constexpr ToolRow kTools[] = {
    {Tool::kFormat, "format"},       {Tool::kFormatPretty, "format_pretty"},
    {Tool::kNormalize, "normalize"}, {Tool::kFingerprint, "fingerprint"},
    {Tool::kSplit, "split"},         {Tool::kTokens, "tokens"}};

// One call of a tool, its blocks released; false when it failed.
bool runTool(Tool tool, const std::string& text) {
  const char* sql = text.data();
  const auto len = static_cast<std::int32_t>(text.size());
  auto release = [](auto r) {
    quorix_tools_free(r.error);
    return r.status == 0;
  };
  switch (tool) {
    case Tool::kFormat:
    case Tool::kFormatPretty: {
      QuorixText r =
          quorix_sql_format(sql, len, tool == Tool::kFormatPretty ? QUORIX_FORMAT_PRETTY : 0);
      quorix_tools_free(r.text);
      return release(r);
    }
    case Tool::kNormalize: {
      QuorixText r = quorix_sql_normalize(sql, len);
      quorix_tools_free(r.text);
      return release(r);
    }
    case Tool::kFingerprint: {
      QuorixFingerprints r = quorix_sql_fingerprint(sql, len);
      quorix_tools_free(r.fingerprints);
      return release(r);
    }
    case Tool::kSplit: {
      QuorixStatements r = quorix_sql_split(sql, len);
      quorix_tools_free(r.statements);
      return release(r);
    }
    case Tool::kTokens: {
      QuorixTokens r = quorix_sql_tokens(sql, len);
      quorix_tools_free(r.tokens);
      return release(r);
    }
  }
  return false;
}

void toolBenchmark(benchmark::State& state, Tool tool, const Texts& t) {
  if (!runTool(tool, t.text)) {
    state.SkipWithError("the tool failed on the text");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(runTool(tool, t.text));
  setCounters(state, t, t.statements.size());
}

std::string peerName(Peer p) { return p == Peer::kQuorix ? "quorix" : "pg_query"; }

void registerParser(Peer peer, Mode mode, const std::string& suffix, const Texts& t) {
  std::string name = peerName(peer) + (mode == Mode::kText ? "/text/" : "/stmt/") + suffix;
  benchmark::RegisterBenchmark(name.c_str(), parserBenchmark, peer, mode, std::cref(t))
      ->Unit(benchmark::kMillisecond);
}

void registerAll() {
  std::vector<Peer> peers = {Peer::kQuorix};
  if (quorix_bench::kHavePgQuery) peers.push_back(Peer::kPg);
  for (Workload w : quorix_bench::kAllWorkloads) {
    std::string name(quorix_bench::workloadName(w));
    const Texts& native = textsFor(w, quorix_bench::kMiB, Rendering::kNative);
    const Texts& pg = textsFor(w, quorix_bench::kMiB, Rendering::kPg);
    const Texts& common = textsFor(w, quorix_bench::kMiB, Rendering::kCommon);
    for (Peer peer : peers) {
      for (Mode mode : {Mode::kText, Mode::kStatement}) {
        registerParser(peer, mode, name, peer == Peer::kQuorix ? native : pg);
      }
    }
    // Where some statements exist only in this dialect, the like-for-like comparison is the
    // part both parsers read as written.
    bool partial = common.statements.size() != native.statements.size();
    if (partial && !common.statements.empty() && quorix_bench::kHavePgQuery) {
      for (Peer peer : peers) {
        for (Mode mode : {Mode::kText, Mode::kStatement}) {
          registerParser(peer, mode, name + ".common", common);
        }
      }
    }
    benchmark::RegisterBenchmark(("floor/text/" + name).c_str(), floorBenchmark, std::cref(native))
        ->Unit(benchmark::kMillisecond);
  }
  const Texts& mixed = textsFor(Workload::kMixed, quorix_bench::kMiB, Rendering::kNative);
  for (const ToolRow& row : kTools) {
    benchmark::RegisterBenchmark((std::string("tool/") + row.name + "/text/mixed").c_str(),
                                 toolBenchmark, row.tool, std::cref(mixed))
        ->Unit(benchmark::kMillisecond);
  }
  // One thread and two, each on its own copy of the mixed text, timed by the clock on the wall.
  for (Peer peer : peers) {
    const Texts& own = peer == Peer::kQuorix
                           ? mixed
                           : textsFor(Workload::kMixed, quorix_bench::kMiB, Rendering::kPg);
    for (Mode mode : {Mode::kText, Mode::kStatement}) {
      benchmark::RegisterBenchmark(
          (peerName(peer) + (mode == Mode::kText ? "/text" : "/stmt") + "/mixed.threads").c_str(),
          threadedBenchmark, peer, mode, std::cref(own))
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Threads(1)
          ->Threads(2);
    }
  }
  for (Peer peer : peers) {
    benchmark::RegisterBenchmark((peerName(peer) + "/roundtrip/small50").c_str(),
                                 roundTripBenchmark, peer)
        ->Unit(benchmark::kNanosecond);
  }
  // The 32 MiB texts are generated only when one of these runs: each parser on its own
  // spelling of the whole log, and both on the statements spelled alike.
  for (Peer peer : peers) {
    Rendering own = peer == Peer::kQuorix ? Rendering::kNative : Rendering::kPg;
    std::vector<std::pair<std::string, Rendering>> variants = {{"mixed", own}};
    if (quorix_bench::kHavePgQuery) variants.emplace_back("mixed.common", Rendering::kCommon);
    for (const auto& [suffix, rendering] : variants) {
      benchmark::RegisterBenchmark(
          (peerName(peer) + "/text32/" + suffix).c_str(),
          [peer, rendering = rendering](benchmark::State& state) {
            parserBenchmark(state, peer, Mode::kText,
                            textsFor(Workload::kMixed, 32 * quorix_bench::kMiB, rendering));
          })
          ->Unit(benchmark::kMillisecond);
    }
  }
#ifdef QUORIX_BENCH_HAVE_PG_QUERY
  benchmark::AddCustomContext("pg_query", "PostgreSQL " PG_VERSION " parser");
#else
  benchmark::AddCustomContext("pg_query", "not available");
#endif
  benchmark::AddCustomContext("quorix_version", quorix_parser_version());
}

// glibc as every process starts it, unless QUORIX_BENCH_HEAP asks otherwise: glibc raises its
// mmap and trim thresholds as large blocks are freed, so what a whole-text call finds depends
// on what the process did before, exactly as in a host. For comparison, QUORIX_BENCH_HEAP pins
// both thresholds:
//   warm: at the highest values glibc adapts to by itself (32 MiB and 64 MiB), the steady
//         state of a long-running host that parses again and again;
//   cold: at glibc's start values (128 KiB), where every large block is a fresh mapping whose
//         pages fault in on first touch.
std::string pinAllocator() {
  const char* heap = std::getenv("QUORIX_BENCH_HEAP");
  const std::string_view mode = heap != nullptr ? heap : "";
  if (mode == "cold") {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    return "cold (glibc mmap and trim thresholds pinned at 128 KiB)";
  }
  if (mode == "warm") {
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
    return "warm (glibc mmap threshold pinned at 32 MiB, trim threshold at 64 MiB)";
  }
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables != nullptr) return std::string("glibc defaults, GLIBC_TUNABLES=") + tunables;
  return "glibc defaults (no mallopt, no tunables)";
}

// The peak figures are only as good as the malloc replacement: make sure that this
// executable's blocks and the library's both pass through it before anything is measured.
bool heapTrackerWorks() {
  constexpr std::int64_t kBlock = 1 << 20;
  std::int64_t base = quorix_bench::heapCurrent();
  void* p = std::malloc(static_cast<std::size_t>(kBlock));
  benchmark::DoNotOptimize(p);
  bool grew = quorix_bench::heapCurrent() - base >= kBlock;
  p = std::realloc(p, static_cast<std::size_t>(4 * kBlock));
  benchmark::DoNotOptimize(p);
  bool regrew = quorix_bench::heapCurrent() - base >= 4 * kBlock;
  std::free(p);
  bool released = quorix_bench::heapCurrent() == base;
  const std::string sql(quorix_bench::kRoundTripStatement);
  base = quorix_bench::heapCurrent();
  quorix_bench::heapResetPeak();
  bool parsed = quorix_bench::quorixParseChecked(sql).ok;
  bool library = parsed && quorix_bench::heapPeak() > base && quorix_bench::heapCurrent() == base;
  return grew && regrew && released && library;
}

}  // namespace

int main(int argc, char** argv) {
  if (!heapTrackerWorks()) {
    std::fprintf(stderr, "quorix_bench: the malloc replacement does not see every allocation\n");
    return 1;
  }
  benchmark::AddCustomContext("malloc", pinAllocator());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  registerAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
