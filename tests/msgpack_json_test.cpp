// The JSON renderer that quorix-sql and the golden tests share: its text must be valid UTF-8
// whatever bytes a document's strings hold (names may be single stray bytes), and it must
// render a document of any depth, since every term of a chain adds levels.
#include "msgpack_json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/msgpack_writer.h"

namespace quorix::test {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

std::string renderedString(std::string_view bytes) {
  MsgPackWriter w;
  w.writeString(bytes);
  return tools::msgpackToJson(w.data(), w.size(), tools::JsonStyle{false});
}

TEST(JsonStrings, BytesOutsideWellFormedUtf8BecomeOneReplacementEach) {
  const std::string r = kFffd;
  const struct {
    const char* what;
    std::string bytes;
    std::string json;  // between the quotes
  } cases[] = {
      {"escapes", "a\"b\\c\n\t\x01\x7f", "a\\\"b\\\\c\\n\\t\\u0001\\u007f"},
      {"two bytes", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"lowest two-byte", "\xC2\x80", "\xC2\x80"},
      {"three bytes", "\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"lowest three-byte", "\xE0\xA0\x80", "\xE0\xA0\x80"},
      {"last before surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
      {"first after surrogates", "\xEE\x80\x80", "\xEE\x80\x80"},
      {"four bytes", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      // SELECT é FROM t: the name is the lead byte, the alias the continuation byte.
      {"lead byte alone", "\xC3", r},
      {"continuation alone", "\xA9", r},
      {"overlong two-byte", "\xC0\xAF", r + r},
      {"overlong two-byte, C1", "\xC1\xBF", r + r},
      {"overlong three-byte", "\xE0\x80\xAF", r + r + r},
      {"overlong four-byte", "\xF0\x8F\xBF\xBF", r + r + r + r},
      {"surrogate D800", "\xED\xA0\x80", r + r + r},
      {"surrogate DFFF", "\xED\xBF\xBF", r + r + r},
      {"past U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"F5 and up", "\xF5\xF8\xFE\xFF", r + r + r + r},
      {"cut short at the end", "a\xE2\x82", "a" + r + r},
      {"cut short by ASCII", std::string("\xE2\x82") + "b", r + r + "b"},
      {"cut short by a new lead", "\xF0\x9F\xC3\xA9", r + r + "\xC3\xA9"},
      {"stray before valid", "\xFF\xC3\xA9", r + "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(renderedString(c.bytes), "\"" + c.json + "\"");
  }
  // Keys are strings like any other.
  MsgPackWriter w;
  w.writeMapHeader(1);
  w.writeString("\xC3");
  w.writeString("\xA9");
  EXPECT_EQ(tools::msgpackToJson(w.data(), w.size(), tools::JsonStyle{false}),
            "{\"" + r + "\":\"" + r + "\"}");
}

// An independent reading of UTF-8: assembles the code point by arithmetic and then rejects
// what is overlong, a surrogate or past U+10FFFF, where the renderer bounds the second byte.
// Covers the bytes the inputs below are drawn from: printable ASCII except '"' and '\' (which
// stand for themselves), and 0x80..0xFF.
std::string expectedJsonBody(std::string_view in) {
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<unsigned char>(in[i]);
    const size_t len = lead < 0x80   ? 1
                       : lead < 0xc0 ? 0
                       : lead < 0xe0 ? 2
                       : lead < 0xf0 ? 3
                       : lead < 0xf8 ? 4
                                     : 0;
    bool ok = len != 0 && i + len <= in.size();
    uint32_t cp = len == 1 ? lead : lead & (0x7fu >> len);
    for (size_t k = 1; ok && k < len; ++k) {
      const auto c = static_cast<unsigned char>(in[i + k]);
      ok = (c & 0xc0) == 0x80;
      cp = cp << 6 | (c & 0x3fu);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= kLeast[len] && (cp < 0xd800 || cp > 0xdfff) && cp <= 0x10ffff;
    if (ok) {
      out.append(in.substr(i, len));
      i += len;
    } else {
      out += kFffd;
      ++i;
    }
  }
  return out;
}

TEST(JsonStrings, AgreeWithAnArithmeticDecoderOnGeneratedBytes) {
  std::vector<unsigned char> alphabet;
  for (int b = 0x20; b < 0x7f; ++b) {
    if (b != '"' && b != '\\') alphabet.push_back(static_cast<unsigned char>(b));
  }
  for (int b = 0x80; b <= 0xff; ++b) alphabet.push_back(static_cast<unsigned char>(b));
  size_t checked = 0;
  size_t mismatches = 0;
  auto check = [&](const std::string& bytes) {
    ++checked;
    if (renderedString(bytes) != "\"" + expectedJsonBody(bytes) + "\"" && ++mismatches <= 5) {
      ADD_FAILURE() << "bytes " << testing::PrintToString(bytes);
    }
  };
  // Every pair, and every lead byte of a longer sequence with every second byte and the
  // boundary values of the continuation range (and just outside it) after that.
  for (unsigned char a : alphabet) {
    check(std::string(1, static_cast<char>(a)));
    for (unsigned char b : alphabet) check({static_cast<char>(a), static_cast<char>(b)});
  }
  const char tails[] = {'A', '\x7e', '\x80', '\x8f', '\x90', '\x9f', '\xa0', '\xbf', '\xc0'};
  for (int lead = 0xe0; lead <= 0xff; ++lead) {
    for (unsigned char second : alphabet) {
      for (char third : tails) {
        std::string s = {static_cast<char>(lead), static_cast<char>(second), third};
        check(s);
        for (char fourth : tails) check(s + fourth);
      }
    }
  }
  // Longer strings mixing everything, seeded so a failure can be replayed.
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<size_t> length(0, 12);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  for (int n = 0; n < 100000; ++n) {
    std::string s(length(rng), '\0');
    for (char& c : s) c = static_cast<char>(alphabet[pick(rng)]);
    check(s);
  }
  EXPECT_EQ(mismatches, 0u) << "of " << checked;
}

TEST(JsonDepth, AMillionLevelsRenderWithoutRecursion) {
  constexpr size_t kDepth = 1000000;
  // [[[...null...]]] and {"k":{"k":...null...}}, a million containers deep each.
  std::vector<uint8_t> arrays(kDepth, 0x91);
  arrays.push_back(0xc0);
  EXPECT_EQ(tools::msgpackToJson(arrays.data(), arrays.size(), tools::JsonStyle{false}),
            std::string(kDepth, '[') + "null" + std::string(kDepth, ']'));
  std::vector<uint8_t> maps;
  for (size_t i = 0; i < kDepth; ++i) maps.insert(maps.end(), {0x81, 0xa1, 'k'});
  maps.push_back(0xc0);
  std::string expected;
  for (size_t i = 0; i < kDepth; ++i) expected += "{\"k\":";
  expected += "null" + std::string(kDepth, '}');
  EXPECT_EQ(tools::msgpackToJson(maps.data(), maps.size(), tools::JsonStyle{false}), expected);
}

}  // namespace
}  // namespace quorix::test
