// Numeric literal conversion: exact fast paths for the common short forms, the C++ library's
// correctly rounded conversions for the rest.
#include "common/numbers.h"

#include <charconv>
#include <cmath>
#include <string>

#include "common/errors.h"

namespace quorix {

int64_t convertIntegerLexeme(std::string_view lexeme) {
  // The common case needs no general conversion.
  if (!lexeme.empty() && lexeme.size() <= kDigitsThatAlwaysFit) {
    uint64_t v = 0;
    bool digits = true;
    for (char c : lexeme) {
      unsigned d = static_cast<unsigned>(c - '0');
      digits &= d < 10;
      v = v * 10 + d;
    }
    if (digits) return static_cast<int64_t>(v);
  }
  int64_t value = 0;
  const char* end = lexeme.data() + lexeme.size();
  auto [ptr, ec] = std::from_chars(lexeme.data(), end, value);
  if (ec == std::errc::result_out_of_range)
    throw ValueError("Parsed integer outside of valid range");
  if (ec != std::errc() || ptr != end) throw ValueError("invalid integer: " + std::string(lexeme));
  return value;
}

double convertFloatLexeme(std::string_view lexeme) {
  // Most literals have few enough digits for the exact path.
  if (!lexeme.empty() && lexeme.size() <= 19) {
    uint64_t m = 0;
    int fraction = -1;  // digits after the point; -1 before it
    bool ok = true;
    for (char c : lexeme) {
      if (c == '.') {
        ok &= fraction < 0;
        fraction = 0;
        continue;
      }
      unsigned d = static_cast<unsigned>(c - '0');
      ok &= d < 10;
      m = m * 10 + d;
      if (fraction >= 0) ++fraction;
    }
    if (ok && fraction != 0 && m <= kMaxExactDigits)
      return exactDecimal(m, fraction < 0 ? 0 : fraction);
  }
  double value = 0;
  const char* end = lexeme.data() + lexeme.size();
  auto [ptr, ec] = std::from_chars(lexeme.data(), end, value, std::chars_format::fixed);
  if (ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range))
    throw ValueError("invalid float: " + std::string(lexeme));
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value untouched here; read it as strtod would: beyond the range is
    // infinity, below it is zero. Only a literal with a non-zero digit before the point can be
    // too large.
    bool large = false;
    for (char c : lexeme) {
      if (c == '.') break;
      if (c != '0') large = true;
    }
    value = large ? HUGE_VAL : 0.0;
  }
  return value;
}

}  // namespace quorix
