// Numeric literal conversion against the C library's correctly rounded reference (glibc's
// strtod and strtoll), over many digit strings of every length around the fast paths' edges.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "errors.h"
#include "parser.h"

namespace quorix::test {
namespace {

std::string digits(std::mt19937_64& rng, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  return s;
}

TEST(NumberConversion, FloatsMatchStrtodBitForBit) {
  std::mt19937_64 rng(20261208);
  for (int round = 0; round < 200000; ++round) {
    size_t whole = 1 + rng() % 20;
    size_t fraction = rng() % 3 == 0 ? 0 : 1 + rng() % 24;
    std::string text = digits(rng, whole);
    if (rng() % 4 == 0) text = "0";  // values below one, which the fast path divides most
    if (fraction != 0) text += "." + digits(rng, fraction);
    double expected = std::strtod(text.c_str(), nullptr);
    double got = convertFloatLexeme(text);
    ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << text;
  }
  // The edges of exactness: 2^53 and one above it, 22 and 23 digits after the point.
  for (const char* text :
       {"9007199254740992", "9007199254740993", "9007199254740993.0", "0.1234567890123456789012",
        "0.12345678901234567890123", "1.0000000000000000000001", "4503599627370497.5"}) {
    double expected = std::strtod(text, nullptr);
    double got = convertFloatLexeme(text);
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << text;
  }
}

TEST(NumberConversion, IntegersMatchStrtollOrAreOutOfRange) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 100000; ++round) {
    std::string text = digits(rng, 1 + rng() % 22);
    errno = 0;
    long long expected = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) {
      EXPECT_THROW(convertIntegerLexeme(text), ValueError) << text;
    } else {
      ASSERT_EQ(convertIntegerLexeme(text), expected) << text;
    }
  }
  EXPECT_EQ(convertIntegerLexeme("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(convertIntegerLexeme("000000000000000000000042"), 42);
  EXPECT_THROW(convertIntegerLexeme("9223372036854775808"), ValueError);
}

}  // namespace
}  // namespace quorix::test
