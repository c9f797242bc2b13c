// Byte-exact checks of the MessagePack forms the document is built from: every length and
// integer boundary of MsgPackWriter, the float text of literal values, and the fixed byte
// sequences a host can rely on when it reads a document without a full decoder.
#include "encoder/msgpack_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "common/errors.h"
#include "encoder/encoder.h"
#include "test_support.h"

#if __has_include(<msgpack.h>)
#include <msgpack.h>
#define QUORIX_HAVE_MSGPACK_C 1
#endif

namespace quorix::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes written(const std::function<void(MsgPackWriter&)>& write) {
  MsgPackWriter w;
  write(w);
  return Bytes(w.data(), w.data() + w.size());
}

Bytes unhex(std::string_view text) {
  Bytes out;
  int pending = -1;
  for (char c : text) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(static_cast<uint8_t>(pending * 16 + v));
      pending = -1;
    }
  }
  return out;
}

Bytes prefix(const Bytes& bytes, size_t n) {
  return Bytes(bytes.begin(),
               bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size())));
}

#ifdef QUORIX_HAVE_MSGPACK_C
// msgpack-c's own packer, as an independent opinion on the smallest forms.
Bytes packedByMsgpackC(const std::function<void(msgpack_packer*)>& pack) {
  msgpack_sbuffer sb;
  msgpack_sbuffer_init(&sb);
  msgpack_packer pk;
  msgpack_packer_init(&pk, &sb, msgpack_sbuffer_write);
  pack(&pk);
  Bytes out(reinterpret_cast<const uint8_t*>(sb.data),
            reinterpret_cast<const uint8_t*>(sb.data) + sb.size);
  msgpack_sbuffer_destroy(&sb);
  return out;
}
#endif

TEST(MsgPackWriter, NilAndBooleans) {
  EXPECT_EQ(hex(written([](MsgPackWriter& w) {
              w.writeNil();
              w.writeBool(false);
              w.writeBool(true);
            })),
            "c0 c2 c3");
}

