// The per-statement arena: memory handed out between two resets never overlaps, whatever the
// mix of sizes and however the blocks kept from earlier statements are reused or merged; a
// rewind to a mark releases only what came after it.
#include "common/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace quorix::test {
namespace {

struct Piece {
  unsigned char* p;
  size_t n;
  unsigned char fill;
};

// Allocates `sizes` in one round, fills each piece with its own byte, then checks them all.
void round(Arena& arena, const std::vector<size_t>& sizes, unsigned char seed) {
  std::vector<Piece> pieces;
  for (size_t i = 0; i < sizes.size(); ++i) {
    auto* p = static_cast<unsigned char*>(arena.allocate(sizes[i], i % 3 == 0 ? 1 : 16));
    if (i % 3 != 0) ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    unsigned char fill = static_cast<unsigned char>(seed + i);
    std::memset(p, fill, sizes[i]);
    pieces.push_back({p, sizes[i], fill});
  }
  for (const Piece& piece : pieces) {
    for (size_t k = 0; k < piece.n; ++k) ASSERT_EQ(piece.p[k], piece.fill) << "size " << piece.n;
  }
}

TEST(Arena, PiecesOfOneStatementNeverOverlapAcrossResets) {
  struct Case {
    const char* what;
    std::vector<std::vector<size_t>> rounds;
  };
  std::vector<size_t> many(3000, 128);
  std::vector<size_t> growing;
  for (size_t n = 1; n < (size_t(1) << 20); n *= 3) growing.push_back(n);
  const Case cases[] = {
      {"inline only", {{8, 16, 128}, {1, 2, 3}}},
      {"one block, reused", {many, many, many}},
      {"several blocks merged, then smaller and larger rounds", {many, growing, many, growing}},
      {"one piece larger than any block", {{size_t(3) << 20}, {64}, {size_t(5) << 20, 7}}},
      {"empty rounds between", {{}, many, {}, {}, growing}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Arena arena(4096);
    unsigned char seed = 1;
    for (const auto& sizes : c.rounds) {
      round(arena, sizes, seed);
      seed = static_cast<unsigned char>(seed + 37);
      arena.reset();
    }
  }
}

TEST(Arena, RandomRoundsKeepEveryPieceIntact) {
  std::mt19937 rng(5);
  Arena arena(4096);
  for (int r = 0; r < 60; ++r) {
    std::vector<size_t> sizes(rng() % 400);
    for (size_t& n : sizes) n = 1 + (rng() % 8 == 0 ? rng() % 200000 : rng() % 300);
    round(arena, sizes, static_cast<unsigned char>(r));
    arena.reset();
  }
}

// A long list reuses each element's memory for the next: what was made before the mark stays
// intact through any number of rewinds, and what comes after a rewind starts where the mark was.
TEST(Arena, RewindKeepsWhatCameBeforeTheMark) {
  struct Case {
    const char* what;
    std::vector<size_t> before;   // made before the mark, must survive
    std::vector<size_t> element;  // made and released again, many times over
  };
  std::vector<size_t> many(300, 128);
  const Case cases[] = {
      {"all inline", {16, 32}, {24, 40, 8}},
      {"elements spill into blocks of their own", {16}, many},
      {"mark inside a block", many, {64, 64}},
      {"element larger than any block", {100}, {size_t(3) << 20, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Arena arena(4096);
    std::vector<Piece> kept;
    for (size_t i = 0; i < c.before.size(); ++i) {
      auto* p = static_cast<unsigned char*>(arena.allocate(c.before[i], 8));
      std::memset(p, 0x5a, c.before[i]);
      kept.push_back({p, c.before[i], 0x5a});
    }
    const Arena::Mark mark = arena.mark();
    const size_t inUse = arena.bytesInUse();
    void* firstAfterMark = nullptr;
    for (int element = 0; element < 20; ++element) {
      round(arena, c.element, static_cast<unsigned char>(element));
      arena.rewind(mark);
      EXPECT_EQ(arena.bytesInUse(), inUse);
      void* next = arena.allocate(1, 1);
      if (firstAfterMark == nullptr) firstAfterMark = next;
      EXPECT_EQ(next, firstAfterMark);
      arena.rewind(mark);
    }
    for (const Piece& piece : kept) {
      for (size_t k = 0; k < piece.n; ++k) ASSERT_EQ(piece.p[k], piece.fill);
    }
  }
}

TEST(Arena, OnlyTheLatestPieceGrowsInPlaceAndOnlyWithinItsBlock) {
  Arena arena(4096);
  auto* first = static_cast<unsigned char*>(arena.allocate(64, 8));
  EXPECT_TRUE(arena.tryExtend(first, 64, 512));
  std::memset(first, 1, 512);
  auto* second = static_cast<unsigned char*>(arena.allocate(32, 8));
  EXPECT_GE(second, first + 512);                   // the grown piece is not handed out again
  EXPECT_FALSE(arena.tryExtend(first, 512, 1024));  // no longer the latest piece
  EXPECT_FALSE(arena.tryExtend(second, 32, size_t(1) << 30));  // beyond its block
  EXPECT_TRUE(arena.tryExtend(second, 32, 64));
  std::memset(second, 2, 64);
  for (size_t k = 0; k < 512; ++k) ASSERT_EQ(first[k], 1);
}

}  // namespace
}  // namespace quorix::test
