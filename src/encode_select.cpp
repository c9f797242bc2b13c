// SELECT: the select kind map, select items, order items and the FROM tree.
#include "encoder.h"
#include "errors.h"

namespace quorix {

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
  w_.writeMapHeader(10);
  w_.writeRaw(key::variant);
  w_.writeRaw(packed("Select"));
  w_.writeRaw(key::distinct);
  w_.writeBool(distinct);
  w_.writeRaw(key::projection);
  if (selectList == nullptr) {
    w_.writeArrayHeader(0);
  } else {
    const NodeList& items = selectList->children();
    w_.writeArrayHeader(items.size);
    for (const SqlNode* i = items.first; i != nullptr; i = i->next) writeSelectItem(i);
  }
  w_.writeRaw(key::from);
  if (from == nullptr) {
    w_.writeArrayHeader(0);
  } else {
    const NodeList& items = from->children();
    w_.writeArrayHeader(items.size);
    for (const SqlNode* i = items.first; i != nullptr; i = i->next) writeFromItem(i);
  }
  w_.writeRaw(key::selection);
  if (where == nullptr) {
    w_.writeNil();
  } else {
    writeExpr(where->children().at(0));
  }
  w_.writeRaw(key::group_by);
  if (groupBy == nullptr) {
    w_.writeNil();
  } else {
    writeExprSeq(groupBy->children());
  }
  w_.writeRaw(key::having);
  if (having == nullptr) {
    w_.writeNil();
  } else {
    writeExpr(having->children().at(0));
  }
  w_.writeRaw(key::order_by);
  if (orderBy == nullptr) {
    w_.writeArrayHeader(0);
  } else {
    const NodeList& items = orderBy->children();
    w_.writeArrayHeader(items.size);
    for (const SqlNode* i = items.first; i != nullptr; i = i->next) writeOrderByExpr(i);
  }
  const NodeList* limits = limit != nullptr ? &limit->children() : nullptr;
  w_.writeRaw(key::limit);
  writeExpr(limits != nullptr ? limits->first : nullptr);
  w_.writeRaw(key::offset);
  writeExpr(limits != nullptr && limits->size >= 2 ? limits->first->next : nullptr);
}

void Encoder::writeSelectItem(const SqlNode* item) {
  if (item->kind == nkStar) {
    w_.writeMapHeader(2);
    w_.writeRaw(key::variant);
    w_.writeRaw(packed("Wildcard"));
    w_.writeRaw(key::span);
    writeSpan(item);
    return;
  }
  w_.writeMapHeader(4);
  w_.writeRaw(key::variant);
  w_.writeRaw(packed("Expr"));
  w_.writeRaw(key::expr);
  if (item->kind == nkAlias) {
    writeExpr(item->aliasExpr());
    w_.writeRaw(key::alias);
    w_.writeString(item->aliasName());
  } else {
    writeExpr(item);
    w_.writeRaw(key::alias);
    w_.writeNil();
  }
  w_.writeRaw(key::span);
  writeSpan(item);
}

void Encoder::writeOrderByExpr(const SqlNode* item) {
  w_.writeMapHeader(4);
  w_.writeRaw(key::expr);
  writeExpr(item->kind == nkAlias ? item->aliasExpr() : item);
  w_.writeRaw(key::asc);
  writeBoolOpt(item->ascending);
  w_.writeRaw(key::nulls_first);
  writeBoolOpt(item->nullsFirst);
  w_.writeRaw(key::span);
  writeSpan(item);
}

void Encoder::writeFromItem(const SqlNode* item) {
  // Joins nest to the left once per join, so the spine is walked with an explicit stack, as
  // in writeExpr.
  const size_t base = chain_.size();
  while (item != nullptr && item->kind == nkJoin) {
    w_.writeMapHeader(7);
    w_.writeRaw(key::variant);
    w_.writeRaw(packed("Join"));
    w_.writeRaw(key::left);
    chain_.push(item);
    item = item->joinLeft();
  }
  if (item == nullptr) {
    w_.writeNil();
  } else if (item->kind == nkIdentifier) {
    w_.writeMapHeader(4);
    w_.writeRaw(key::variant);
    w_.writeRaw(packed("Table"));
    w_.writeRaw(key::name);
    w_.writeString(item->strVal());
    w_.writeRaw(key::alias);
    w_.writeNil();
    w_.writeRaw(key::span);
    writeSpan(item);
  } else if (item->kind == nkAlias) {
    const SqlNode* inner = item->aliasExpr();
    w_.writeMapHeader(4);
    w_.writeRaw(key::variant);
    if (inner != nullptr && inner->kind == nkFromDerived) {
      w_.writeRaw(packed("Derived"));
      w_.writeRaw(key::subquery);
      writeSubquery(inner->children().at(0));
    } else {
      w_.writeRaw(packed("Table"));
      w_.writeRaw(key::name);
      w_.writeString(firstIdent(inner));
    }
    w_.writeRaw(key::alias);
    w_.writeString(item->aliasName());
    w_.writeRaw(key::span);
    writeSpan(item);
  } else if (item->kind == nkFromDerived) {
    w_.writeMapHeader(4);
    w_.writeRaw(key::variant);
    w_.writeRaw(packed("Derived"));
    w_.writeRaw(key::subquery);
    writeSubquery(item->children().at(0));
    w_.writeRaw(key::alias);
    w_.writeNil();
    w_.writeRaw(key::span);
    writeSpan(item);
  } else {
    w_.writeMapHeader(4);
    w_.writeRaw(key::variant);
    w_.writeRaw(packed("Table"));
    w_.writeRaw(key::name);
    w_.writeString(firstIdent(item));
    w_.writeRaw(key::alias);
    w_.writeNil();
    w_.writeRaw(key::span);
    writeSpan(item);
  }
  while (chain_.size() > base) {
    const SqlNode* join = chain_.pop();
    w_.writeRaw(key::right);
    writeFromItem(join->joinRight());
    w_.writeRaw(key::join_type);
    w_.writeString(normalizedJoinKind(join->joinKind()));
    w_.writeRaw(key::condition);
    writeExpr(join->joinCond());
    w_.writeRaw(key::using_);
    writeStringSeqOpt(join->joinUsing());
    w_.writeRaw(key::span);
    writeSpan(join);
  }
}

}  // namespace quorix
