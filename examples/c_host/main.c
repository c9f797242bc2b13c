/*
 * A C host: parses the SQL given on the command line, reads the document with the small
 * MessagePack reader below and prints one line per statement, its variant and where it starts
 * and ends:
 *
 *   $ c_host "SELECT a FROM t; DROP TABLE t"
 *   1: Select 1:1-1:6
 *   2: DropTable 1:18-1:21
 *
 * Exit status: 0 parsed, 1 the SQL was rejected (the message goes to standard error),
 * 2 usage error or a document this program cannot read.
 *
 * Why not a MessagePack library: documents nest as deeply as the SQL does, and a chain such as
 * `a OR b OR ...` adds two levels per term, so ordinary queries outgrow a decoder with a fixed
 * nesting limit (msgpack-c's C unpacker stops at 32 levels, a 14-term OR). This program needs
 * only a few values near the top of each statement; everything else it skips, and skipping
 * keeps no more than a count of the values still to come, whatever the depth.
 */
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "quorix_sql_parser.h"

typedef struct {
  const uint8_t* p;
  const uint8_t* end;
} Reader;

typedef enum {
  VALUE_NIL,
  VALUE_BOOL,
  VALUE_UINT,
  VALUE_INT,
  VALUE_FLOAT,
  VALUE_STR,
  VALUE_BIN,
  VALUE_EXT,
  VALUE_ARRAY,
  VALUE_MAP
} ValueType;

/* One value's head. A string's (or bin's, ext's) bytes come with it; an array or map gives only
 * its entry count, and its entries are the values that follow. */
typedef struct {
  ValueType type;
  uint64_t n; /* VALUE_UINT: the value; STR, BIN, EXT: byte count; ARRAY, MAP: entry count */
  const uint8_t* bytes;
} Value;

static int take(Reader* r, size_t count, const uint8_t** at) {
  if ((size_t)(r->end - r->p) < count) {
    return 0;
  }
  *at = r->p;
  r->p += count;
  return 1;
}

static int big_endian(Reader* r, size_t count, uint64_t* out) {
  const uint8_t* at;
  if (!take(r, count, &at)) {
    return 0;
  }
  *out = 0;
  for (size_t i = 0; i < count; ++i) {
    *out = *out << 8 | at[i];
  }
  return 1;
}