TEST(MsgPackWriter, StringLengthBoundaries) {
  struct Case {
    size_t length;
    const char* header;
  };
  const Case cases[] = {
      {0, "a0"},
      {31, "bf"},
      {32, "d9 20"},
      {255, "d9 ff"},
      {256, "da 01 00"},
      {65535, "da ff ff"},
      {65536, "db 00 01 00 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string body(c.length, 'x');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
    Bytes out = written([&](MsgPackWriter& w) { w.writeString(body); });
    Bytes header = unhex(c.header);
    ASSERT_EQ(out.size(), header.size() + c.length);
    EXPECT_EQ(hex(prefix(out, header.size())), c.header);
    EXPECT_EQ(std::string(out.begin() + static_cast<std::ptrdiff_t>(header.size()), out.end()),
              body);
    // Between two keys in one run, where a string past 31 bytes leaves the run's room and
    // comes back: the same bytes either way.
    Bytes between = written([&](MsgPackWriter& w) {
      w.run(2 + MsgPackWriter::kStrRoom + 2).raw(packed("k")).str(body).raw(packed("l"));
    });
    Bytes expected = unhex("a1 6b");
    expected.insert(expected.end(), out.begin(), out.end());
    for (uint8_t b : unhex("a1 6c")) expected.push_back(b);
    EXPECT_EQ(between, expected);
#ifdef QUORIX_HAVE_MSGPACK_C
    EXPECT_EQ(out, packedByMsgpackC([&](msgpack_packer* pk) {
                msgpack_pack_str(pk, body.size());
                msgpack_pack_str_body(pk, body.data(), body.size());
              }));
#endif
  }
}

TEST(MsgPackWriter, StringBytesPassThroughUnchanged) {
  std::string raw("a\0\xff\xc3\x28\n", 6);
  EXPECT_EQ(hex(written([&](MsgPackWriter& w) { w.writeString(raw); })), "a6 61 00 ff c3 28 0a");
}

TEST(MsgPackWriter, ArrayAndMapHeaderBoundaries) {
  struct Case {
    size_t count;
    const char* array;
    const char* map;
  };
  const Case cases[] = {
      {0, "90", "80"},
      {15, "9f", "8f"},
      {16, "dc 00 10", "de 00 10"},
      {65535, "dc ff ff", "de ff ff"},
      {65536, "dd 00 01 00 00", "df 00 01 00 00"},
      {4294967295u, "dd ff ff ff ff", "df ff ff ff ff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    Bytes array = written([&](MsgPackWriter& w) { w.writeArrayHeader(c.count); });
    Bytes map = written([&](MsgPackWriter& w) { w.writeMapHeader(c.count); });
    EXPECT_EQ(hex(array), c.array);
    EXPECT_EQ(hex(map), c.map);
    // The same header after a key, written in one run.
    Bytes keyed = written([&](MsgPackWriter& w) {
      w.run(2 + MsgPackWriter::kArrayHeaderRoom).raw(packed("k")).arrayHeader(c.count);
    });
    EXPECT_EQ(hex(keyed), std::string("a1 6b ") + c.array);
#ifdef QUORIX_HAVE_MSGPACK_C
    EXPECT_EQ(array,
              packedByMsgpackC([&](msgpack_packer* pk) { msgpack_pack_array(pk, c.count); }));
    EXPECT_EQ(map, packedByMsgpackC([&](msgpack_packer* pk) { msgpack_pack_map(pk, c.count); }));
#endif
  }
}

TEST(MsgPackWriter, SignedIntegersTakeTheSmallestForm) {
  struct Case {
    int64_t value;
    const char* bytes;
  };
  const Case cases[] = {
      {0, "00"},
      {1, "01"},
      {127, "7f"},
      {128, "cc 80"},
      {255, "cc ff"},
      {256, "cd 01 00"},
      {65535, "cd ff ff"},
      {65536, "ce 00 01 00 00"},
      {4294967295LL, "ce ff ff ff ff"},
      {4294967296LL, "cf 00 00 00 01 00 00 00 00"},
      {std::numeric_limits<int64_t>::max(), "cf 7f ff ff ff ff ff ff ff"},
      {-1, "ff"},
      {-32, "e0"},
      {-33, "d0 df"},
      {-128, "d0 80"},
      {-129, "d1 ff 7f"},
      {-32768, "d1 80 00"},
      {-32769, "d2 ff ff 7f ff"},
      {-2147483648LL, "d2 80 00 00 00"},
      {-2147483649LL, "d3 ff ff ff ff 7f ff ff ff"},
      {std::numeric_limits<int64_t>::min(), "d3 80 00 00 00 00 00 00 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Bytes out = written([&](MsgPackWriter& w) { w.writeInt(c.value); });
    EXPECT_EQ(hex(out), c.bytes);
#ifdef QUORIX_HAVE_MSGPACK_C
    EXPECT_EQ(out, packedByMsgpackC([&](msgpack_packer* pk) { msgpack_pack_int64(pk, c.value); }));
#endif
  }
}

TEST(MsgPackWriter, UnsignedThirtyTwoBitIntegers) {
  struct Case {
    uint32_t value;
    const char* bytes;
  };
  const Case cases[] = {
      {0, "00"},
      {127, "7f"},
      {128, "cc 80"},
      {255, "cc ff"},
      {256, "cd 01 00"},
      {65535, "cd ff ff"},
      {65536, "ce 00 01 00 00"},
      {4294967295u, "ce ff ff ff ff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Bytes out = written([&](MsgPackWriter& w) { w.writeUInt32(c.value); });
    EXPECT_EQ(hex(out), c.bytes);
#ifdef QUORIX_HAVE_MSGPACK_C
    EXPECT_EQ(out, packedByMsgpackC([&](msgpack_packer* pk) { msgpack_pack_uint32(pk, c.value); }));
#endif
  }
}

TEST(MsgPackWriter, DoublesAreAlwaysFloat64BigEndian) {
  struct Case {
    double value;
    const char* bytes;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {1.0, "cb 3f f0 00 00 00 00 00 00"},
      {-0.0, "cb 80 00 00 00 00 00 00 00"},
      {0.5, "cb 3f e0 00 00 00 00 00 00"},
      {0.0, "cb 00 00 00 00 00 00 00 00"},
      {-2.5, "cb c0 04 00 00 00 00 00 00"},
      {inf, "cb 7f f0 00 00 00 00 00 00"},
      {-inf, "cb ff f0 00 00 00 00 00 00"},
      {nan, "cb 7f f8 00 00 00 00 00 00"},
      // Small enough for float32 without loss, still float64.
      {2.0, "cb 40 00 00 00 00 00 00 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Bytes out = written([&](MsgPackWriter& w) { w.writeDouble(c.value); });
    EXPECT_EQ(hex(out), c.bytes);
  }
  // Any NaN payload is kept bit for bit.
  double payload = std::bit_cast<double>(uint64_t{0x7ff0000000000123});
  EXPECT_EQ(hex(written([&](MsgPackWriter& w) { w.writeDouble(payload); })),
            "cb 7f f0 00 00 00 00 01 23");
}

TEST(MsgPackWriter, ValuesAppendInOrderAcrossGrowth) {
  // A small initial reservation forces several reallocations mid-document.
  MsgPackWriter w(1);
  w.writeMapHeader(2);
  w.writeString("line");
  w.writeInt(200);
  w.writeString(std::string(300, 'q'));
  w.writeInt(-200);
  Bytes out(w.data(), w.data() + w.size());
  ASSERT_EQ(out.size(), 1u + 5 + 2 + 3 + 300 + 3);
  EXPECT_EQ(hex(prefix(out, 12)), "82 a4 6c 69 6e 65 cc c8 da 01 2c 71");
  EXPECT_EQ(hex(Bytes(out.end() - 4, out.end())), "71 d1 ff 38");
}

// A string past 31 bytes inside a run makes room for itself and for the rest of the run: where
// that moves the document out of the writer's inline buffer, the run must go on in the new one.
TEST(MsgPackWriter, RunsCarryOnAcrossGrowthForLongStrings) {
  const std::string filler(MsgPackWriter::kInlineBytes - 40, 'f');
  for (size_t length : {size_t{32}, size_t{300}, size_t{70000}}) {
    SCOPED_TRACE(length);
    const std::string body(length, 'q');
    auto lead = [&](MsgPackWriter& w) { w.writeString(filler); };
    Bytes inRun = written([&](MsgPackWriter& w) {
      lead(w);
      w.run(2 + 2 * MsgPackWriter::kStrRoom + MsgPackWriter::kSpanRoom)
          .raw(packed("k"))
          .str(body)
          .str(body)
          .span(300, 2, 300, 70000);
    });
    Bytes piecewise = written([&](MsgPackWriter& w) {
      lead(w);
      w.writeString("k");
      w.writeString(body);
      w.writeString(body);
      w.writeSpanEntry(300, 2, 300, 70000);
    });
    EXPECT_EQ(inRun, piecewise);
  }
}

// Debug builds hold every run to its room and every statement's maps to their counted entries.
TEST(MsgPackWriter, DebugChecksCatchOverrunsAndMiscountedMaps) {
#ifndef NDEBUG
  MsgPackWriter w;
  EXPECT_THROW(w.run(3).raw(packed("key")).boolean(true), InternalDefect);
  EXPECT_THROW(w.run(MsgPackWriter::kSpanRoom - 1).span(1, 1, 1, 1), InternalDefect);
#endif
  // The statement check itself works in any build.
  struct Case {
    const char* bytes;
    bool whole;
  };
  const Case cases[] = {
      // clang-format off
      {"82 a1 61 01 a1 62 c0", true},
      {"82 a1 61 01", false},                      // an entry short
      {"81 a1 61 01 a1 62 c0", false},             // an entry over
      {"82 a1 61 81 a1 78 01 a1 62 c0", true},     // a map inside a map
      {"82 a1 61 80 a1 78 01 a1 62 c0", false},    // the inner one an entry short
      {"82 a1 61 01 05 c0", false},                // a key that is no string
      {"92 91 80 dc 00 01 90", true},              // nested arrays, a 16-bit header
      {"81 d9 01 61 cd 01", false},                // a number cut short
      {"cb 00 00 00 00 00 00 00 00", true},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    MsgPackWriter check;
    for (uint8_t b : unhex(c.bytes)) check.writeRaw(PackedStr<1>{{static_cast<char>(b)}});
    if (c.whole) {
      EXPECT_NO_THROW(check.checkWellFormed(0));
    } else {
      EXPECT_THROW(check.checkWellFormed(0), InternalDefect);
    }
  }
}

TEST(FloatText, LaidOutAsLiteralValues) {
  struct Case {
    double value;
    const char* text;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {inf, "inf"},
      {-inf, "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
      // -6 <= P <= 0: leading "0." and zeros.
      {0.1, "0.1"},
      {0.001, "0.001"},
      {0.000123, "0.000123"},
      {1e-6, "0.000001"},
      {1e-7, "0.0000001"},
      {1.5e-7, "0.00000015"},
      {9.999e-7, "0.0000009999"},
      {1.0 / 3.0, "0.3333333333333333"},
      {0.1 + 0.2, "0.30000000000000004"},
      // 0 < P < n: point inside the digits.
      {2.5, "2.5"},
      {-2.5, "-2.5"},
      {123.456, "123.456"},
      {12345.678, "12345.678"},
      // n <= P <= 17: zeros then ".0".
      {1.0, "1.0"},
      {-1.0, "-1.0"},
      {100.0, "100.0"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "10000000000000000.0"},
      {12345678901234567.0, "12345678901234568.0"},
      // P < -6 or P > 17: scientific.
      {1e-8, "1e-8"},
      {-1e-8, "-1e-8"},
      {1.2e-8, "1.2e-8"},
      {1e17, "1e+17"},
      {1.23e17, "1.23e+17"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      {1e100, "1e+100"},
      {1.5e300, "1.5e+300"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
      {5e-324, "5e-324"},
      {-5e-324, "-5e-324"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char out[32];
    size_t n = formatFloatText(c.value, out);
    ASSERT_LE(n, sizeof out);
    EXPECT_EQ(std::string(out, n), c.text);
  }
}

// The fixed sequences every document is made of, checked through the exported function.
const char* const kSpanLine1Col1To6 =
    "82 a5 73 74 61 72 74 82 a4 6c 69 6e 65 01 a6 63 6f 6c 75 6d 6e 01 a3 65 6e 64 82 a4 6c 69 "
    "6e 65 01 a6 63 6f 6c 75 6d 6e 06";
const char* const kLiteral42AtCol8To9 =
    "82 a4 6b 69 6e 64 82 a7 76 61 72 69 61 6e 74 a7 4c 69 74 65 72 61 6c a7 6c 69 74 65 72 61 6c "
    "82 a7 76 61 72 69 61 6e 74 a6 4e 75 6d 62 65 72 a5 76 61 6c 75 65 a2 34 32 a4 73 70 61 6e 82 "
    "a5 73 74 61 72 74 82 a4 6c 69 6e 65 01 a6 63 6f 6c 75 6d 6e 08 a3 65 6e 64 82 a4 6c 69 6e 65 "
    "01 a6 63 6f 6c 75 6d 6e 09";

bool contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST(MsgPackDocument, WorkedSpanBytesCloseTheStatement) {
  ASSERT_EQ(unhex(kSpanLine1Col1To6).size(), 41u);
  for (const char* sql : {"SELECT 1", "select 42", "SELECT a FROM t WHERE b = 1;"}) {
    SCOPED_TRACE(sql);
    Outcome o = parse(sql);
    ASSERT_EQ(o.status, 0) << o.error;
    std::string doc = hex(o.data);
    // A one-statement document: array of one, a two-entry map opening with "kind"...
    EXPECT_EQ(doc.rfind("91 82 a4 6b 69 6e 64 8a a7 76 61 72 69 61 6e 74 a6 53 65 6c 65 63 74", 0),
              0u)
        << doc;
    // ...and closing with "span" and the SELECT keyword's 41-byte span map.
    std::string tail = std::string("a4 73 70 61 6e ") + kSpanLine1Col1To6;
    ASSERT_GE(doc.size(), tail.size());
    EXPECT_EQ(doc.substr(doc.size() - tail.size()), tail);
  }
}

TEST(MsgPackDocument, WorkedIntegerLiteralBytes) {
  ASSERT_EQ(unhex(kLiteral42AtCol8To9).size(), 102u);
  Outcome o = parse("SELECT 42");
  ASSERT_EQ(o.status, 0) << o.error;
  EXPECT_TRUE(contains(hex(o.data), kLiteral42AtCol8To9)) << hex(o.data);
}

TEST(MsgPackDocument, EmptyTextsAreTheOneByteArray) {
  for (const char* sql : {"", "   \n\t", ";;;", "-- only a comment", "/* block */ ;"}) {
    SCOPED_TRACE(sql);
    Outcome o = parse(sql);
    ASSERT_EQ(o.status, 0) << o.error;
    EXPECT_EQ(hex(o.data), "90");
  }
}

TEST(MsgPackDocument, HeaderAndPositionFormsInsideDocuments) {
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += "SELECT 1;";
  Outcome many = parse(sixteen);
  ASSERT_EQ(many.status, 0) << many.error;
  EXPECT_EQ(hex(prefix(many.data, 3)), "dc 00 10");

  // Line 200 needs uint8; column 127 is the last fixint, 128 the first uint8.
  struct Case {
    int indent;
    const char* forms;
  };
  const Case cases[] = {
      // SELECT at columns 122..127, x at 129.
      {121, "a4 6c 69 6e 65 cc c8 a6 63 6f 6c 75 6d 6e 7f"},
      // SELECT at columns 121..126, x at 128.
      {120, "a4 6c 69 6e 65 cc c8 a6 63 6f 6c 75 6d 6e cc 80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.indent);
    Outcome far = parse(std::string(199, '\n') + std::string(static_cast<size_t>(c.indent), ' ') +
                        "SELECT x");
    ASSERT_EQ(far.status, 0) << far.error;
    EXPECT_TRUE(contains(hex(far.data), c.forms)) << hex(far.data);
  }

  // A 32-byte name is the first str8.
  std::string name(32, 'n');
  Outcome longName = parse("SELECT " + name);
  ASSERT_EQ(longName.status, 0) << longName.error;
  EXPECT_TRUE(contains(hex(longName.data), "a6 63 6f 6c 75 6d 6e d9 20 6e 6e"));
}

TEST(MsgPackDocument, VectorFormsInsideDocuments) {
  // The one unsigned 32-bit value: a VECTOR dimension of 128 is uint8.
  Outcome table = parse("CREATE TABLE t (v VECTOR(128, cosine))");
  ASSERT_EQ(table.status, 0) << table.error;
  EXPECT_TRUE(contains(hex(table.data),
                       "a9 64 69 6d 65 6e 73 69 6f 6e cc 80 a6 6d 65 74 72 69 63 a6 43 6f 73 69 "
                       "6e 65"))
      << hex(table.data);

  // Vector elements are float64 even when written as integers; literal numbers stay text.
  Outcome values = parse("SELECT [1, -2.5], 1.0");
  ASSERT_EQ(values.status, 0) << values.error;
  std::string doc = hex(values.data);
  EXPECT_TRUE(contains(doc,
                       "a6 76 61 6c 75 65 73 92 cb 3f f0 00 00 00 00 00 00 cb c0 04 00 00 00 00 00 "
                       "00"))
      << doc;
  EXPECT_TRUE(contains(doc, "a5 76 61 6c 75 65 a3 31 2e 30")) << doc;
}

}  // namespace
}  // namespace quorix::test

namespace quorix::test {
namespace {

// A span map written value by value with the general calls, to hold the span entry's fixed
// pattern and its general path to.
void writeComposedSpanMap(MsgPackWriter& w, const std::array<int64_t, 4>& n) {
  w.writeMapHeader(2);
  for (int half = 0; half < 2; ++half) {
    w.writeString(half == 0 ? "start" : "end");
    w.writeMapHeader(2);
    w.writeString("line");
    w.writeInt(n[2 * half]);
    w.writeString("column");
    w.writeInt(n[2 * half + 1]);
  }
}

// A span entry has a fixed pattern for numbers below 128 and a general path for the rest: on
// every boundary of every integer form, in every place, it must be the composed form.
TEST(MsgPackWriter, SpanEntriesMatchTheComposedForm) {
  auto composed = [](const std::array<int64_t, 4>& n) {
    return written([&](MsgPackWriter& w) {
      w.writeString("span");
      writeComposedSpanMap(w, n);
    });
  };
  const int64_t lines[] = {0, 1, 127, 128, 255, 256, 65535, 65536, 4294967296, -1};
  const int64_t columns[] = {0, 1, 127, 128, 255, 256, 65535, 65536};
  for (int64_t startLine : lines) {
    for (int64_t endLine : {startLine, startLine + 1}) {
      for (int64_t startColumn : columns) {
        for (int64_t endColumn : columns) {
          Bytes entry = written([&](MsgPackWriter& w) {
            w.writeSpanEntry(startLine, startColumn, endLine, endColumn);
          });
          ASSERT_EQ(hex(entry), hex(composed({startLine, startColumn, endLine, endColumn})))
              << startLine << ":" << startColumn << "-" << endLine << ":" << endColumn;
        }
      }
    }
  }
  // Each place alone past the pattern's edge, negative and past 32 bits included.
  for (size_t place = 0; place < 4; ++place) {
    for (int64_t v : {int64_t{128}, int64_t{-1}, int64_t{-33}, int64_t{4294967296}}) {
      std::array<int64_t, 4> n = {1, 2, 3, 4};
      n[place] = v;
      EXPECT_EQ(hex(written([&](MsgPackWriter& w) { w.writeSpanEntry(n[0], n[1], n[2], n[3]); })),
                hex(composed(n)))
          << "place " << place << " value " << v;
    }
  }
}

}  // namespace
}  // namespace quorix::test

namespace quorix::test {
namespace {

// Short strings are copied in overlapping pieces chosen by length; every length through and
// past those pieces must arrive whole, also right after a fixed prefix.
TEST(MsgPackWriter, EveryShortStringLengthArrivesIntact) {
  for (size_t n = 0; n <= 40; ++n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) text += static_cast<char>('A' + i);
    Bytes expected = {static_cast<uint8_t>(n <= 31 ? 0xa0 | n : 0xd9)};
    if (n > 31) expected.push_back(static_cast<uint8_t>(n));
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(written([&](MsgPackWriter& w) { w.writeString(text); }), expected) << n;
    Bytes prefixed = {0xa1, 'k'};
    prefixed.insert(prefixed.end(), expected.begin(), expected.end());
    EXPECT_EQ(written([&](MsgPackWriter& w) {
                w.run(2 + MsgPackWriter::kStrRoom).raw(packed("k")).str(text);
              }),
              prefixed)
        << n;
  }
}

}  // namespace
}  // namespace quorix::test

namespace quorix::test {
namespace {

// A size estimate far beyond the limit must not be allocated: the writer has to get as far as
// the limit and report that, not fail for want of memory.
TEST(MsgPackWriter, EstimatesBeyondTheLimitAreNotAllocated) {
  MsgPackWriter w(0, 100000);
  w.expectTotal(size_t(1) << 60);
  try {
    for (int i = 0; i < 100000; ++i) w.writeString("twenty-byte string..");
    FAIL() << "the limit was not enforced";
  } catch (const InternalDefect& e) {
    EXPECT_NE(std::string(e.what()).find("exceeds 100000 bytes"), std::string::npos) << e.what();
  } catch (const std::bad_alloc&) {
    FAIL() << "tried to allocate the estimate";
  }
  EXPECT_LE(w.capacity(), 100000u + 64);
}

}  // namespace
}  // namespace quorix::test
