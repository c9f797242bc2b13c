// A C++ host: parses the SQL given on the command line through the C interface and reports how
// many statements the document holds, or the error message.
//
//   $ cmake_host "SELECT 1; SELECT 2"
//   quorix_sql_parser 0.1.0: 2 statements in 647 bytes
//
// Exit status: 0 parsed, 1 the SQL was rejected, 2 usage error or an unreadable document.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>

#include "quorix_sql_parser.h"

namespace {

// Every block of a ParseResult goes back through quorix_free_buffer, never through free or
// delete; owning it this way releases it on every path out of main.
struct BufferDeleter {
  void operator()(void* block) const noexcept { quorix_free_buffer(block); }
};
using Buffer = std::unique_ptr<void, BufferDeleter>;

// The document is one MessagePack array; its header alone gives the statement count, so this
// host needs no MessagePack library.
std::optional<std::uint32_t> statement_count(std::span<const std::uint8_t> doc) {
  if (doc.empty()) {
    return std::nullopt;
  }
  const std::uint8_t tag = doc[0];
  if ((tag & 0xf0U) == 0x90U) {  // fixarray
    return tag & 0x0fU;
  }
  std::size_t width = tag == 0xdcU ? 2 : tag == 0xddU ? 4 : 0;  // array 16, array 32
  if (width == 0 || doc.size() < 1 + width) {
    return std::nullopt;
  }
  std::uint32_t count = 0;
  for (std::size_t i = 1; i <= width; ++i) {
    count = (count << 8U) | doc[i];
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s 'SQL'\n", argv[0]);
    return 2;
  }
  const ParseResult result = quorix_parse_sql(argv[1], 0);
  const Buffer data(result.data);
  const Buffer error(result.error);
  if (result.status != 0) {
    std::fprintf(stderr, "%s\n", result.error);
    return 1;
  }
  const auto count =
      statement_count({result.data, static_cast<std::size_t>(result.data_len)});
  if (!count) {
    std::fprintf(stderr, "cmake_host: the document is not a MessagePack array\n");
    return 2;
  }
  std::printf("quorix_sql_parser %s: %u statement%s in %d bytes\n", quorix_parser_version(),
              *count, *count == 1 ? "" : "s", static_cast<int>(result.data_len));
  return 0;
}
