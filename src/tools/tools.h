// What people do with SQL after parsing it: format, normalize, fingerprint, split and tokens.
// Each tool is built on the same scanner and parser as the document; the C interface of
// libquorix_sql_tools (api/quorix_sql_tools.cpp) wraps these.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorix::tools {

// The text in the house style (see docs/TOOLS.md). Fails as parsing the text fails: the first
// ParseError, ValueError or InternalDefect of the text is raised unchanged.
std::string formatSql(std::string_view text, bool pretty);

// The text with every constant of a SELECT, INSERT, UPDATE or DELETE replaced by $1, $2, ...
// in text order; everything else byte for byte as written. Fails as parsing the text fails.
std::string normalizeSql(std::string_view text);

// One fingerprint per statement, in text order. Fails as parsing the text fails.
std::vector<uint64_t> fingerprintSql(std::string_view text);

// Records in one malloc'd block that grows in place where it can, so that a host can be handed
// the block itself: a token list is five times the size of its text, too much to copy again.
template <typename T>
class RecordBuffer {
 public:
  RecordBuffer() = default;
  RecordBuffer(RecordBuffer&& other) noexcept
      : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  RecordBuffer& operator=(RecordBuffer&&) = delete;
  ~RecordBuffer() { std::free(data_); }

  void push(const T& v) {
    if (size_ == capacity_) grow();
    data_[size_++] = v;
  }
  void reserve(size_t n) {
    if (n > capacity_) resize(n);
  }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  // The block, now the caller's to free (null when empty).
  T* release() {
    T* out = size_ == 0 ? nullptr : data_;
    if (out == nullptr) std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
    return out;
  }

 private:
  void grow() { resize(capacity_ < 64 ? 64 : capacity_ * 2); }
  void resize(size_t n) {
    void* p = std::realloc(data_, n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(p);
    capacity_ = n;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// One token of the text as the scanner sees it, comments included. Offsets are bytes, `end`
// one past the last byte; line and column are 1-based (columns count bytes). Laid out as the
// C interface's QuorixToken, so that a list of them is handed to a host as it is.
struct ScannedToken {
  uint32_t start;
  uint32_t end;
  uint32_t line;
  uint32_t column;
  uint8_t kind;  // a TokenKind, tkComment included
  uint8_t tokenClass;
  bool unterminated;  // a comment or string literal still open at the end of the text
  uint8_t reserved = 0;
};

// Every token of the text, the end token excluded. Never fails on any text.
RecordBuffer<ScannedToken> scanTokens(std::string_view text);

// Where one statement stands: from its first token to one past its last (comments between
// them included, the ';' excluded). Laid out as the C interface's QuorixStatement.
struct StatementRange {
  uint32_t start;
  uint32_t end;
  uint32_t startLine;
  uint32_t startColumn;
  uint32_t endLine;
  uint32_t endColumn;  // of the statement's last byte
};

// The statements of the text, found by the scanner alone, so that text that does not parse
// splits too. Never fails on any text.
RecordBuffer<StatementRange> splitStatements(std::string_view text);

// Where an error message of the libraries places its error in `text`: the position a parse
// error carries, or, for a literal that could not be converted (whose message names no
// position), that literal, found with the scanner. Columns count bytes; `width` is the
// literal's length, 0 for a parse error's position. Throws only bad_alloc.
struct ErrorPlace {
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t width = 0;
};
std::optional<ErrorPlace> errorPlace(std::string_view text, std::string_view message);

}  // namespace quorix::tools
