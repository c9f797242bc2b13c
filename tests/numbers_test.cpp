// Numeric literal conversion against the C library's correctly rounded reference (glibc's
// strtod and strtoll), over many digit strings of every length around the fast paths' edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/errors.h"
#include "encoder/encoder.h"
#include "parser/parser.h"
#include "test_support.h"

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

// The numbers of the first vector literal in a document, as the float 64 values written.
std::vector<double> firstVectorValues(const std::vector<uint8_t>& doc) {
  static const uint8_t key[] = {0xa6, 'v', 'a', 'l', 'u', 'e', 's'};
  auto at = std::search(doc.begin(), doc.end(), std::begin(key), std::end(key));
  if (at == doc.end()) return {};
  size_t i = static_cast<size_t>(at - doc.begin()) + sizeof key;
  size_t n = 0;
  if ((doc.at(i) & 0xf0) == 0x90) {
    n = doc[i] & 15u;
    i += 1;
  } else if (doc[i] == 0xdc) {
    n = size_t(doc.at(i + 1)) << 8 | doc.at(i + 2);
    i += 3;
  }
  std::vector<double> values;
  for (size_t k = 0; k < n; ++k, i += 9) {
    EXPECT_EQ(doc.at(i), 0xcb);
    uint64_t bits = 0;
    for (size_t b = 1; b <= 8; ++b) bits = bits << 8 | doc.at(i + b);
    values.push_back(std::bit_cast<double>(bits));
  }
  return values;
}

TEST(NumberConversion, VectorElementsMatchStrtodWhateverTheSpelling) {
  // Plainly spelled elements take a quicker road than the rest (comments, line breaks, a blank
  // after the minus, long digit strings); the two mix within one literal and must agree.
  static const char* const separators[] = {", ", ",", " , ", ",\n", ", /* c */ ", ",\t", " ,  "};
  std::mt19937_64 rng(384);
  for (int round = 0; round < 2000; ++round) {
    const size_t n = 1 + rng() % 300;
    std::string sql = "SELECT [";
    std::vector<double> expected;
    for (size_t k = 0; k < n; ++k) {
      if (k != 0) sql += separators[rng() % 3 == 0 ? rng() % 7 : 0];
      std::string number = rng() % 4 == 0 ? "0" : digits(rng, 1 + rng() % 22);
      if (rng() % 5 != 0) number += "." + digits(rng, 1 + rng() % 25);
      const bool negative = rng() % 2 == 0;
      if (negative) sql += rng() % 10 == 0 ? "- " : "-";
      sql += number;
      const double value = std::strtod(number.c_str(), nullptr);
      expected.push_back(negative ? -value : value);
    }
    sql += rng() % 10 == 0 ? ",]" : "]";
    Outcome o = parse(sql);
    ASSERT_EQ(o.status, 0) << sql << "\n" << o.error;
    std::vector<double> got = firstVectorValues(o.data);
    ASSERT_EQ(got.size(), expected.size()) << sql;
    for (size_t k = 0; k < n; ++k)
      ASSERT_EQ(std::memcmp(&got[k], &expected[k], sizeof(double)), 0) << sql << "\nelement " << k;
  }
}

TEST(NumberConversion, DecimalsWrittenAsTheirLexemeAreExactlyTheirText) {
  // A decimal whose text is known to be its own lexeme skips formatting; that shortcut must
  // never change a text, and must be taken for the plain spellings that dominate real SQL.
  std::mt19937_64 rng(15);
  int taken = 0;
  for (int round = 0; round < 300000; ++round) {
    std::string whole = rng() % 3 == 0 ? "0" : digits(rng, 1 + rng() % 18);
    std::string fraction =
        std::string(rng() % 4 == 0 ? rng() % 9 : 0, '0') + digits(rng, 1 + rng() % 17);
    const std::string lexeme = whole + "." + fraction;
    char text[32];
    const std::string formatted(text, formatFloatText(convertFloatLexeme(lexeme), text));
    if (decimalLexemeIsItsText(lexeme)) {
      ++taken;
      ASSERT_EQ(formatted, lexeme);
    }
  }
  EXPECT_GT(taken, 30000);
  struct Row {
    const char* lexeme;
    bool itsText;
  };
  for (const Row& r : std::vector<Row>{{"0.5", true},
                                       {"3511.09", true},
                                       {"0.0000001", true},  // six zeros: still positional
                                       {"0.00000001", false},
                                       {"12345678901234.5", true},  // 15 significant digits
                                       {"123456789012345.5", false},
                                       {"0.000123456789012345", true},
                                       {"1.50", false},
                                       {"01.5", false},
                                       {"0.0", false},
                                       {"10.0", false}}) {
    EXPECT_EQ(decimalLexemeIsItsText(r.lexeme), r.itsText) << r.lexeme;
    if (r.itsText) {
      char text[32];
      EXPECT_EQ(std::string(text, formatFloatText(convertFloatLexeme(r.lexeme), text)), r.lexeme);
    }
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
