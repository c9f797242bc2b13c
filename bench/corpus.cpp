#include "corpus.h"

#include <concepts>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace quorix_bench {
namespace {

// splitmix64: tiny, and unlike the standard distributions its output is the same with every
// standard library, so a seed names the same corpus everywhere.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  // Uniform in [lo, hi]; the modulo bias is irrelevant for a workload generator.
  std::int64_t range(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
  }

  bool chance(int percent) { return range(0, 99) < percent; }

  template <typename T>
  const T& pick(std::span<const T> items) {
    return items[static_cast<std::size_t>(range(0, static_cast<std::int64_t>(items.size()) - 1))];
  }

 private:
  std::uint64_t state_;
};

// Writes one statement in both dialects at once; the few places where they part ways say so.
class Twin {
 public:
  Twin& operator<<(std::string_view s) {
    sql_ += s;
    pg_ += s;
    return *this;
  }
  Twin& operator<<(char c) {
    sql_ += c;
    pg_ += c;
    return *this;
  }
  template <std::integral T>
  Twin& operator<<(T v) {
    return *this << std::string_view(std::to_string(v));
  }
  Twin& operator<<(const std::string& s) { return *this << std::string_view(s); }
  Twin& operator<<(const char* s) { return *this << std::string_view(s); }

  Twin& sqlOnly(std::string_view s) {
    sql_ += s;
    return *this;
  }
  Twin& pgOnly(std::string_view s) {
    pg_ += s;
    return *this;
  }

  Statement take() { return Statement{std::move(sql_), std::move(pg_)}; }

 private:
  std::string sql_;
  std::string pg_;
};

using Names = std::span<const std::string_view>;

// The schema the queries talk about. kChain lists the tables in foreign-key order, so that any
// run of consecutive entries joins naturally through each entry's link to the one before it.
struct TableInfo {
  std::string_view name;
  std::string_view alias;
  Names ints;
  Names nums;
  Names texts;
  std::string_view link;  // join condition with the previous table of kChain
};

constexpr std::string_view kRegionInts[] = {"id", "parent_id", "population"};
constexpr std::string_view kRegionNums[] = {"gdp_share"};
constexpr std::string_view kRegionTexts[] = {"code", "label"};
constexpr std::string_view kCustomerInts[] = {"id", "region_id", "status_code", "age"};
constexpr std::string_view kCustomerNums[] = {"credit_limit", "balance"};
constexpr std::string_view kCustomerTexts[] = {"name", "email", "city", "status"};
constexpr std::string_view kOrderInts[] = {"id", "customer_id", "item_count", "priority"};
constexpr std::string_view kOrderNums[] = {"total_amount", "tax", "shipping_fee"};
constexpr std::string_view kOrderTexts[] = {"status", "currency", "channel"};
constexpr std::string_view kItemInts[] = {"id", "order_id", "product_id", "quantity"};
constexpr std::string_view kItemNums[] = {"unit_price", "discount"};
constexpr std::string_view kItemTexts[] = {"note"};
constexpr std::string_view kProductInts[] = {"id", "category_id", "supplier_id", "stock"};
constexpr std::string_view kProductNums[] = {"price", "weight"};
constexpr std::string_view kProductTexts[] = {"sku", "title", "brand"};
constexpr std::string_view kSupplierInts[] = {"id", "rating", "lead_days"};
constexpr std::string_view kSupplierNums[] = {"min_order"};
constexpr std::string_view kSupplierTexts[] = {"name", "country"};
constexpr std::string_view kShipmentInts[] = {"id", "supplier_id", "parcels"};
constexpr std::string_view kShipmentNums[] = {"cost"};
constexpr std::string_view kShipmentTexts[] = {"carrier", "tracking_no"};

constexpr TableInfo kChain[] = {
    {"regions", "r", kRegionInts, kRegionNums, kRegionTexts, ""},
    {"customers", "c", kCustomerInts, kCustomerNums, kCustomerTexts, "c.region_id = r.id"},
    {"orders", "o", kOrderInts, kOrderNums, kOrderTexts, "o.customer_id = c.id"},
    {"order_items", "oi", kItemInts, kItemNums, kItemTexts, "oi.order_id = o.id"},
    {"products", "p", kProductInts, kProductNums, kProductTexts, "p.id = oi.product_id"},
    {"suppliers", "s", kSupplierInts, kSupplierNums, kSupplierTexts, "s.id = p.supplier_id"},
    {"shipments", "sh", kShipmentInts, kShipmentNums, kShipmentTexts, "sh.supplier_id = s.id"},
};
constexpr int kChainLength = static_cast<int>(std::size(kChain));