/* Reads one value's head; returns 0 on a truncated document or the unused type byte c1. */
static int read_head(Reader* r, Value* v) {
  const uint8_t* at;
  if (!take(r, 1, &at)) {
    return 0;
  }
  const uint8_t b = *at;
  uint64_t n = 0;
  v->n = 0;
  v->bytes = NULL;
  if (b <= 0x7f) {
    v->type = VALUE_UINT;
    v->n = b;
    return 1;
  }
  if (b >= 0xe0) {
    v->type = VALUE_INT;
    return 1;
  }
  if (b <= 0x8f || (b >= 0xde && b <= 0xdf)) {
    v->type = VALUE_MAP;
    if (b <= 0x8f) {
      v->n = b & 0x0fu;
      return 1;
    }
    return big_endian(r, b == 0xde ? 2 : 4, &v->n);
  }
  if (b <= 0x9f || (b >= 0xdc && b <= 0xdd)) {
    v->type = VALUE_ARRAY;
    if (b <= 0x9f) {
      v->n = b & 0x0fu;
      return 1;
    }
    return big_endian(r, b == 0xdc ? 2 : 4, &v->n);
  }
  if (b <= 0xbf || (b >= 0xd9 && b <= 0xdb)) {
    v->type = VALUE_STR;
    if (b <= 0xbf) {
      n = b & 0x1fu;
    } else if (!big_endian(r, (size_t)1 << (b - 0xd9), &n)) {
      return 0;
    }
    v->n = n;
    return take(r, (size_t)n, &v->bytes);
  }
  switch (b) {
    case 0xc0:
      v->type = VALUE_NIL;
      return 1;
    case 0xc2:
    case 0xc3:
      v->type = VALUE_BOOL;
      v->n = b == 0xc3 ? 1u : 0u;
      return 1;
    case 0xc4: /* bin 8, 16, 32 */
    case 0xc5:
    case 0xc6:
      v->type = VALUE_BIN;
      return big_endian(r, (size_t)1 << (b - 0xc4), &n) && take(r, (size_t)n, &v->bytes);
    case 0xc7: /* ext 8, 16, 32: length, type, data */
    case 0xc8:
    case 0xc9:
      v->type = VALUE_EXT;
      return big_endian(r, (size_t)1 << (b - 0xc7), &n) && take(r, 1, &at) &&
             take(r, (size_t)n, &v->bytes);
    case 0xca:
    case 0xcb:
      v->type = VALUE_FLOAT;
      return take(r, b == 0xca ? 4 : 8, &at);
    case 0xcc: /* uint 8, 16, 32, 64 */
    case 0xcd:
    case 0xce:
    case 0xcf:
      v->type = VALUE_UINT;
      return big_endian(r, (size_t)1 << (b - 0xcc), &v->n);
    case 0xd0: /* int 8, 16, 32, 64: a non-negative one reads as unsigned, as in msgpack-c */
    case 0xd1:
    case 0xd2:
    case 0xd3: {
      const size_t width = (size_t)1 << (b - 0xd0);
      if (!big_endian(r, width, &n)) {
        return 0;
      }
      const int negative = ((n >> (8 * width - 1)) & 1u) != 0;
      v->type = negative ? VALUE_INT : VALUE_UINT;
      v->n = n;
      return 1;
    }
    case 0xd4: /* fixext 1, 2, 4, 8, 16: type, data */
    case 0xd5:
    case 0xd6:
    case 0xd7:
    case 0xd8:
      v->type = VALUE_EXT;
      return take(r, 1 + ((size_t)1 << (b - 0xd4)), &v->bytes);
    default: /* 0xc1, never used */
      return 0;
  }
}

/* Skips one whole value. A container adds its entries to the count of values still to read,
 * which is all the state a walk of any depth needs. The count cannot overflow: a document has
 * fewer than 2^31 bytes, so fewer container heads, and each adds at most 2^33 - 2 values. */
static int skip_value(Reader* r) {
  uint64_t pending = 1;
  while (pending > 0) {
    Value v;
    if (!read_head(r, &v)) {
      return 0;
    }
    --pending;
    if (v.type == VALUE_ARRAY) {
      pending += v.n;
    } else if (v.type == VALUE_MAP) {
      pending += 2 * v.n;
    }
  }
  return 1;
}

/* Reads a map's head; *entries is its entry count. */
static int read_map(Reader* r, uint64_t* entries) {
  Value v;
  if (!read_head(r, &v) || v.type != VALUE_MAP) {
    return 0;
  }
  *entries = v.n;
  return 1;
}

/* Reads the key of a map entry, which must be a string; the entry's value is left to read. */
static int read_key(Reader* r, Value* key) { return read_head(r, key) && key->type == VALUE_STR; }

static int key_is(const Value* key, const char* name) {
  return key->n == strlen(name) && memcmp(key->bytes, name, key->n) == 0;
}

/* A location map's "line" and "column"; 0 when either is missing or not a non-negative
 * integer. Other keys are skipped. */
static int read_point(Reader* r, uint64_t* line, uint64_t* column) {
  uint64_t entries;
  int have_line = 0, have_column = 0;
  if (!read_map(r, &entries)) {
    return 0;
  }
  for (uint64_t i = 0; i < entries; ++i) {
    Value key, v;
    if (!read_key(r, &key)) {
      return 0;
    }
    const int is_line = key_is(&key, "line");
    if (!is_line && !key_is(&key, "column")) {
      if (!skip_value(r)) {
        return 0;
      }
      continue;
    }
    if (!read_head(r, &v) || v.type != VALUE_UINT) {
      return 0;
    }
    if (is_line) {
      *line = v.n;
      have_line = 1;
    } else {
      *column = v.n;
      have_column = 1;
    }
  }
  return have_line && have_column;
}

typedef struct {
  const uint8_t* variant;
  uint64_t variant_len;
  uint64_t start_line, start_column, end_line, end_column;
} Statement;

