// What every exported function does at the C boundary: take the host's text, run the call,
// and turn any failure into an error result. The parser's and the tools' results share the
// layout of ParseResult (status, a block and its length, a message and its length), so one
// set of rules serves both libraries.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "common/errors.h"

namespace quorix {

// Handed out when not even the message block can be allocated; the free functions know it.
inline constexpr char kOutOfMemory[] =
    "internal parser defect (this is a parser bug, not invalid SQL): out of memory";

// The text a host passes: NUL-terminated for len <= 0, else exactly len bytes with no NUL
// among them (raises the index fault otherwise).
std::string_view takeInput(const char* sql, int32_t len);

// A heap copy of `message` with its NUL, cut short when over `maxBytes`; kOutOfMemory when
// even that fails. Never throws.
char* messageBlock(std::string_view message, size_t maxBytes, int32_t& length) noexcept;

// The message of the failure in flight: input errors as they are, defects behind the
// internal-defect prefix. Call only inside a catch block.
std::string currentFailureMessage();

// Runs fill(result) and turns any failure into an error result; the record is zeroed first,
// padding included, and on failure zeroed again before the message is set.
template <typename Result, typename Fill>
Result guardedCall(Fill&& fill, size_t maxMessageBytes) noexcept {
  Result r;
  std::memset(&r, 0, sizeof r);
  std::string message;
  bool described = false;
  try {
    fill(r);
    return r;
  } catch (...) {
    try {
      message = currentFailureMessage();
      described = true;
    } catch (...) {
    }
  }
  std::memset(&r, 0, sizeof r);
  r.status = 1;
  r.error = messageBlock(described ? std::string_view(message) : std::string_view(kOutOfMemory),
                         maxMessageBytes, r.error_len);
  return r;
}

}  // namespace quorix
