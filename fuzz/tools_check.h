// The tools' contract as both fuzz targets check it, on every input after its parse:
//   - tokens and split read any text without failing; between tokens there are only blanks;
//   - on text that parses, split finds the parser's statements, fingerprint one per statement,
//     and normalize and format succeed;
//   - formatted text parses to the same document apart from spans, and formatting it again
//     changes nothing (both layouts);
//   - on text that does not parse, format, normalize and fingerprint fail with the parse's
//     message.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "invariants.h"
#include "lexer/lexer.h"
#include "tools/tools.h"

namespace quorix_fuzz {

// The message a tool failed with, or nothing when it succeeded.
template <typename Tool>
std::string failureOf(Tool&& tool) {
  try {
    tool();
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

inline void checkFormatted(std::string_view text, const Outcome& parsed, bool pretty) {
  const std::string formatted = quorix::tools::formatSql(text, pretty);
  const Outcome again = callOnce(formatted.c_str(), 0, formatted);
  if (again.status != 0)
    violation("formatted text does not parse", text, formatted + "\n" + again.bytes);
  if (withoutSpans(again.bytes) != withoutSpans(parsed.bytes))
    violation("formatted text parses to another document", text, formatted);
  if (quorix::tools::formatSql(formatted, pretty) != formatted)
    violation("formatting is not idempotent", text, formatted);
}

inline void checkTools(std::string_view text, const Outcome& parsed) {
  size_t at = 0;
  for (const quorix::tools::ScannedToken& t : quorix::tools::scanTokens(text)) {
    for (; at < t.start; ++at)
      if (std::string_view(" \t\r\n").find(text[at]) == std::string_view::npos)
        violation("a byte outside every token", text, std::to_string(at));
    if (t.end <= t.start || t.end > text.size()) violation("a token out of place", text);
    at = t.end;
  }
  const size_t statements = quorix::tools::splitStatements(text).size();
  if (parsed.status == 0) {
    if (statements != parsed.document.statements.size())
      violation("split does not find the parser's statements", text, std::to_string(statements));
    if (quorix::tools::fingerprintSql(text).size() != statements)
      violation("not one fingerprint per statement", text);
    quorix::tools::normalizeSql(text);
    checkFormatted(text, parsed, false);
    checkFormatted(text, parsed, true);
  } else if (startsWith(parsed.bytes, kParsePrefix) || isValueError(parsed.bytes)) {
    auto same = [&](const std::string& m, const char* tool) {
      if (m != parsed.bytes)
        violation("a tool fails otherwise than the parse", text, std::string(tool) + ": " + m);
    };
    same(failureOf([&] { quorix::tools::formatSql(text, false); }), "format");
    same(failureOf([&] { quorix::tools::normalizeSql(text); }), "normalize");
    same(failureOf([&] { quorix::tools::fingerprintSql(text); }), "fingerprint");
  }
}

}  // namespace quorix_fuzz
