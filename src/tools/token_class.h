// The classes of tokens that highlighters colour.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorix::tools {

enum class TokenClass : uint8_t {
  keyword,
  identifier,
  string,
  number,
  op,
  punctuation,
  comment,
  invalid,  // a byte that no token of the dialect starts with
};

inline constexpr std::string_view kTokenClassNames[] = {
    "keyword", "identifier", "string", "number", "operator", "punctuation", "comment", "invalid"};

// The class of a token of `kind` whose first byte is `first`.
TokenClass tokenClassOf(uint8_t kind, char first);

}  // namespace quorix::tools