// Parent and child tables (indexes into kChain) with the child's column that refers to the
// parent's id, for correlated subqueries.
struct ParentChild {
  int parent;
  int child;
  std::string_view fk;
};
constexpr ParentChild kParentChild[] = {
    {0, 1, "region_id"},  {1, 2, "customer_id"}, {2, 3, "order_id"},
    {4, 3, "product_id"}, {5, 4, "supplier_id"}, {5, 6, "supplier_id"},
};

constexpr std::string_view kWords[] = {
    "open",     "paid",   "shipped", "cancelled", "returned", "pending", "north",   "south",
    "berlin",   "lisbon", "oslo",    "web",       "store",    "partner", "express", "standard",
    "gold",     "silver", "premium", "basic",     "alpha",    "delta",   "omega",   "kappa",
    "O''Brien", "it''s",  "d''Arc",  "lakeside",  "harbour",  "meadow",  "granite", "cedar"};
constexpr std::string_view kStatuses[] = {"open",     "paid",    "shipped",
                                          "returned", "pending", "cancelled"};
constexpr std::string_view kEventKinds[] = {"click",  "view",     "login",
                                            "logout", "purchase", "search"};
constexpr std::string_view kCurrencies[] = {"EUR", "USD", "GBP", "JPY", "CHF"};

std::string money(Rng& rng, std::int64_t max_whole) {
  std::int64_t cents = rng.range(0, 99);
  return std::to_string(rng.range(0, max_whole)) + (cents < 10 ? ".0" : ".") +
         std::to_string(cents);
}

void quoted(Twin& w, std::string_view s) { w << '\'' << s << '\''; }

void word(Twin& w, Rng& rng) { quoted(w, rng.pick(Names(kWords))); }

// A value for a column of the given class: 'i' integer, 'n' decimal, 't' text.
void value(Twin& w, Rng& rng, char cls) {
  switch (cls) {
    case 'i':
      w << rng.range(0, 99999);
      break;
    case 'n':
      w << money(rng, 9999);
      break;
    default:
      word(w, rng);
      break;
  }
}

void column(Twin& w, const TableInfo& t, std::string_view col) { w << t.alias << '.' << col; }

