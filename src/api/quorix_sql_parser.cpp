// The exported C functions. Every failure of a call is caught here and turned into an error
// result: nothing is thrown, printed or aborted across the boundary.
#include <cstdlib>
#include <string_view>

#include "api/boundary.h"
#include "api/library.h"
#include "encoder/encoder.h"
#include "encoder/kept_block.h"

namespace quorix {

namespace {

constexpr char kVersion[] = "0.1.0";

}  // namespace

ParseResult parseWithLimits(const char* sql, int32_t len, const Limits& limits) noexcept {
  const ParseResult result = guardedCall<ParseResult>(
      [&](ParseResult& r) {
        std::string_view text = takeInput(sql, len);
        MsgPackWriter writer(0, limits.maxDocumentBytes);
        astToMsgPack(text, writer);
        r.data_len = static_cast<int32_t>(writer.size());
        r.data = writer.release();
      },
      limits.maxMessageBytes);
  noteCallEnd();
  return result;
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
  // A large document's block is kept for this thread's next call instead (see kept_block.h).
  quorix::keepOrFree(buffer);
}

}  // extern "C"

namespace {
__attribute__((constructor)) void quorixOnLoad() { quorix_parser_init(); }
}  // namespace
