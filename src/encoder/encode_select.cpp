// SELECT: the select kind map, select items, order items and the FROM tree.
#include "common/errors.h"
#include "encoder/encoder.h"

namespace quorix {

namespace {

// nil, false or true for a flag that may be unset (-1).
void putOptionalBool(MsgPackWriter::Run& run, int8_t v) {
  if (v == -1) {
    run.raw(kNilByte);
  } else {
    run.boolean(v != 0);
  }
}

}  // namespace

std::string_view normalizedJoinKind(JoinKind kind) {
  switch (kind) {
    case jkInner:
      return "Inner";
    case jkLeft:
      return "Left";
    case jkRight:
      return "Right";
    case jkCross:
      return "Cross";
    default:
      return "Full";
  }
}

void Encoder::writeSelectKind(const SqlNode* query) {
  bool distinct = false;
  const SqlNode* selectList = nullptr;
  const SqlNode* from = nullptr;
  const SqlNode* where = nullptr;
  const SqlNode* groupBy = nullptr;
  const SqlNode* having = nullptr;
  const SqlNode* orderBy = nullptr;
  const SqlNode* limit = nullptr;
  for (const SqlNode* c = query->children().first; c != nullptr; c = c->next) {
    switch (c->kind) {
      case nkIdentifier:
        if (c->strVal() == "DISTINCT") distinct = true;
        break;
      case nkExprList:
        if (selectList == nullptr) selectList = c;
        break;
      case nkFromClause:
        from = c;
        break;
      case nkWhereClause:
        where = c;
        break;
      case nkGroupByClause:
        groupBy = c;
        break;
      case nkHavingClause:
        having = c;
        break;
      case nkOrderByClause:
        orderBy = c;
        break;
      case nkLimitClause:
        limit = c;
        break;
      default:
        break;
    }
  }
  {
    const size_t items = selectList == nullptr ? 0 : selectList->children().size;
    constexpr auto head = kSeq<fixmap(10), key::variant, packed("Select"), key::distinct>;
    w_.run(head.size + 1 + key::projection.size + kArrayHeaderRoom)
        .raw(head)
        .boolean(distinct)
        .raw(key::projection)
        .arrayHeader(items);
  }
  if (selectList != nullptr) {
    SpanScope scope(*this, selectList);
    for (const SqlNode* i = selectList->children().first; i != nullptr; i = i->next)
      writeSelectItem(i);
  }
  w_.run(key::from.size + kArrayHeaderRoom)
      .raw(key::from)
      .arrayHeader(from == nullptr ? 0 : from->children().size);
  if (from != nullptr) {
    SpanScope scope(*this, from);
    for (const SqlNode* i = from->children().first; i != nullptr; i = i->next) writeFromItem(i);
  }
  if (where == nullptr) {
    w_.writeRaw(kSeq<key::selection, kNilByte>);
  } else {
    SpanScope scope(*this, where);
    w_.writeRaw(key::selection);
    writeExpr(where->children().at(0));
  }
  if (groupBy == nullptr && having == nullptr && orderBy == nullptr && limit == nullptr) {
    // The plain query's tail, as one constant.
    w_.writeRaw(kSeq<key::group_by, kNilByte, key::having, kNilByte, key::order_by, fixarray(0),
                     key::limit, kNilByte, key::offset, kNilByte>);
    return;
  }
  w_.writeRaw(key::group_by);
  if (groupBy == nullptr) {
    w_.writeNil();
  } else {
    SpanScope scope(*this, groupBy);
    writeExprSeq(groupBy->children());
  }
  w_.writeRaw(key::having);
  if (having == nullptr) {
    w_.writeNil();
  } else {
    SpanScope scope(*this, having);
    writeExpr(having->children().at(0));
  }
  w_.writeRaw(key::order_by);
  if (orderBy == nullptr) {
    w_.writeArrayHeader(0);
  } else {
    SpanScope scope(*this, orderBy);
    const NodeList& items = orderBy->children();
    w_.writeArrayHeader(items.size);
    for (const SqlNode* i = items.first; i != nullptr; i = i->next) writeOrderByExpr(i);
  }
  const NodeList* limits = limit != nullptr ? &limit->children() : nullptr;
  SpanScope scope(*this, limit);
  w_.writeRaw(key::limit);
  writeExpr(limits != nullptr ? limits->first : nullptr);
  w_.writeRaw(key::offset);
  writeExpr(limits != nullptr && limits->size >= 2 ? limits->first->next : nullptr);
}

void Encoder::writeSelectItem(const SqlNode* item) {
  SpanScope scope(*this, item);
  if (item->kind == nkStar) {
    w_.writeRaw(kSeq<fixmap(2), key::variant, packed("Wildcard")>);
    writeSpanEntry(item);
    return;
  }
  w_.writeRaw(kSeq<fixmap(4), key::variant, packed("Expr"), key::expr>);
  if (item->kind == nkAlias) {
    writeExpr(item->aliasExpr());
    const std::string_view alias = item->aliasName();
    writeAliasAndSpan(&alias, resolved(item));
  } else {
    writeExpr(item);
    writeAliasAndSpan(nullptr, resolved(item));
  }
}

void Encoder::writeAliasAndSpan(const std::string_view* alias, const Span& span) {
  if (alias == nullptr) {
    writeRawThenSpan(kSeq<key::alias, kNilByte>, span);
  } else {
    w_.run(key::alias.size + kStrRoom + kSpanRoom).raw(key::alias).str(*alias).span(span);
  }
}

void Encoder::writeOrderByExpr(const SqlNode* item) {
  SpanScope scope(*this, item);
  w_.writeRaw(kSeq<fixmap(4), key::expr>);
  writeExpr(item->kind == nkAlias ? item->aliasExpr() : item);
  // "asc" and "nulls_first" (nil, false or true) and the span entry as one run.
  auto run = w_.run(key::asc.size + 1 + key::nulls_first.size + 1 + kSpanRoom);
  putOptionalBool(run.raw(key::asc), item->ascending);
  putOptionalBool(run.raw(key::nulls_first), item->nullsFirst);
  run.span(resolved(item));
}

void Encoder::writeFromItem(const SqlNode* item) {
  // Joins nest to the left once per join, so the spine is walked with an explicit stack, as
  // in writeExpr.
  const Span* const outer = inherited_;
  const size_t base = chain_.size();
  while (item != nullptr && item->kind == nkJoin) {
    w_.writeRaw(kSeq<fixmap(7), key::variant, packed("Join"), key::left>);
    const Span* link = &resolved(item);
    chain_.push({item, link});
    inherited_ = link;
    item = item->joinLeft();
  }
  if (item == nullptr) {
    w_.writeNil();
  } else if (item->kind == nkIdentifier) {
    constexpr auto head = kSeq<fixmap(4), key::variant, packed("Table"), key::name>;
    constexpr auto tail = kSeq<key::alias, kNilByte>;
    w_.run(head.size + kStrRoom + tail.size + kSpanRoom)
        .raw(head)
        .str(item->strVal())
        .raw(tail)
        .span(resolved(item));
  } else if (item->kind == nkAlias) {
    SpanScope scope(*this, item);
    const SqlNode* inner = item->aliasExpr();
    const std::string_view alias = item->aliasName();
    if (inner != nullptr && inner->kind == nkFromDerived) {
      SpanScope derived(*this, inner);
      w_.writeRaw(kSeq<fixmap(4), key::variant, packed("Derived"), key::subquery>);
      writeSubquery(inner->children().at(0));
      writeAliasAndSpan(&alias, resolved(item));
    } else {
      // "t AS a", the commonest FROM item of a join, as one run.
      constexpr auto head = kSeq<fixmap(4), key::variant, packed("Table"), key::name>;
      w_.run(head.size + kStrRoom + key::alias.size + kStrRoom + kSpanRoom)
          .raw(head)
          .str(firstIdent(inner))
          .raw(key::alias)
          .str(alias)
          .span(resolved(item));
    }
  } else if (item->kind == nkFromDerived) {
    SpanScope scope(*this, item);
    w_.writeRaw(kSeq<fixmap(4), key::variant, packed("Derived"), key::subquery>);
    writeSubquery(item->children().at(0));
    w_.writeRaw(kSeq<key::alias, kNilByte>);
    writeSpanEntry(item);
  } else {
    constexpr auto head = kSeq<fixmap(4), key::variant, packed("Table"), key::name>;
    constexpr auto tail = kSeq<key::alias, kNilByte>;
    w_.run(head.size + kStrRoom + tail.size + kSpanRoom)
        .raw(head)
        .str(firstIdent(item))
        .raw(tail)
        .span(resolved(item));
  }
  while (chain_.size() > base) {
    const ChainLink join = chain_.pop();
    inherited_ = join.span;
    w_.writeRaw(key::right);
    writeFromItem(join.node->joinRight());
    w_.run(key::join_type.size + kStrRoom + key::condition.size)
        .raw(key::join_type)
        .str(normalizedJoinKind(join.node->joinKind()))
        .raw(key::condition);
    writeExpr(join.node->joinCond());
    if (join.node->joinUsing().size == 0) {
      writeRawThenSpan(kSeq<key::using_, kNilByte>, *join.span);
    } else {
      w_.writeRaw(key::using_);
      writeStringSeqOpt(join.node->joinUsing());
      writeSpanEntry(*join.span);
    }
  }
  inherited_ = outer;
}

}  // namespace quorix
