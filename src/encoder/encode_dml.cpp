// INSERT, UPDATE and DELETE. Their kind maps end with a "span" of their own.
#include "common/errors.h"
#include "encoder/encoder.h"

namespace quorix {

const SqlNode* Encoder::writeInsertHead(const SqlNode* stmt, size_t& rows) {
  const NodeList& parts = stmt->children();
  std::string_view table = firstIdent(parts.at(0));
  const SqlNode* second = parts.first->next;
  const bool hasColumns = second != nullptr && second->kind == nkColumnList;
  constexpr auto head = kSeq<fixmap(5), key::variant, packed("Insert"), key::table>;
  if (hasColumns) {
    const NodeList& columns = second->children();
    w_.writeRawThenString(head, table);
    w_.writeRawThenArrayHeader(key::columns, columns.size);
    for (const SqlNode* c = columns.first; c != nullptr; c = c->next) w_.writeString(firstIdent(c));
  } else {
    w_.writeRawStringRaw(head, table, kSeq<key::columns, kNilByte>);
  }
  w_.writeRaw(key::values);
  rows = parts.size - (hasColumns ? 2 : 1);
  return hasColumns ? second->next : second;
}

void Encoder::writeInsertRow(const SqlNode* row) {
  SpanScope scope(*this, row);
  writeExprSeq(row->children());
}

void Encoder::writeInsertKind(const SqlNode* stmt) {
  size_t rows;
  const SqlNode* firstRow = writeInsertHead(stmt, rows);
  w_.writeArrayHeader(rows);
  for (const SqlNode* row = firstRow; row != nullptr; row = row->next) writeInsertRow(row);
  writeSpanEntry(stmt);
}

void Encoder::beginStreamedInsert(const SqlNode* stmt) {
  // What writeStatement and writeInsertKind write before the rows, with the rows' header kept
  // open: it is as long as the count so far needs, and widened when the count outgrows it.
  streamed_ = StreamedInsert{};
  streamed_.outer = inherited_;
  inherited_ = &resolved(stmt);
  w_.writeRaw(kSeq<fixmap(2), key::kind>);
  const SqlNode* firstRow = writeInsertHead(stmt, streamed_.rows);
  streamed_.headerBytes = MsgPackWriter::arrayHeaderBytes(streamed_.rows);
  streamed_.headerAt = w_.reserveArrayHeader(streamed_.headerBytes);
  for (const SqlNode* row = firstRow; row != nullptr; row = row->next) writeInsertRow(row);
}

void Encoder::writeStreamedRow(const SqlNode* row) {
  const size_t needed = MsgPackWriter::arrayHeaderBytes(++streamed_.rows);
  if (needed != streamed_.headerBytes) {
    w_.widenArrayHeader(streamed_.headerAt, streamed_.headerBytes, needed);
    streamed_.headerBytes = needed;
  }
  writeInsertRow(row);
}

void Encoder::finishStreamedInsert(const SqlNode* stmt) {
  w_.writeArrayHeaderAt(streamed_.headerAt, streamed_.headerBytes, streamed_.rows);
  writeSpanEntry(stmt);  // the INSERT map's
  writeSpanEntry(stmt);  // the statement map's
  inherited_ = streamed_.outer;
}

void Encoder::writeUpdateKind(const SqlNode* stmt) {
  const NodeList& parts = stmt->children();
  std::string_view table = firstIdent(parts.at(0));
  const SqlNode* assignmentList = parts.at(1);
  const NodeList& assignments = assignmentList->children();
  w_.writeRawThenString(kSeq<fixmap(5), key::variant, packed("Update"), key::table>, table);
  w_.writeRawThenArrayHeader(key::assignments, assignments.size);
  {
    SpanScope list(*this, assignmentList);
    for (const SqlNode* a = assignments.first; a != nullptr; a = a->next) {
      SpanScope scope(*this, a);
      w_.writeRawStringRaw(kSeq<fixmap(3), key::column>, firstIdent(a->binLeft()), key::value);
      writeExpr(a->binRight());
      writeSpanEntry(a);
    }
  }
  w_.writeRaw(key::selection);
  if (parts.size >= 3) {
    SpanScope scope(*this, parts.at(2));
    writeExpr(parts.at(2)->children().at(0));
  } else {
    w_.writeNil();
  }
  writeSpanEntry(stmt);
}

void Encoder::writeDeleteKind(const SqlNode* stmt) {
  const NodeList& parts = stmt->children();
  std::string_view table = firstIdent(parts.at(0));
  w_.writeRawStringRaw(kSeq<fixmap(4), key::variant, packed("Delete"), key::table>, table,
                       key::selection);
  if (parts.size >= 2) {
    SpanScope scope(*this, parts.at(1));
    writeExpr(parts.at(1)->children().at(0));
  } else {
    w_.writeNil();
  }
  writeSpanEntry(stmt);
}

}  // namespace quorix
