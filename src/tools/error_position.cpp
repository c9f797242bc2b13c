// Where an error message places its error in the text. A literal that cannot be converted is
// reported without a position (the message is the library's contract and stays as it is), so
// hosts that show the place find it here, with the scanner, instead of each guessing its own way.
#include <charconv>
#include <string_view>

#include "lexer/lexer.h"
#include "tools/tools.h"

namespace quorix::tools {

namespace {

constexpr std::string_view kIntegerRange = "Parsed integer outside of valid range";
constexpr std::string_view kNamingPrefixes[] = {"invalid integer: ", "invalid float: "};

bool takePrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

bool takeNumber(std::string_view& text, uint32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data() || value == 0) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

// An integer literal's digits past what a signed 64-bit integer holds.
bool beyondInt64(std::string_view digits) {
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  constexpr std::string_view kMax = "9223372036854775807";
  return digits.size() > kMax.size() || (digits.size() == kMax.size() && digits > kMax);
}

}  // namespace

std::optional<ErrorPlace> errorPlace(std::string_view text, std::string_view message) {
  ErrorPlace place;
  std::string_view rest = message;
  if (takePrefix(rest, "Parse error at line ") && takeNumber(rest, place.line) &&
      takePrefix(rest, ", col ") && takeNumber(rest, place.column) && rest.starts_with(": ")) {
    return place;
  }
  std::string_view named;
  for (std::string_view prefix : kNamingPrefixes) {
    if (message.starts_with(prefix)) named = message.substr(prefix.size());
  }
  const bool range = message == kIntegerRange;
  if (!range && named.empty()) return std::nullopt;
  // Literals are converted in text order, so the first that fails is the one reported; the
  // elements of a vector literal are read as floating point and never are out of range.
  int brackets = 0;
  for (const ScannedToken& t : scanTokens(text)) {
    const auto kind = static_cast<TokenKind>(t.kind);
    brackets += kind == tkLBracket ? 1 : kind == tkRBracket ? -1 : 0;
    const std::string_view lexeme = text.substr(t.start, t.end - t.start);
    const bool found = range ? kind == tkInteger && brackets <= 0 && beyondInt64(lexeme)
                             : (kind == tkInteger || kind == tkFloat) && lexeme == named;
    if (found) return ErrorPlace{t.line, t.column, t.end - t.start};
  }
  return std::nullopt;
}

}  // namespace quorix::tools
