#include "api/boundary.h"

#include <algorithm>
#include <cstdlib>

namespace quorix {

namespace {

// How much of an over-long message is kept: enough for the position and the start of the
// offending token.
constexpr size_t kTruncatedMessageBytes = 4096;

}  // namespace

std::string_view takeInput(const char* sql, int32_t len) {
  if (len <= 0) return sql == nullptr ? std::string_view() : std::string_view(sql);
  // Bounded, unlike strlen: a host buffer of exactly len bytes without a terminator is never
  // read past its end. memchr rather than strnlen, which other libraries in a host process
  // (PostgreSQL's, for one) export in slow byte-at-a-time versions that would take its place.
  size_t measured = static_cast<size_t>(len);
  if (sql == nullptr) {
    measured = 0;
  } else if (const void* nul = std::memchr(sql, 0, measured)) {
    measured = static_cast<size_t>(static_cast<const char*>(nul) - sql);
  }
  if (measured < static_cast<size_t>(len)) raiseIndexFault(measured, measured);
  return std::string_view(sql, measured);
}

char* messageBlock(std::string_view message, size_t maxBytes, int32_t& length) noexcept {
  std::string truncated;
  if (message.size() > maxBytes) {
    try {
      size_t keep = std::min(kTruncatedMessageBytes, maxBytes / 2);
      truncated.assign(message.substr(0, keep));
      truncated += "... [truncated: the message has ";
      truncated += std::to_string(message.size());
      truncated += " bytes]";
      message = truncated;
    } catch (...) {
      message = kOutOfMemory;
    }
  }
  auto* block = static_cast<char*>(std::malloc(message.size() + 1));
  if (block == nullptr) {
    length = static_cast<int32_t>(sizeof kOutOfMemory - 1);
    return const_cast<char*>(kOutOfMemory);
  }
  if (!message.empty()) std::memcpy(block, message.data(), message.size());
  block[message.size()] = '\0';
  length = static_cast<int32_t>(message.size());
  return block;
}

std::string currentFailureMessage() {
  try {
    throw;
  } catch (const ParseError& e) {
    return e.what();
  } catch (const ValueError& e) {
    return e.what();
  } catch (const InternalDefect& e) {
    return std::string(kInternalDefectPrefix) + e.what();
  } catch (const std::bad_alloc&) {
    return std::string(kInternalDefectPrefix) + "out of memory";
  } catch (const std::exception& e) {
    return std::string(kInternalDefectPrefix) + e.what();
  } catch (...) {
    return std::string(kInternalDefectPrefix) + "unknown failure";
  }
}

}  // namespace quorix