/* A span map: its "start" and "end" locations. */
static int read_span(Reader* r, Statement* s) {
  uint64_t entries;
  int have_start = 0, have_end = 0;
  if (!read_map(r, &entries)) {
    return 0;
  }
  for (uint64_t i = 0; i < entries; ++i) {
    Value key;
    if (!read_key(r, &key)) {
      return 0;
    }
    if (key_is(&key, "start")) {
      have_start = read_point(r, &s->start_line, &s->start_column);
      if (!have_start) {
        return 0;
      }
    } else if (key_is(&key, "end")) {
      have_end = read_point(r, &s->end_line, &s->end_column);
      if (!have_end) {
        return 0;
      }
    } else if (!skip_value(r)) {
      return 0;
    }
  }
  return have_start && have_end;
}

/* A statement-kind map: its "variant" string; the statement's body, however deep, is skipped. */
static int read_kind(Reader* r, Statement* s) {
  uint64_t entries;
  int found = 0;
  if (!read_map(r, &entries)) {
    return 0;
  }
  for (uint64_t i = 0; i < entries; ++i) {
    Value key, v;
    if (!read_key(r, &key)) {
      return 0;
    }
    if (!key_is(&key, "variant")) {
      if (!skip_value(r)) {
        return 0;
      }
      continue;
    }
    if (!read_head(r, &v) || v.type != VALUE_STR || v.n > INT_MAX) {
      return 0;
    }
    s->variant = v.bytes;
    s->variant_len = v.n;
    found = 1;
  }
  return found;
}

/* A statement map: {"kind": ..., "span": ...}, in either order, other keys skipped. */
static int read_statement(Reader* r, Statement* s) {
  uint64_t entries;
  int have_kind = 0, have_span = 0;
  if (!read_map(r, &entries)) {
    return 0;
  }
  for (uint64_t i = 0; i < entries; ++i) {
    Value key;
    if (!read_key(r, &key)) {
      return 0;
    }
    if (key_is(&key, "kind")) {
      have_kind = read_kind(r, s);
      if (!have_kind) {
        return 0;
      }
    } else if (key_is(&key, "span")) {
      have_span = read_span(r, s);
      if (!have_span) {
        return 0;
      }
    } else if (!skip_value(r)) {
      return 0;
    }
  }
  return have_kind && have_span;
}

/* Prints the statements of one document; returns 0, or 2 when the document is not as expected. */
static int print_statements(const uint8_t* data, size_t len) {
  /* The document must be exactly one array, checked whole before anything is printed: anything
   * left over, or missing, would mean a misread length. */
  Reader whole = {data, data + len};
  Reader r = whole;
  Value top;
  if (!read_head(&r, &top) || top.type != VALUE_ARRAY || !skip_value(&whole) ||
      whole.p != whole.end) {
    fprintf(stderr, "c_host: the document is not one MessagePack array\n");
    return 2;
  }
  for (uint64_t i = 0; i < top.n; ++i) {
    Statement s;
    if (!read_statement(&r, &s)) {
      fprintf(stderr, "c_host: statement %llu has no kind.variant or span\n",
              (unsigned long long)(i + 1));
      return 2;
    }
    printf("%llu: %.*s %llu:%llu-%llu:%llu\n", (unsigned long long)(i + 1), (int)s.variant_len,
           (const char*)s.variant, (unsigned long long)s.start_line,
           (unsigned long long)s.start_column, (unsigned long long)s.end_line,
           (unsigned long long)s.end_column);
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s 'SQL'\n", argv[0]);
    return 2;
  }
  /* 0: the text is NUL-terminated, which argv strings always are. */
  ParseResult result = quorix_parse_sql(argv[1], 0);
  if (result.status != 0) {
    fprintf(stderr, "%s\n", result.error);
    quorix_free_buffer(result.error);
    return 1;
  }
  int rc = print_statements(result.data, (size_t)result.data_len);
  /* Only after printing: the variant names point into these bytes. */
  quorix_free_buffer(result.data);
  return rc;
}
