// Shows an error message of the library the way a compiler shows one: the place, the message,
// the offending source line and a caret under the token. Kept apart from the command so the
// message format is read in exactly one place.
#pragma once

#include <string>
#include <string_view>

namespace quorix::tools {

struct DiagnosticStyle {
  bool colour = false;  // ANSI bold, red "error:", green caret
};

// `message` is an error message as quorix_parse_sql returns it for `source`, which came from
// `fileName`. A message that carries a position gives "FILE:LINE:COL: error: MESSAGE" with the
// source line and a caret line; any other gives "FILE: error: MESSAGE". Ends with a newline.
std::string formatDiagnostic(std::string_view fileName, std::string_view source,
                             std::string_view message, DiagnosticStyle style = {});

}  // namespace quorix::tools