// The vector literal: this dialect's brackets, PostgreSQL's ARRAY constructor. Elements are
// written with four decimals and an optional minus, as an embedding export would.
void vectorLiteral(Twin& w, Rng& rng) {
  w.sqlOnly("[").pgOnly("ARRAY[");
  for (int i = 0; i < kVectorDimension; ++i) {
    if (i > 0) w << ", ";
    std::int64_t v = rng.range(-9999, 9999);
    if (v < 0) w << '-';
    std::int64_t a = v < 0 ? -v : v;
    char digits[4] = {static_cast<char>('0' + a / 1000), static_cast<char>('0' + a / 100 % 10),
                      static_cast<char>('0' + a / 10 % 10), static_cast<char>('0' + a % 10)};
    w << "0." << std::string_view(digits, 4);
  }
  w << ']';
}

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  Statement next(Workload w) {
    switch (w) {
      case Workload::kSmall:
        return small();
      case Workload::kOltp:
        return oltp();
      case Workload::kAnalytic:
        return analytic();
      case Workload::kBulk:
        return bulk();
      case Workload::kDdl:
        return ddl();
      case Workload::kVector:
        return vector();
      case Workload::kMixed:
        return mixed();
    }
    throw std::invalid_argument("unknown workload");
  }

 private:
  // Statements of 40 to 60 bytes, the shape of an ORM's per-request lookups and touches.
  Statement small() {
    Twin w;
    switch (rng_.range(0, 7)) {
      case 0:
        w << "SELECT name, email FROM customers WHERE id = " << rng_.range(1, 99999);
        break;
      case 1:
        w << "SELECT * FROM orders WHERE customer_id = " << rng_.range(1, 9999) << " LIMIT 10";
        break;
      case 2:
        w << "UPDATE orders SET status = ";
        quoted(w, rng_.pick(Names(kStatuses)));
        w << " WHERE id = " << rng_.range(1, 99999);
        break;
      case 3:
        w << "DELETE FROM sessions WHERE account_id = " << rng_.range(1, 9999) << " AND idle > 30";
        break;
      case 4:
        w << "INSERT INTO events (kind, ref_id) VALUES (";
        quoted(w, rng_.pick(Names(kEventKinds)));
        w << ", " << rng_.range(1, 99999) << ')';
        break;
      case 5:
        w << "SELECT count(*) FROM orders WHERE status = ";
        quoted(w, rng_.pick(Names(kStatuses)));
        break;
      case 6:
        w << "SELECT id, price FROM products WHERE sku = 'SKU-" << rng_.range(10000, 99999) << '\'';
        break;
      default:
        w << "SELECT title FROM products WHERE price < " << money(rng_, 999);
        break;
    }
    return w.take();
  }

  // Key lookups and single-row changes, as an application server issues them.
  Statement oltp() {
    const TableInfo& t = kChain[rng_.range(1, kChainLength - 1)];
    Twin w;
    std::int64_t kind = rng_.range(0, 99);
    if (kind < 35) {
      w << "SELECT ";
      selectColumns(w, t, static_cast<int>(rng_.range(3, 6)), false);
      w << " FROM " << t.name << " WHERE id = " << rng_.range(1, 9999999);
      if (rng_.chance(25)) {
        w << " AND " << rng_.pick(t.texts) << " = ";
        word(w, rng_);
      }
    } else if (kind < 55) {
      w << "UPDATE " << t.name << " SET ";
      int n = static_cast<int>(rng_.range(1, 3));
      for (int i = 0; i < n; ++i) {
        if (i > 0) w << ", ";
        switch (rng_.range(0, 2)) {
          case 0: {
            std::string_view c = rng_.pick(t.nums);
            w << c << " = " << c << " + " << money(rng_, 99);
            break;
          }
          case 1:
            w << rng_.pick(t.texts) << " = ";
            word(w, rng_);
            break;
          default:
            w << t.ints[static_cast<std::size_t>(rng_.range(1, std::ssize(t.ints) - 1))] << " = "
              << rng_.range(0, 999);
            break;
        }
      }
      w << " WHERE id = " << rng_.range(1, 9999999);
    } else if (kind < 65) {
      w << "DELETE FROM " << t.name << " WHERE id = " << rng_.range(1, 9999999);
      if (rng_.chance(30)) w << " AND " << rng_.pick(t.ints) << " <> " << rng_.range(0, 99);
    } else if (kind < 85) {
      w << "INSERT INTO " << t.name << " (";
      insertColumns(w, t);
      w << ") VALUES ";
      insertRow(w, t, rng_.range(1, 9999999));
    } else {
      inList(w, t);
    }
    return w.take();
  }

  // The first n columns of t, taking integer, text and decimal columns in turn, as a hand-written
  // select list tends to mix them.
  void selectColumns(Twin& w, const TableInfo& t, int n, bool qualified) {
    std::vector<std::string_view> columns;
    for (std::size_t i = 0; columns.size() < static_cast<std::size_t>(n); ++i) {
      std::size_t before = columns.size();
      for (Names names : {t.ints, t.texts, t.nums}) {
        if (i < names.size()) columns.push_back(names[i]);
      }
      if (columns.size() == before) break;
    }
    for (std::size_t i = 0; i < columns.size() && i < static_cast<std::size_t>(n); ++i) {
      if (i > 0) w << ", ";
      if (qualified) w << t.alias << '.';
      w << columns[i];
    }
  }

  void insertColumns(Twin& w, const TableInfo& t) {
    bool first = true;
    for (Names names : {t.ints, t.nums, t.texts}) {
      for (std::string_view c : names) {
        if (!first) w << ", ";
        first = false;
        w << c;
      }
    }
  }

  void insertRow(Twin& w, const TableInfo& t, std::int64_t id) {
    w << '(' << id;
    for (std::size_t i = 1; i < t.ints.size(); ++i) {
      w << ", ";
      value(w, rng_, 'i');
    }
    for (std::size_t i = 0; i < t.nums.size(); ++i) {
      w << ", ";
      if (rng_.chance(5)) {
        w << "NULL";
      } else {
        value(w, rng_, 'n');
      }
    }
    for (std::size_t i = 0; i < t.texts.size(); ++i) {
      w << ", ";
      value(w, rng_, 't');
    }
    w << ')';
  }

  // IN lists of 5 to 50 keys, as batched loaders and "load these ids" screens send them.
  void inList(Twin& w, const TableInfo& t) {
    std::int64_t form = rng_.range(0, 2);
    if (form == 0) {
      w << "SELECT ";
      selectColumns(w, t, 3, false);
      w << " FROM " << t.name;
    } else if (form == 1) {
      w << "UPDATE " << t.name << " SET " << rng_.pick(t.texts) << " = ";
      word(w, rng_);
    } else {
      w << "DELETE FROM " << t.name;
    }
    w << " WHERE id IN (";
    std::int64_t n = rng_.range(5, 50);
    for (std::int64_t i = 0; i < n; ++i) {
      if (i > 0) w << ", ";
      w << rng_.range(1, 9999999);
    }
    w << ')';
    if (form == 0 && rng_.chance(30)) w << " AND " << t.ints[1] << " > 0";
  }

  // ---- analytic ----

  void columnOf(Twin& w, const TableInfo& t, char cls) {
    Names names = cls == 'i' ? t.ints : cls == 'n' ? t.nums : t.texts;
    column(w, t, rng_.pick(names));
  }

  // One boolean condition over the columns of t.
  void predicate(Twin& w, const TableInfo& t, int depth = 0) {
    switch (rng_.range(0, depth > 0 ? 11 : 12)) {
      case 0:
        columnOf(w, t, 'i');
        w << ' ' << rng_.pick(Names(kComparisons)) << ' ' << rng_.range(-50, 5000);
        break;
      case 1:
        columnOf(w, t, 'n');
        w << (rng_.chance(25) ? " NOT BETWEEN " : " BETWEEN ") << money(rng_, 100) << " AND "
          << money(rng_, 10000);
        break;
      case 2:
        columnOf(w, t, 't');
        w << (rng_.chance(25) ? " NOT LIKE '" : " LIKE '") << rng_.pick(Names(kPrefixes)) << "%'";
        break;
      case 3:
        columnOf(w, t, 't');
        w << " LIKE '" << rng_.pick(Names(kPrefixes)) << "!%%' ESCAPE '!'";
        break;
      case 4: {
        columnOf(w, t, 'i');
        w << (rng_.chance(20) ? " NOT IN (" : " IN (");
        std::int64_t n = rng_.range(2, 8);
        for (std::int64_t i = 0; i < n; ++i) w << (i > 0 ? ", " : "") << rng_.range(1, 500);
        w << ')';
        break;
      }
      case 5:
        columnOf(w, t, 't');
        w << " IN (";
        word(w, rng_);
        w << ", ";
        word(w, rng_);
        w << ')';
        break;
      case 6:
        columnOf(w, t, rng_.chance(50) ? 'n' : 't');
        w << (rng_.chance(50) ? " IS NOT NULL" : " IS NULL");
        break;
      case 7:
        w << "CAST(";
        columnOf(w, t, 'n');
        w << " AS DECIMAL(12, 2)) > " << money(rng_, 500);
        break;
      case 8:
        w << "CAST(";
        columnOf(w, t, 'i');
        w << " AS VARCHAR(12)) LIKE '" << rng_.range(1, 9) << "%'";
        break;
      case 9:
        columnOf(w, t, 'n');
        w << " * " << money(rng_, 3) << " + " << rng_.range(1, 20) << " > ";
        columnOf(w, t, 'n');
        break;
      case 10:
        w << "lower(";
        columnOf(w, t, 't');
        w << ") || '-x' = ";
        word(w, rng_);
        break;
      case 11:
        w << "NOT (";
        columnOf(w, t, 'i');
        w << " = " << rng_.range(0, 9) << ')';
        break;
      default:
        w << '(';
        predicate(w, t, depth + 1);
        w << " OR ";
        predicate(w, t, depth + 1);
        w << ')';
        break;
    }
  }

  // FROM over kChain[start, start + n), every join kind, ON conditions from the chain. A CROSS
  // JOIN has no condition, so its link goes into `deferred` for the WHERE clause.
  void fromChain(Twin& w, int start, int n, std::vector<std::string_view>& deferred) {
    w << " FROM " << kChain[start].name << ' ' << kChain[start].alias;
    for (int i = start + 1; i < start + n; ++i) {
      const TableInfo& t = kChain[i];
      std::int64_t k = rng_.range(0, 99);
      bool cross = false;
      if (k < 20) {
        w << " JOIN ";
      } else if (k < 35) {
        w << " INNER JOIN ";
      } else if (k < 50) {
        w << " LEFT JOIN ";
      } else if (k < 58) {
        w << " LEFT OUTER JOIN ";
      } else if (k < 68) {
        w << " RIGHT JOIN ";
      } else if (k < 72) {
        w << " RIGHT OUTER JOIN ";
      } else if (k < 80) {
        w << " FULL JOIN ";
      } else if (k < 86) {
        w << " FULL OUTER JOIN ";
      } else {
        w << " CROSS JOIN ";
        cross = true;
      }
      w << t.name << ' ' << t.alias;
      if (cross) {
        deferred.push_back(t.link);
      } else {
        w << " ON " << t.link;
      }
    }
    bool has_items = start <= 3 && 3 < start + n;
    bool has_customers = start <= 1 && 1 < start + n;
    bool has_orders = start <= 2 && 2 < start + n;
    if (has_items && rng_.chance(25)) w << " LEFT JOIN payments pm USING (order_id)";
    if (has_customers && rng_.chance(15)) w << " NATURAL LEFT JOIN customer_flags";
    if (has_orders && rng_.chance(20)) {
      w << ", fx_rates fx";
      deferred.push_back("fx.currency = o.currency");
    }
  }

  void where(Twin& w, std::span<const TableInfo> tables, std::vector<std::string_view>& deferred,
             int min_preds) {
    int n = static_cast<int>(rng_.range(min_preds, 4));
    if (n == 0 && deferred.empty()) return;
    w << " WHERE ";
    bool first = true;
    for (std::string_view cond : deferred) {
      if (!first) w << " AND ";
      first = false;
      w << cond;
    }
    for (int i = 0; i < n; ++i) {
      if (!first) w << " AND ";
      first = false;
      predicate(w, rng_.pick(tables));
    }
  }

  void orderItem(Twin& w) {
    w << (rng_.chance(60) ? " DESC" : " ASC");
    if (rng_.chance(70)) w << (rng_.chance(50) ? " NULLS LAST" : " NULLS FIRST");
  }

  void limit(Twin& w) {
    if (!rng_.chance(70)) return;
    w << " LIMIT " << rng_.range(10, 500);
    if (rng_.chance(30)) w << " OFFSET " << rng_.range(0, 5000);
  }

  Statement analytic() {
    std::int64_t form = rng_.range(0, 99);
    if (form < 45) return joinAggregate();
    if (form < 70) return derivedTable();
    return subqueries();
  }

  // A 3- to 5-way join with grouping, HAVING and a multi-key ORDER BY.
  Statement joinAggregate() {
    int n = static_cast<int>(rng_.range(3, 5));
    int start = static_cast<int>(rng_.range(0, kChainLength - n));
    std::span<const TableInfo> tables(kChain + start, static_cast<std::size_t>(n));
    const TableInfo& g1 = rng_.pick(tables);
    const TableInfo& g2 = rng_.pick(tables);
    const TableInfo& m = rng_.pick(tables);
    std::string_view g1c = rng_.pick(g1.texts);
    std::string_view g2c = rng_.pick(g2.ints);
    Twin w;
    w << (rng_.chance(10) ? "SELECT DISTINCT " : "SELECT ");
    column(w, g1, g1c);
    w << ", ";
    column(w, g2, g2c);
    w << ", count(*) AS cnt, sum(";
    columnOf(w, m, 'n');
    w << ") AS total, avg(";
    columnOf(w, rng_.pick(tables), 'n');
    w << ") AS avg_value";
    if (rng_.chance(50)) {
      w << ", max(";
      columnOf(w, rng_.pick(tables), 'i');
      w << ") AS max_value";
    }
    if (rng_.chance(40)) {
      w << ", count(DISTINCT ";
      columnOf(w, rng_.pick(tables), 'i');
      w << ") AS distinct_count";
    }
    std::vector<std::string_view> deferred;
    fromChain(w, start, n, deferred);
    where(w, tables, deferred, 1);
    w << " GROUP BY ";
    column(w, g1, g1c);
    w << ", ";
    column(w, g2, g2c);
    if (rng_.chance(70)) {
      w << " HAVING count(*) > " << rng_.range(1, 50);
      if (rng_.chance(50))
        w << " AND sum(" << m.alias << '.' << m.nums[0] << ") > " << money(rng_, 100000);
    }
    w << " ORDER BY total";
    orderItem(w);
    w << ", ";
    column(w, g1, g1c);
    orderItem(w);
    limit(w);
    return w.take();
  }

  // A grouped derived table joined back to a dimension table.
  Statement derivedTable() {
    int start = static_cast<int>(rng_.range(1, kChainLength - 2));
    int n = static_cast<int>(rng_.range(1, 2));
    const TableInfo& t = kChain[start];
    std::span<const TableInfo> inner(kChain + start, static_cast<std::size_t>(n));
    std::string_view g = rng_.pick(t.ints.subspan(1));
    Twin w;
    w << "SELECT d." << g << ", d.total, d.cnt";
    const TableInfo& dim = kChain[start - 1];
    bool join_dim = rng_.chance(60);
    if (join_dim) w << ", " << dim.alias << '.' << dim.texts[0];
    w << " FROM (SELECT " << t.alias << '.' << g << " AS " << g << ", sum(";
    columnOf(w, rng_.pick(inner), 'n');
    w << ") AS total, count(*) AS cnt";
    std::vector<std::string_view> deferred;
    fromChain(w, start, n, deferred);
    where(w, inner, deferred, 1);
    w << " GROUP BY " << t.alias << '.' << g << ") AS d";
    if (join_dim) {
      w << (rng_.chance(50) ? " JOIN " : " LEFT JOIN ") << dim.name << ' ' << dim.alias << " ON "
        << dim.alias << ".id = d." << g;
    }
    w << " WHERE d.cnt > " << rng_.range(1, 20);
    if (rng_.chance(50)) {
      w << " AND d.total BETWEEN " << money(rng_, 100) << " AND " << money(rng_, 100000);
    }
    w << " ORDER BY d.total";
    orderItem(w);
    limit(w);
    return w.take();
  }

  // A parent table filtered through IN, EXISTS and quantified comparisons against its child
  // table, with a correlated scalar subquery in the select list.
  Statement subqueries() {
    const ParentChild& pc = rng_.pick(std::span<const ParentChild>(kParentChild));
    const TableInfo& p = kChain[pc.parent];
    const TableInfo& c = kChain[pc.child];
    Twin w;
    w << "SELECT ";
    selectColumns(w, p, static_cast<int>(rng_.range(2, 4)), true);
    w << ", (SELECT max(" << c.alias << '.' << rng_.pick(c.nums) << ") FROM " << c.name << ' '
      << c.alias << " WHERE " << c.alias << '.' << pc.fk << " = " << p.alias
      << ".id) AS top_value FROM " << p.name << ' ' << p.alias << " WHERE ";
    int n = static_cast<int>(rng_.range(2, 4));
    for (int i = 0; i < n; ++i) {
      if (i > 0) w << (rng_.chance(85) ? " AND " : " OR ");
      switch (rng_.range(0, 6)) {
        case 0:
        case 1:
          w << p.alias << ".id" << (rng_.chance(25) ? " NOT IN (SELECT " : " IN (SELECT ")
            << c.alias << '.' << pc.fk << " FROM " << c.name << ' ' << c.alias << " WHERE ";
          predicate(w, c);
          w << ')';
          break;
        case 2:
        case 3:
          w << (rng_.chance(30) ? "NOT EXISTS (SELECT 1 FROM " : "EXISTS (SELECT 1 FROM ") << c.name
            << ' ' << c.alias << " WHERE " << c.alias << '.' << pc.fk << " = " << p.alias
            << ".id AND ";
          predicate(w, c);
          w << ')';
          break;
        case 4: {
          std::string_view q = rng_.pick(Names(kQuantifiers));
          columnOf(w, p, 'i');
          w << ' ' << rng_.pick(Names(kComparisons)) << ' ' << q << " (SELECT " << c.alias << '.'
            << pc.fk << " FROM " << c.name << ' ' << c.alias << " WHERE ";
          predicate(w, c);
          w << ')';
          break;
        }
        default:
          predicate(w, p);
          break;
      }
    }
    w << " ORDER BY top_value";
    orderItem(w);
    w << ", " << p.alias << ".id ASC";
    limit(w);
    return w.take();
  }

  // ---- bulk ----

  // One INSERT of kBulkRows rows, one row per line, as a dump or a batch loader writes it.
  Statement bulk() {
    Twin w;
    if (rng_.chance(50)) {
      const TableInfo& t = kChain[rng_.range(1, kChainLength - 1)];
      w << "INSERT INTO " << t.name << " (";
      insertColumns(w, t);
      w << ") VALUES\n";
      std::int64_t id = rng_.range(1, 1000000);
      for (int i = 0; i < kBulkRows; ++i) {
        if (i > 0) w << ",\n";
        insertRow(w, t, id + i);
      }
    } else {
      w << "INSERT INTO events (id, account_id, kind, amount, flagged, note, created_at) "
           "VALUES\n";
      std::int64_t id = rng_.range(1, 1000000);
      for (int i = 0; i < kBulkRows; ++i) {
        if (i > 0) w << ",\n";
        w << '(' << id + i << ", " << rng_.range(1, 50000) << ", ";
        quoted(w, rng_.pick(Names(kEventKinds)));
        w << ", " << (rng_.chance(10) ? "-" : "") << money(rng_, 500) << ", "
          << (rng_.chance(50) ? "TRUE" : "FALSE") << ", ";
        if (rng_.chance(30)) {
          w << "NULL";
        } else {
          word(w, rng_);
        }
        w << ", '2024-" << rng_.range(10, 12) << '-' << rng_.range(10, 28) << ' '
          << rng_.range(10, 23) << ':' << rng_.range(10, 59) << ":00')";
      }
    }
    return w.take();
  }

  // ---- DDL ----

  Statement ddl() {
    std::int64_t kind = rng_.range(0, 99);
    if (kind < 40) return createTable();
    if (kind < 70) return createIndex();
    Twin w;
    if (kind < 85) {
      w << "DROP TABLE " << (rng_.chance(50) ? "IF EXISTS " : "") << tableName();
    } else {
      w << "DROP INDEX " << (rng_.chance(50) ? "IF EXISTS " : "") << indexName();
    }
    return w.take();
  }

  std::string tableName() {
    return std::string(rng_.pick(Names(kDdlTables))) + '_' + std::to_string(rng_.range(1, 400));
  }

  std::string indexName() { return "idx_" + tableName(); }

  // Every column type of the dialect, VECTOR with each metric, column and table constraints and
  // a WITH list. Each table takes a random subset of the type list, so a run covers all of it.
  Statement createTable() {
    struct ColumnChoice {
      std::string_view name;
      std::string_view type;
      std::string_view fallback;  // DEFAULT value
    };
    static constexpr ColumnChoice kColumns[] = {
        {"qty", "INT", "0"},
        {"rank_no", "INTEGER", "1"},
        {"account_id", "BIGINT", "0"},
        {"level_no", "SMALLINT", "0"},
        {"ratio", "FLOAT", "0.5"},
        {"score", "DOUBLE", "0.0"},
        {"amount", "DECIMAL(12, 2)", "0.00"},
        {"title", "VARCHAR(200)", "'untitled'"},
        {"country_code", "CHAR(2)", "'XX'"},
        {"body", "TEXT", "''"},
        {"payload", "BLOB", "NULL"},
        {"active", "BOOLEAN", "TRUE"},
        {"verified", "BOOL", "FALSE"},
        {"created_at", "TIMESTAMP", "now()"},
        {"birth_day", "DATE", "'2000-01-01'"},
        {"opens_at", "TIME", "'09:00'"},
    };
    Twin w;
    w << "CREATE TABLE " << (rng_.chance(30) ? "IF NOT EXISTS " : "") << tableName() << " (";
    bool pk_inline = rng_.chance(50);
    w << (pk_inline ? "id BIGINT PRIMARY KEY" : "id BIGINT NOT NULL");
    std::vector<std::string_view> names;
    for (const ColumnChoice& c : kColumns) {
      if (!rng_.chance(55)) continue;
      names.push_back(c.name);
      w << ", " << c.name << ' ' << c.type;
      if (rng_.chance(30)) w << " NOT NULL";
      if (rng_.chance(30)) w << " DEFAULT " << c.fallback;
      if (rng_.chance(8)) w << " UNIQUE";
    }
    if (rng_.chance(70)) {
      w << ", embedding VECTOR(" << rng_.pick(Names(kDimensions)) << ", ";
      switch (rng_.range(0, 2)) {
        case 0:
          w << "COSINE";
          break;
        case 1:
          w << "L2";
          break;
        default:
          // INNER is reserved in PostgreSQL even as a type modifier; quoting keeps the word.
          w.sqlOnly("INNER").pgOnly("\"INNER\"");
          break;
      }
      w << ')';
    }
    if (!pk_inline) w << ", PRIMARY KEY (id)";
    if (names.size() >= 2 && rng_.chance(40)) {
      w << ", UNIQUE (" << names[0] << ", " << names[1] << ')';
    }
    w << ')';
    if (rng_.chance(60)) {
      w << " WITH (shards = " << rng_.range(1, 16) << ", replicas = " << rng_.range(1, 3);
      if (rng_.chance(40)) w << ", compression = 'lz4'";
      if (rng_.chance(30)) w << ", metric = " << (rng_.chance(50) ? "cosine" : "inner");
      w << ')';
    }
    return w.take();
  }

  // PostgreSQL names the access method before the column list; this dialect after it.
  Statement createIndex() {
    Twin w;
    std::string table = tableName();
    bool hnsw = rng_.chance(50);
    std::string_view col = hnsw ? "embedding" : rng_.pick(Names(kIndexedColumns));
    w << "CREATE INDEX " << (rng_.chance(30) ? "IF NOT EXISTS " : "") << "idx_" << table << '_'
      << col << " ON " << table;
    std::int64_t using_kind = hnsw ? 0 : rng_.range(1, 2);  // 0 HNSW, 1 BTREE, 2 none
    std::string_view method = using_kind == 0 ? "HNSW" : "BTREE";
    if (using_kind != 2) w.pgOnly(" USING ").pgOnly(method);
    w << " (" << col << ')';
    if (using_kind != 2) w.sqlOnly(" USING ").sqlOnly(method);
    if (hnsw) {
      w << " WITH (m = " << rng_.pick(Names(kHnswM));
      if (rng_.chance(70)) w << ", ef_construction = " << rng_.range(4, 40) * 10;
      w << ')';
    } else if (rng_.chance(30)) {
      w << " WITH (fillfactor = " << rng_.range(50, 100) << ')';
    }
    return w.take();
  }

  // ---- vector ----

  // k-nearest-neighbour searches ordered by a distance over a query embedding, and inserts of
  // embedded documents.
  Statement vector() {
    Twin w;
    std::string_view distance = rng_.pick(Names(kDistances));
    std::int64_t form = rng_.range(0, 99);
    if (form < 30) {
      w << "SELECT id, title, " << distance << "(embedding, ";
      vectorLiteral(w, rng_);
      w << ") AS dist FROM documents WHERE category_id = " << rng_.range(1, 60)
        << " ORDER BY dist ASC LIMIT " << rng_.range(5, 50);
    } else if (form < 45) {
      w << "SELECT id FROM documents ORDER BY " << distance << "(embedding, ";
      vectorLiteral(w, rng_);
      w << ") LIMIT " << rng_.range(5, 100);
    } else if (form < 60) {
      w << "SELECT d.id, d.title, a.name FROM documents d JOIN authors a ON a.id = d.author_id "
           "WHERE a.verified = TRUE AND d.published_at >= '2024-01-01' ORDER BY "
        << distance << "(d.embedding, ";
      vectorLiteral(w, rng_);
      w << ") ASC NULLS LAST LIMIT " << rng_.range(5, 20);
    } else {
      w << "INSERT INTO documents (id, title, category_id, embedding) VALUES ";
      std::int64_t rows = rng_.range(1, 2);
      for (std::int64_t i = 0; i < rows; ++i) {
        if (i > 0) w << ", ";
        w << '(' << rng_.range(1, 9999999) << ", ";
        word(w, rng_);
        w << ", " << rng_.range(1, 60) << ", ";
        vectorLiteral(w, rng_);
        w << ')';
      }
    }
    return w.take();
  }

  // ---- mixed ----

  // A statement log: mostly small and OLTP traffic, some reporting, schema changes, vector
  // searches and the occasional bulk load. Weights are per mille of statements.
  Statement mixed() {
    std::int64_t k = rng_.range(0, 999);
    if (k < 250) return small();
    if (k < 777) return oltp();
    if (k < 897) return analytic();
    if (k < 947) return ddl();
    if (k < 997) return vector();
    return bulk();
  }

  static constexpr std::string_view kComparisons[] = {"=", "<>", "!=", "<", "<=", ">", ">="};
  static constexpr std::string_view kQuantifiers[] = {"ANY", "SOME", "ALL"};
  static constexpr std::string_view kPrefixes[] = {"a", "ne", "sto", "x_", "100", "gold"};
  static constexpr std::string_view kDdlTables[] = {"metrics", "audit_log",  "profiles",
                                                    "catalog", "embeddings", "ledger"};
  static constexpr std::string_view kIndexedColumns[] = {"account_id", "created_at", "title", "qty",
                                                         "country_code"};
  static constexpr std::string_view kDimensions[] = {"128", "384", "768", "1536"};
  static constexpr std::string_view kHnswM[] = {"8", "16", "32", "48"};
  static constexpr std::string_view kDistances[] = {"cosine_distance", "l2_distance",
                                                    "inner_product"};

  Rng rng_;
};

}  // namespace

