// The heap a call takes, seen as a host sees it: this executable replaces malloc and its
// relatives (bench/heap_tracker.cpp), and the library's allocations bind to those definitions.
// A 1 MiB text of every benchmark workload must peak within its document plus four times its
// input, which holds only while each statement's nodes are released before the next statement
// and the document is written once; every call, failed or not, must give back all it took, the
// document block the thread keeps for its next call aside.

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include "corpus.h"
#include "heap_tracker.h"
#include "quorix_sql_parser.h"

namespace quorix_bench {
// Readable parameters in the test log.
void PrintTo(Workload w, std::ostream* os) { *os << workloadName(w); }
}  // namespace quorix_bench

namespace {

using quorix_bench::Workload;

struct Call {
  int32_t status;
  int64_t documentBytes;
  int64_t peakRise;  // the highest the heap stood above where it was before the call
  int64_t kept;      // what the heap still held above that once the result was freed
  int64_t leftOver;  // ... and once the thread had made enough calls to give a kept block back
};

// A thread keeps the last large document block it released for its next call, and gives it
// back after kIdleCalls calls in a row that do not use it.
constexpr int kIdleCalls = 16;
constexpr int64_t kMostKept = int64_t(32) << 20;

void callsThatKeepNothing() {
  for (int i = 0; i < kIdleCalls; ++i) {
    ParseResult r = quorix_parse_sql("SELECT 1", 8);
    quorix_free_buffer(r.data);
  }
}

// The first time a thread keeps a block, the C library records the destructor that gives it
// back at thread exit: a few dozen bytes of its own for the thread's life, not a call's.
void keepOneBlockOnce() {
  std::string text;
  while (text.size() < 64 * 1024) text += "SELECT a, b FROM t WHERE c = 1;\n";
  ParseResult r = quorix_parse_sql(text.data(), static_cast<int32_t>(text.size()));
  quorix_free_buffer(r.data);
}

// One call from a thread that keeps nothing, so that the peak is all the call needs.
Call measure(const std::string& text) {
  callsThatKeepNothing();
  const int64_t base = quorix_bench::heapCurrent();
  quorix_bench::heapResetPeak();
  ParseResult r = quorix_parse_sql(text.data(), static_cast<int32_t>(text.size()));
  Call c{r.status, r.data_len, quorix_bench::heapPeak() - base, 0, 0};
  quorix_free_buffer(r.data);
  quorix_free_buffer(r.error);
  c.kept = quorix_bench::heapCurrent() - base;
  callsThatKeepNothing();
  c.leftOver = quorix_bench::heapCurrent() - base;
  return c;
}

// The figures mean something only if the library's blocks pass through the replacement (a
// sanitizer's or valgrind's allocator would take its place).
bool trackerSeesTheLibrary() {
  const Call c = measure(std::string(quorix_bench::kRoundTripStatement));
  return c.status == 0 && c.peakRise > 0 && c.kept == 0 && c.leftOver == 0;
}

// Both ways glibc may be set up in a host: a long-running process whose large blocks come from
// the heap, and a fresh one whose large blocks are mapped on their own.
enum class Heap { kWarm, kCold };

void PrintTo(Heap h, std::ostream* os) { *os << (h == Heap::kWarm ? "warm heap" : "cold heap"); }

void setUp(Heap heap) {
  const int threshold = heap == Heap::kWarm ? 32 << 20 : 128 << 10;
  mallopt(M_MMAP_THRESHOLD, threshold);
  mallopt(M_TRIM_THRESHOLD, heap == Heap::kWarm ? 64 << 20 : 128 << 10);
}

// Parses the text, which must be valid, and holds the call to the budget; returns what it took.
Call expectWithinBudget(const std::string& text) {
  const int64_t input = static_cast<int64_t>(text.size());
  const Call c = measure(text);
  EXPECT_EQ(c.status, 0);
  EXPECT_LE(c.peakRise, c.documentBytes + 4 * input)
      << "document " << c.documentBytes << " bytes, input " << input << " bytes";
  // The document's block is what stays, and only until the thread's next calls.
  EXPECT_GE(c.kept, c.documentBytes);
  EXPECT_LE(c.kept, std::min(kMostKept, c.documentBytes + c.documentBytes / 8 + 4096));
  EXPECT_EQ(c.leftOver, 0);
  return c;
}

Heap heapOf(Heap heap) { return heap; }
Heap heapOf(const std::tuple<Workload, Heap>& param) { return std::get<1>(param); }

// Sets glibc up as the parameter says, once the replacement is known to see the library.
template <typename Param>
class HeapTest : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    keepOneBlockOnce();
    if (!trackerSeesTheLibrary()) GTEST_SKIP() << "the malloc replacement is not in use";
    setUp(heapOf(this->GetParam()));
  }
  void TearDown() override { setUp(Heap::kCold); }
};

using PeakMemory = HeapTest<std::tuple<Workload, Heap>>;

TEST_P(PeakMemory, TextPeaksWithinDocumentPlusFourTimesInputAndGivesAllBack) {
  const auto corpus = quorix_bench::generateCorpus(std::get<0>(GetParam()), quorix_bench::kMiB);
  const std::string text = quorix_bench::renderTexts(corpus, quorix_bench::Rendering::kNative).text;
  const Call ok = expectWithinBudget(text);

  // The same text with an error at its very end: everything written is thrown away, and the
  // peak is no higher than the whole document's would have been.
  const Call failed = measure(text + "SELECT FROM;\n");
  ASSERT_EQ(failed.status, 1);
  EXPECT_LE(failed.peakRise, ok.documentBytes + 4 * static_cast<int64_t>(text.size()));
  EXPECT_EQ(failed.kept, 0);
  EXPECT_EQ(failed.leftOver, 0);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Workload, Heap>>& info) {
  return std::string(quorix_bench::workloadName(std::get<0>(info.param))) +
         (std::get<1>(info.param) == Heap::kWarm ? "_warm_heap" : "_cold_heap");
}

INSTANTIATE_TEST_SUITE_P(Workloads, PeakMemory,
                         ::testing::Combine(::testing::ValuesIn(quorix_bench::kAllWorkloads),
                                            ::testing::Values(Heap::kWarm, Heap::kCold)),
                         caseName);

// One INSERT of 1 MiB with short rows: its nodes (four per row of about 14 bytes) would take
// over three times the budget if they were held until the statement ends.
using PeakMemoryOfOneInsert = HeapTest<Heap>;

TEST_P(PeakMemoryOfOneInsert, LongInsertPeaksWithinTheBudget) {
  std::string text = "INSERT INTO t (a, b, c) VALUES\n";
  for (unsigned i = 0; text.size() < quorix_bench::kMiB; ++i) {
    // Appended piece by piece: GCC 12 warns (falsely) about overlap in `"(" + std::string`.
    text.append("(").append(std::to_string(i % 97)).append(", ");
    text.append(std::to_string(i % 89)).append(", ").append(std::to_string(i % 83)).append("),\n");
  }
  text += "(0, 0, 0);\n";
  expectWithinBudget(text);
}

std::string heapName(const ::testing::TestParamInfo<Heap>& param) {
  return param.param == Heap::kWarm ? "warm_heap" : "cold_heap";
}

INSTANTIATE_TEST_SUITE_P(Heaps, PeakMemoryOfOneInsert, ::testing::Values(Heap::kWarm, Heap::kCold),
                         heapName);

}  // namespace
