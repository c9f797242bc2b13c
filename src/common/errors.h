// The three failure families of the library. Each carries its final message; the exported
// functions catch them in one place and turn them into error results.
#pragma once

#include <stdexcept>
#include <string>

namespace quorix {

// Invalid SQL, in the "Parse error at line L, col C: ..." frame (or the encoder's one
// statement-dispatch message). Reaches the host unchanged.
class ParseError : public std::runtime_error {
 public:
  explicit ParseError(const std::string& message) : std::runtime_error(message) {}
};

// A numeric literal that cannot be converted. Reaches the host unchanged.
class ValueError : public std::runtime_error {
 public:
  explicit ValueError(const std::string& message) : std::runtime_error(message) {}
};

// A bug in this library (or a tree that did not come from the parser). Reaches the host
// behind the internal-defect prefix.
class InternalDefect : public std::logic_error {
 public:
  explicit InternalDefect(const std::string& message) : std::logic_error(message) {}
};

inline constexpr const char kInternalDefectPrefix[] =
    "internal parser defect (this is a parser bug, not invalid SQL): ";

// The index fault of a bounds-checked read at position `index` of a sequence of `length`.
[[noreturn]] void raiseIndexFault(size_t index, size_t length);

}  // namespace quorix
