// Heap accounting for the benchmark executable. heap_tracker.cpp replaces malloc and its
// relatives in this executable; the parser library and PostgreSQL's parser resolve their
// allocations to these definitions, so every byte they hold is counted.
#ifndef QUORIX_BENCH_HEAP_TRACKER_H
#define QUORIX_BENCH_HEAP_TRACKER_H

#include <cstdint>

namespace quorix_bench {

// Bytes currently allocated, counted by malloc_usable_size.
std::int64_t heapCurrent();
// The highest value heapCurrent has reached since the last heapResetPeak.
std::int64_t heapPeak();
void heapResetPeak();

}  // namespace quorix_bench

#endif  // QUORIX_BENCH_HEAP_TRACKER_H
