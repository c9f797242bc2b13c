// The contract of quorix_parse_sql as both fuzz targets check it. A violation prints what was
// parsed and what came back, then traps, so libFuzzer records the input as a crash.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "msgpack_check.h"
#include "quorix_sql_parser.h"

namespace quorix_fuzz {

inline constexpr std::string_view kParsePrefix = "Parse error at line ";
inline constexpr std::string_view kDefectPrefix =
    "internal parser defect (this is a parser bug, not invalid SQL): ";
// firstIdent on a node kind with neither text nor children; reachable through a VECTOR column
// type whose metric parameter is a literal or an operator expression.
inline constexpr std::string_view kFieldDefect =
    "field 'children' is not accessible for type 'SqlNode' using 'kind = nk";

// The copy of one call's outcome that outlives the freed blocks.
struct Outcome {
  int status = -1;
  std::string bytes;  // the document on success, the message on failure
  DocumentCheck document;
};

inline std::string printable(std::string_view s, size_t limit = 2000) {
  std::string out;
  for (size_t i = 0; i < s.size() && i < limit; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\n' || (c >= 0x20 && c < 0x7f)) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  if (s.size() > limit) out += "... (" + std::to_string(s.size()) + " bytes)";
  return out;
}

[[noreturn]] inline void violation(std::string_view what, std::string_view sql,
                                   std::string_view detail = {}) {
  std::fprintf(stderr, "\n=== invariant violated: %.*s\n--- input (%zu bytes):\n%s\n",
               static_cast<int>(what.size()), what.data(), sql.size(), printable(sql).c_str());
  if (!detail.empty()) std::fprintf(stderr, "--- detail:\n%s\n", printable(detail, 4000).c_str());
  std::fflush(stderr);
  __builtin_trap();
}

inline bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

inline bool isDigits(std::string_view s) {
  if (s.empty() || (s[0] == '0' && s.size() > 1)) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

inline constexpr std::string_view kUnterminated[] = {": unterminated block comment",
                                                     ": unterminated string literal"};

// A block comment or string literal still open at the end of the text: the frame without a
// token, ending in one of kUnterminated.
inline bool isUnterminatedError(std::string_view m) {
  for (std::string_view tail : kUnterminated)
    if (m.size() > tail.size() && m.substr(m.size() - tail.size()) == tail &&
        m.find(" (got tk") == std::string_view::npos)
      return true;
  return false;
}

// "Parse error at line L, col C: M (got tkKind 'lexeme')", L and C positive decimals, or the
// unterminated form.
inline bool isFramedParseError(std::string_view m) {
  if (!startsWith(m, kParsePrefix)) return false;
  std::string_view rest = m.substr(kParsePrefix.size());
  size_t comma = rest.find(", col ");
  if (comma == std::string_view::npos || !isDigits(rest.substr(0, comma)) || rest[0] == '0')
    return false;
  rest = rest.substr(comma + 6);
  size_t colon = rest.find(": ");
  if (colon == std::string_view::npos || !isDigits(rest.substr(0, colon)) || rest[0] == '0')
    return false;
  rest = rest.substr(colon + 2);
  if (isUnterminatedError(m)) return true;
  return rest.find(" (got tk") != std::string_view::npos && rest.size() >= 2 &&
         rest.substr(rest.size() - 2) == "')";
}

// The frame's line and column must point at the token it names, in the text that was parsed:
// the lexeme itself, a quote for a string literal (whose lexeme lost its quotes), or the very
// end of the text for tkEof.
inline bool pointsAtReportedToken(std::string_view text, std::string_view m) {
  const size_t lineAt = kParsePrefix.size(), comma = m.find(", col ", lineAt);
  const long line = std::strtol(std::string(m.substr(lineAt, comma - lineAt)).c_str(), nullptr, 10);
  const long column = std::strtol(std::string(m.substr(comma + 6)).c_str(), nullptr, 10);
  size_t offset = 0;
  for (long l = 1; l < line; ++l) {
    offset = text.find('\n', offset);
    if (offset == std::string_view::npos) return false;
    ++offset;
  }
  const size_t lineEnd = std::min(text.find('\n', offset), text.size());
  offset += static_cast<size_t>(column - 1);
  if (offset > lineEnd) return false;
  if (isUnterminatedError(m)) {
    // The opener must stand there, and nothing after it may close it.
    const std::string_view from = text.substr(offset);
    if (m.back() == 't')  // "... block comment"
      return startsWith(from, "/*") && from.find("*/", 2) == std::string_view::npos;
    if (from.empty() || (from[0] != '\'' && from[0] != '"')) return false;
    size_t i = 1;
    while (i < from.size()) {
      if (from[i] != from[0]) {
        ++i;
      } else if (i + 1 < from.size() && from[i + 1] == from[0]) {
        i += 2;
      } else {
        return false;
      }
    }
    return true;
  }
  // The lexeme may itself contain " (got tk", so every candidate split is tried.
  for (size_t got = m.find(" (got tk"); got != std::string_view::npos;
       got = m.find(" (got tk", got + 1)) {
    const std::string_view tail = m.substr(got + 6);
    const size_t space = tail.find(" '");
    if (space == std::string_view::npos) continue;
    const std::string_view kind = tail.substr(0, space);
    const std::string_view lexeme = tail.substr(space + 2, tail.size() - space - 4);
    if (kind == "tkEof"      ? lexeme.empty() && offset == text.size()
        : kind == "tkString" ? offset < text.size() && (text[offset] == '\'' || text[offset] == '"')
                             : !lexeme.empty() && text.substr(offset, lexeme.size()) == lexeme)
      return true;
  }
  return false;
}

inline bool isValueError(std::string_view m) {
  return m == "Parsed integer outside of valid range" || startsWith(m, "invalid integer: ") ||
         startsWith(m, "invalid float: ");
}

// A literal's number text: an integer in plain decimal, or a double as the shortest digit
// string that reads back as the same value, laid out by the position P of its decimal point
// (value = 0.d1...dn x 10^P): "0.00ddd" for -6 <= P <= 0, "dd.ddd" for 0 < P < n, "ddd00.0"
// for n <= P <= 17, "d.ddde+X" otherwise.
inline bool isCanonicalNumberText(const std::string& text) {
  std::string_view s = text;
  if (!s.empty() && s[0] == '-') s.remove_prefix(1);
  auto allDigits = [](std::string_view d) {
    return !d.empty() && d.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (allDigits(s)) return s.size() == 1 || s[0] != '0';
  if (s == "inf" || text == "nan") return true;
  std::string digits;
  long point = 0;
  const size_t e = s.find('e'), dot = s.find('.');
  if (e == std::string_view::npos) {
    if (dot == std::string_view::npos) return false;
    const std::string_view whole = s.substr(0, dot), fraction = s.substr(dot + 1);
    if (!allDigits(whole) || !allDigits(fraction) || (whole.size() > 1 && whole[0] == '0'))
      return false;
    if (whole == "0") {
      if (fraction == "0") return true;
      const size_t zeros = fraction.find_first_not_of('0');
      if (zeros == std::string_view::npos) return false;
      digits = fraction.substr(zeros);
      point = -static_cast<long>(zeros);
      if (point < -6) return false;
    } else if (fraction == "0") {
      digits = whole.substr(0, whole.find_last_not_of('0') + 1);
      point = static_cast<long>(whole.size());
      if (point > 17) return false;
    } else {
      digits = std::string(whole) + std::string(fraction);
      point = static_cast<long>(whole.size());
    }
  } else {
    const std::string_view mantissa = s.substr(0, e), exponent = s.substr(e + 1);
    if (exponent.size() < 2 || (exponent[0] != '+' && exponent[0] != '-') ||
        !allDigits(exponent.substr(1)) || (exponent.size() > 2 && exponent[1] == '0'))
      return false;
    if (mantissa.size() == 2 || (mantissa.size() > 1 && mantissa[1] != '.')) return false;
    digits = std::string(mantissa.substr(0, 1)) +
             std::string(mantissa.substr(std::min<size_t>(2, mantissa.size())));
    if (!allDigits(digits) || digits[0] == '0') return false;
    point = std::strtol(std::string(exponent).c_str(), nullptr, 10) + 1;
    if (point >= -6 && point <= 17) return false;
  }
  if (digits.empty() || digits.back() == '0') return false;
  // No shorter digit string may read back as the same double.
  const double value = std::strtod(text.c_str(), nullptr);
  for (int n = 1; n < static_cast<int>(digits.size()); ++n) {
    char shorter[64];
    std::snprintf(shorter, sizeof shorter, "%.*e", n - 1, value);
    if (std::strtod(shorter, nullptr) == value) return false;
  }
  return true;
}

// One call, checked for the shape of its record; both blocks are released before returning.
inline Outcome callOnce(const char* sql, int32_t len, std::string_view text) {
  ParseResult r = quorix_parse_sql(sql, len);
  Outcome out;
  out.status = r.status;
  if (r.status == 0) {
    if (r.data == nullptr || r.data_len < 1 || r.error != nullptr || r.error_len != 0)
      violation("success record malformed", text);
    out.bytes.assign(reinterpret_cast<const char*>(r.data), static_cast<size_t>(r.data_len));
  } else if (r.status == 1) {
    if (r.data != nullptr || r.data_len != 0 || r.error == nullptr || r.error_len < 0)
      violation("error record malformed", text);
    if (r.error[r.error_len] != '\0' || std::strlen(r.error) != static_cast<size_t>(r.error_len))
      violation("error message length or terminator wrong", text, r.error);
    out.bytes.assign(r.error, static_cast<size_t>(r.error_len));
  } else {
    violation("status neither 0 nor 1", text, std::to_string(r.status));
  }
  quorix_free_buffer(r.data);
  quorix_free_buffer(r.error);
  return out;
}

// Parses twice (the outcome must not vary), validates a document, and sorts a message into
// one of the families the library may report. Defect messages are returned for the caller to
// judge; any other unknown message is a violation here.
inline Outcome parseChecked(const char* sql, int32_t len, std::string_view text) {
  Outcome first = callOnce(sql, len, text);
  Outcome second = callOnce(sql, len, text);
  if (first.status != second.status || first.bytes != second.bytes)
    violation("two parses of the same text differ", text, first.bytes + "\n---\n" + second.bytes);
  if (first.status == 0) {
    first.document =
        checkDocument(reinterpret_cast<const uint8_t*>(first.bytes.data()), first.bytes.size());
    if (!first.document.ok) violation("document rejected", text, first.document.problem);
    for (const std::string& n : first.document.numbers)
      if (!isCanonicalNumberText(n)) violation("number text not canonical", text, n);
    return first;
  }
  const std::string_view m = first.bytes;
  if (startsWith(m, kParsePrefix)) {
    if (!isFramedParseError(m)) violation("parse error outside its frame", text, m);
    if (!pointsAtReportedToken(text, m))
      violation("error position is not the named token", text, m);
  } else if (!isValueError(m) && !startsWith(m, kDefectPrefix)) {
    violation("message of no known family", text, m);
  }
  return first;
}

inline bool isDefect(const Outcome& o) {
  return o.status == 1 && startsWith(o.bytes, kDefectPrefix);
}

// The one defect that valid-looking input may reach: the metric of a VECTOR column type.
inline bool isMetricFieldDefect(const Outcome& o) {
  if (!isDefect(o)) return false;
  std::string_view rest = std::string_view(o.bytes).substr(kDefectPrefix.size());
  return startsWith(rest, kFieldDefect) && rest.back() == '\'';
}

}  // namespace quorix_fuzz
