// The document frame: the statement array, statement maps, spans and the shared helpers.
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>

#include "common/errors.h"
#include "encoder/encoder.h"
#include "parser/parser.h"

namespace quorix {

namespace {

// The writer's expected final size, projected from the bytes written per input byte so far, so
// that the buffer grows straight to about the document's size.
void projectTotal(MsgPackWriter& writer, size_t consumed, size_t textSize) {
  if (consumed != 0 && consumed < textSize)
    writer.expectTotal(writer.size() + writer.size() * (textSize - consumed) / consumed);
}

// Writes a long INSERT's rows as the parser hands them over (see RowSink), so that its nodes
// never pile up. A failure is kept, not thrown, like a whole statement's (see astToMsgPack).
class RowStreamer final : public RowSink {
 public:
  RowStreamer(Encoder& enc, MsgPackWriter& writer, const Arena& arena, size_t textSize,
              std::exception_ptr& failure)
      : enc_(enc), writer_(writer), arena_(arena), textSize_(textSize), failure_(failure) {}

  void beginRows(const SqlNode* insert) override {
    open_ = insert;
    rows_ = 0;
    // As for a first statement: until a projection is possible, expect about the tree's size.
    if (writer_.size() <= 1) writer_.expectTotal(writer_.size() + arena_.bytesInUse());
    guarded([&] { enc_.beginStreamedInsert(insert); });
  }

  void row(const SqlNode* row, size_t consumedBytes) override {
    guarded([&] { enc_.writeStreamedRow(row); });
    if (++rows_ % 64 == 0) projectTotal(writer_, consumedBytes, textSize_);
  }

  // Closes the statement if it is the one being streamed; false for any other.
  bool finish(const SqlNode* stmt) {
    if (stmt != open_) return false;
    open_ = nullptr;
    guarded([&] { enc_.finishStreamedInsert(stmt); });
    return true;
  }

 private:
  template <typename Write>
  void guarded(Write&& write) {
    if (failure_) return;
    try {
      write();
    } catch (...) {
      failure_ = std::current_exception();
    }
  }

  Encoder& enc_;
  MsgPackWriter& writer_;
  const Arena& arena_;
  size_t textSize_;
  std::exception_ptr& failure_;
  const SqlNode* open_ = nullptr;
  size_t rows_ = 0;
};

}  // namespace

void astToMsgPack(std::string_view text, MsgPackWriter& writer) {
  // Each statement is encoded as soon as it is parsed and its nodes are then released: the
  // tree of one statement stays in the cache and memory holds one statement's nodes at a time.
  // A long INSERT goes further: its rows are written as they are parsed, each row's nodes
  // released before the next (RowStreamer).
  // The count of the statement array is known only at the end, so its header is filled in
  // last, into bytes kept in front: one byte, which is all that up to 15 statements need, and
  // three from the 16th statement on. The host frees the document from its first byte, so a
  // header shorter than the bytes kept would cost a move of the whole document at the end;
  // widening early moves 16 statements at most.
  writer.reserveFront(1);
  Encoder enc(writer);
  // A failure while encoding must not hide a parse error further on, which is what a
  // parse-then-encode order would report; so it waits until the whole text has parsed.
  std::exception_ptr encodeFailure;
  Arena arena(text.size() < (size_t(64) << 10) ? text.size() : (size_t(64) << 10));
  RowStreamer rows(enc, writer, arena, text.size(), encodeFailure);
  size_t seen = 0;
  auto onStatement = [&](const SqlNode* stmt, const Parser& parser) {
    if (rows.finish(stmt)) {
      // Written while it was parsed.
    } else if (!encodeFailure) {
      // Until the bytes per input byte are known, expect the first statement's document to be
      // about the size of its tree (a 120-byte node comes out as 40 to 110 bytes), so that one
      // large statement does not regrow the buffer a dozen times.
      if (seen == 0) writer.expectTotal(writer.size() + arena.bytesInUse());
      try {
        enc.writeStatement(stmt);
      } catch (...) {
        encodeFailure = std::current_exception();
      }
    }
    if (encodeFailure) return;
    // Never while a statement is streamed: the kept header's place must not move.
    if (++seen == 16) writer.widenFront(3);
    projectTotal(writer, parser.consumedBytes(), text.size());
  };
  size_t count = parseSqlStatements(text, arena, onStatement, &rows);
  if (encodeFailure) std::rethrow_exception(encodeFailure);
  writer.writeFrontArrayHeader(count);
  writer.checkLimit();
}

void Encoder::writeStatement(const SqlNode* stmt) {
  SpanScope scope(*this, stmt);
  [[maybe_unused]] const size_t at = w_.mark();
  w_.writeRaw(kSeq<fixmap(2), key::kind>);
  writeStatementKind(stmt);
  writeSpanEntry(stmt);
#ifndef NDEBUG
  w_.checkWellFormed(at);
#endif
}

void Encoder::writeStatementKind(const SqlNode* stmt) {
  switch (stmt->kind) {
    case nkSelect:
      return writeSelectKind(stmt);
    case nkInsert:
      return writeInsertKind(stmt);
    case nkUpdate:
      return writeUpdateKind(stmt);
    case nkDelete:
      return writeDeleteKind(stmt);
    case nkCreateTable:
      return writeCreateTableKind(stmt);
    case nkDropTable:
      return writeDropTableKind(stmt);
    case nkCreateIndex:
      return writeCreateIndexKind(stmt);
    case nkDropIndex:
      return writeDropIndexKind(stmt);
    default:
      throw ParseError("unsupported statement node for MessagePack: " +
                       std::string(nodeKindName(stmt->kind)));
  }
}

void Encoder::writeStringSeqOpt(const NameList& names) {
  if (names.size == 0) {
    w_.writeNil();
    return;
  }
  w_.writeArrayHeader(names.size);
  for (const NameLink* n = names.first; n != nullptr; n = n->next) w_.writeString(n->name);
}

std::string_view firstIdent(const SqlNode* node) {
  // A loop rather than recursion: the walk only ever follows first children.
  while (node != nullptr) {
    if (node->kind == nkIdentifier || node->kind == nkStringLit) return node->strVal();
    // Its first element is a number, which has no children either: name that, as a walk
    // through element nodes would.
    if (node->kind == nkVectorLiteral) raiseFieldAccess("children", nkFloatLit);
    node = node->children().first;
  }
  return {};
}

bool decimalLexemeIsItsText(std::string_view lexeme) {
  // formatFloatText writes the shortest digits that read back as the value, in positional
  // form from 1e-7 on. A decimal of at most 15 significant digits reads back from its double
  // (15 is DBL_DIG), and no other digit string of that length or shorter does; so its own
  // digits are the shortest, and its text is its lexeme, when the lexeme has no leading zero
  // before the point (other than a lone one), no trailing zero after it, and under a lone
  // zero at most six zeros before the first significant digit.
  const size_t dot = lexeme.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot + 1 >= lexeme.size()) return false;
  if (lexeme.back() == '0') return false;
  size_t significant;
  if (lexeme[0] == '0') {
    if (dot != 1) return false;
    const size_t first = lexeme.find_first_not_of('0', 2);
    if (first - 2 > 6) return false;
    significant = lexeme.size() - first;
  } else {
    significant = lexeme.size() - 1;
  }
  return significant <= 15;
}