std::string_view workloadName(Workload w) {
  switch (w) {
    case Workload::kSmall:
      return "small";
    case Workload::kOltp:
      return "oltp";
    case Workload::kAnalytic:
      return "analytic";
    case Workload::kBulk:
      return "bulk";
    case Workload::kDdl:
      return "ddl";
    case Workload::kVector:
      return "vector";
    case Workload::kMixed:
      return "mixed";
  }
  return "?";
}

std::vector<Statement> generateCorpus(Workload w, std::size_t target_bytes, std::uint64_t seed) {
  // Each workload draws from its own stream, so a workload's statements do not depend on
  // which other workloads were generated before it.
  Generator gen(seed ^ (0x100000001b3ULL * (static_cast<std::uint64_t>(w) + 1)));
  std::vector<Statement> out;
  std::size_t bytes = 0;
  while (bytes < target_bytes) {
    out.push_back(gen.next(w));
    bytes += out.back().sql.size() + kStatementSeparator.size();
  }
  return out;
}

Texts renderTexts(std::span<const Statement> corpus, Rendering r) {
  Texts t;
  for (const Statement& s : corpus) {
    if (r == Rendering::kCommon && !s.identical()) continue;
    const std::string& text = r == Rendering::kPg ? s.pg : s.sql;
    t.statements.push_back(text);
    t.text += text;
    t.text += kStatementSeparator;
  }
  return t;
}

}  // namespace quorix_bench
