#include "diagnostic.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "quorix_sql_tools.h"

namespace quorix::tools {
namespace {

constexpr std::string_view kBold = "\033[1m";
constexpr std::string_view kRed = "\033[1;31m";
constexpr std::string_view kGreen = "\033[1;32m";
constexpr std::string_view kReset = "\033[0m";

// "Parse error at line L, col C: WHAT (got KIND 'TEXT')", taken apart.
struct Located {
  size_t line = 0;
  size_t column = 0;
  std::string_view what;  // everything after the position, "(got ...)" included
  std::string_view got;   // TEXT, empty when the message names no token
};

bool takePrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

bool takeNumber(std::string_view& text, size_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data() || value == 0) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

std::optional<Located> locate(std::string_view message) {
  Located at;
  std::string_view rest = message;
  if (!takePrefix(rest, "Parse error at line ") || !takeNumber(rest, at.line) ||
      !takePrefix(rest, ", col ") || !takeNumber(rest, at.column) || !takePrefix(rest, ": ")) {
    return std::nullopt;
  }
  at.what = rest;
  // The description before "(got" is the library's own wording; the token text after it may
  // hold anything, quotes and parentheses included, so it is delimited from both ends.
  if (const size_t got = rest.find(" (got ");
      got != std::string_view::npos && rest.ends_with("')")) {
    const std::string_view tail = rest.substr(got, rest.size() - 2 - got);
    if (const size_t quote = tail.find('\''); quote != std::string_view::npos) {
      at.got = tail.substr(quote + 1);
    }
  }
  return at;
}

std::optional<std::string_view> sourceLine(std::string_view source, size_t line) {
  size_t start = 0;
  for (size_t n = 1; n < line; ++n) {
    start = source.find('\n', start);
    if (start == std::string_view::npos) return std::nullopt;
    ++start;
  }
  std::string_view text = source.substr(start, source.find('\n', start) - start);
  if (text.ends_with('\r')) text.remove_suffix(1);  // a CRLF file would otherwise blank the line
  return text;
}

// Bytes the token at `from` takes up on `line`, or 0 when that is not known. String tokens
// carry their decoded value, not their source text, so they are measured on the line itself.
size_t tokenWidth(std::string_view line, size_t from, std::string_view got) {
  if (from >= line.size()) return 0;
  const char quote = line[from];
  if (quote == '\'' || quote == '"') {
    size_t i = from + 1;
    while (i < line.size()) {
      if (line[i++] != quote) continue;
      if (i == line.size() || line[i] != quote) break;
      ++i;  // a doubled quote stands for one quote inside the literal
    }
    return i - from;
  }
  const std::string_view rest = line.substr(from);
  if (!got.empty() && rest.starts_with(got)) return got.size();
  return 0;
}

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Positions are byte columns, but a terminal gives a multi-byte character one cell: one blank
// per character (a tab stays a tab) keeps the caret under the token.
std::string caretIndent(std::string_view line, size_t column) {
  std::string out;
  for (size_t i = 0; i + 1 < column; ++i) {
    if (i >= line.size()) {
      out += ' ';
    } else if (!isContinuationByte(line[i])) {
      out += line[i] == '\t' ? '\t' : ' ';
    }
  }
  return out;
}

std::string caretMarker(std::string_view line, size_t column, size_t width) {
  std::string out = "^";
  for (size_t i = column; i + 1 < column + width; ++i) {
    if (!isContinuationByte(line[i])) out += '~';
  }
  return out;
}

}  // namespace

std::optional<ErrorPosition> errorPosition(std::string_view source, std::string_view message) {
  if (const std::optional<Located> at = locate(message)) {
    ErrorPosition position{at->line, at->column, 0};
    if (const std::optional<std::string_view> line = sourceLine(source, at->line)) {
      position.width = tokenWidth(*line, at->column - 1, at->got);
    }
    return position;
  }
  QuorixErrorPosition literal;
  if (quorix_sql_error_position(source.data(), static_cast<int32_t>(source.size()), message.data(),
                                static_cast<int32_t>(message.size()), &literal) == 0) {
    return std::nullopt;
  }
  return ErrorPosition{literal.line, literal.column, literal.width};
}

std::string formatDiagnostic(std::string_view fileName, std::string_view source,
                             std::string_view message, DiagnosticStyle style) {
  const auto paint = [&](std::string_view code, std::string_view text) {
    return style.colour ? std::string(code).append(text).append(kReset) : std::string(text);
  };
  const std::optional<Located> located = locate(message);
  const std::optional<ErrorPosition> at = errorPosition(source, message);
  std::string out(fileName);
  if (at) out += ':' + std::to_string(at->line) + ':' + std::to_string(at->column);
  out = paint(kBold, out + ':') + ' ' + paint(kRed, "error:") + ' ';
  out += located ? located->what : message;
  out += '\n';
  if (!at) return out;
  const std::optional<std::string_view> line = sourceLine(source, at->line);
  if (!line) return out;
  out.append(*line) += '\n';
  out += caretIndent(*line, at->column) + paint(kGreen, caretMarker(*line, at->column, at->width));
  return out + '\n';
}

}  // namespace quorix::tools
