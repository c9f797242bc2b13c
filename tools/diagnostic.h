// Shows an error message of the library the way a compiler shows one: the place, the message,
// the offending source line and a caret under the token. Kept apart from the command so the
// message format is read in exactly one place.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorix::tools {

struct DiagnosticStyle {
  bool colour = false;  // ANSI bold, red "error:", green caret
};

// Where an error message of the library places its error in `source` (1-based line and byte
// column, and the bytes of the token there, 0 when unknown): the position the message
// carries, or, for a literal that could not be converted (whose message has no position), the
// literal it names or else the first integer literal out of range, found by scanning the text.
struct ErrorPosition {
  size_t line = 0;
  size_t column = 0;
  size_t width = 0;
};
std::optional<ErrorPosition> errorPosition(std::string_view source, std::string_view message);

// `message` is an error message as quorix_parse_sql returns it for `source`, which came from
// `fileName`. A message with a position (see errorPosition) gives "FILE:LINE:COL: error:
// MESSAGE" with the source line and a caret line; any other gives "FILE: error: MESSAGE". Ends
// with a newline.
std::string formatDiagnostic(std::string_view fileName, std::string_view source,
                             std::string_view message, DiagnosticStyle style = {});

}  // namespace quorix::tools
