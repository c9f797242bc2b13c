// The exported C functions. Every failure of a call is caught here and turned into an error
// result: nothing is thrown, printed or aborted across the boundary.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "api/library.h"
#include "common/arena.h"
#include "common/errors.h"
#include "encoder/encoder.h"
#include "parser/parser.h"

namespace quorix {

namespace {

constexpr char kVersion[] = "0.1.0";

// Handed out when not even the message block can be allocated; quorix_free_buffer knows it.
constexpr char kOutOfMemory[] =
    "internal parser defect (this is a parser bug, not invalid SQL): out of memory";

// How much of an over-long message is kept: enough for the position and the start of the
// offending token.
constexpr size_t kTruncatedMessageBytes = 4096;

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

void setError(ParseResult& r, std::string_view message, const Limits& limits) noexcept {
  std::memset(&r, 0, sizeof r);
  r.status = 1;
  std::string truncated;
  if (message.size() > limits.maxMessageBytes) {
    try {
      size_t keep = std::min(kTruncatedMessageBytes, limits.maxMessageBytes / 2);
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
    r.error = const_cast<char*>(kOutOfMemory);
    r.error_len = static_cast<int32_t>(sizeof kOutOfMemory - 1);
    return;
  }
  if (!message.empty()) std::memcpy(block, message.data(), message.size());
  block[message.size()] = '\0';
  r.error = block;
  r.error_len = static_cast<int32_t>(message.size());
}

void setDefect(ParseResult& r, const char* what, const Limits& limits) noexcept {
  try {
    std::string m = kInternalDefectPrefix;
    m += what;
    setError(r, m, limits);
  } catch (...) {
    setError(r, kOutOfMemory, limits);
  }
}

}  // namespace

ParseResult parseWithLimits(const char* sql, int32_t len, const Limits& limits) noexcept {
  ParseResult r;
  std::memset(&r, 0, sizeof r);
  try {
    std::string_view text = takeInput(sql, len);
    MsgPackWriter writer(0, limits.maxDocumentBytes);
    astToMsgPack(text, writer);
    int32_t size = static_cast<int32_t>(writer.size());
    uint8_t* block = writer.release();
    r.status = 0;
    r.data = block;
    r.data_len = size;
    return r;
  } catch (const ParseError& e) {
    setError(r, e.what(), limits);
  } catch (const ValueError& e) {
    setError(r, e.what(), limits);
  } catch (const InternalDefect& e) {
    setDefect(r, e.what(), limits);
  } catch (const std::bad_alloc&) {
    setDefect(r, "out of memory", limits);
  } catch (const std::exception& e) {
    setDefect(r, e.what(), limits);
  } catch (...) {
    setDefect(r, "unknown failure", limits);
  }
  return r;
}

}  // namespace quorix

extern "C" {

QUORIX_API void quorix_parser_init(void) noexcept {
  // All tables are compile-time constants, so there is nothing to set up; no signal handlers
  // are installed (the host owns its signals). Kept so that hosts may call it at any time.
}

QUORIX_API const char* quorix_parser_version(void) noexcept { return quorix::kVersion; }

QUORIX_API ParseResult quorix_parse_sql(const char* sql, int32_t len) noexcept {
  return quorix::parseWithLimits(sql, len, quorix::Limits{});
}

QUORIX_API void quorix_free_buffer(void* buffer) noexcept {
  if (buffer == quorix::kOutOfMemory) return;
  std::free(buffer);
}

}  // extern "C"

namespace {
__attribute__((constructor)) void quorixOnLoad() { quorix_parser_init(); }
}  // namespace
