// Numeric literals: their values, converted from the lexeme as the scanner delimits it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorix {

// Conversions of numeric lexemes; failures raise ValueError with the dialect's messages.
int64_t convertIntegerLexeme(std::string_view lexeme);
// An integer of up to this many digits is within the signed 64-bit range whatever its digits.
inline constexpr size_t kDigitsThatAlwaysFit = 18;
double convertFloatLexeme(std::string_view lexeme);

// When the digits of a decimal, read as an integer, are at most 2^53 and at most 22 of them
// follow the point, both that integer and the power of ten are exact doubles, and one
// correctly rounded division gives the correctly rounded value (Clinger's fast path).
inline constexpr uint64_t kMaxExactDigits = uint64_t(1) << 53;
inline constexpr int kMaxExactFraction = 22;
inline constexpr double kExactPowersOfTen[kMaxExactFraction + 1] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline double exactDecimal(uint64_t digits, int fractionDigits) {
  return static_cast<double>(digits) / kExactPowersOfTen[fractionDigits];
}

}  // namespace quorix