size_t formatFloatText(double value, char* out) {
  char* p = out;
  if (std::signbit(value)) *p++ = '-';
  double mag = std::fabs(value);
  if (std::isnan(value)) {
    std::memcpy(out, "nan", 3);  // the sign of a NaN is not part of its text
    return 3;
  }
  if (std::isinf(mag)) {
    std::memcpy(p, "inf", 3);
    return static_cast<size_t>(p + 3 - out);
  }
  if (mag == 0.0) {
    std::memcpy(p, "0.0", 3);
    return static_cast<size_t>(p + 3 - out);
  }
  char sci[32];
  auto res = std::to_chars(sci, sci + sizeof sci, mag, std::chars_format::scientific);
  // sci is "d[.ddd]e[+-]xx": collect the digits and the exponent.
  char digits[24];
  size_t n = 0;
  const char* s = sci;
  while (*s != 'e') {
    if (*s != '.') digits[n++] = *s;
    ++s;
  }
  int exp10 = 0;
  std::from_chars(s + (s[1] == '+' ? 2 : 1), res.ptr, exp10);
  while (n > 1 && digits[n - 1] == '0') --n;
  const int P = exp10 + 1;  // value = 0.d1...dn * 10^P
  const int len = static_cast<int>(n);
  if (P >= -6 && P <= 0) {
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < -P; ++i) *p++ = '0';
    std::memcpy(p, digits, n);
    p += n;
  } else if (P > 0 && P < len) {
    std::memcpy(p, digits, static_cast<size_t>(P));
    p += P;
    *p++ = '.';
    std::memcpy(p, digits + P, n - static_cast<size_t>(P));
    p += n - static_cast<size_t>(P);
  } else if (P >= len && P <= 17) {
    std::memcpy(p, digits, n);
    p += n;
    for (int i = 0; i < P - len; ++i) *p++ = '0';
    *p++ = '.';
    *p++ = '0';
  } else {
    *p++ = digits[0];
    if (n > 1) {
      *p++ = '.';
      std::memcpy(p, digits + 1, n - 1);
      p += n - 1;
    }
    *p++ = 'e';
    int e = P - 1;
    *p++ = e < 0 ? '-' : '+';
    p = std::to_chars(p, p + 8, e < 0 ? -e : e).ptr;
  }
  return static_cast<size_t>(p - out);
}

}  // namespace quorix
