// Raw bytes straight into quorix_parse_sql, once as a counted buffer and once as a C string,
// with the record, message and document invariants of invariants.h, and the tools' contract
// of tools_check.h.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "invariants.h"
#include "quorix_sql_parser.h"
#include "tools_check.h"

namespace {

using quorix_fuzz::isDefect;
using quorix_fuzz::isMetricFieldDefect;
using quorix_fuzz::kDefectPrefix;
using quorix_fuzz::Outcome;
using quorix_fuzz::parseChecked;
using quorix_fuzz::violation;

bool mentionsVector(std::string_view text) {
  for (size_t i = 0; i + 6 <= text.size(); ++i) {
    static constexpr char kWord[] = "vector";
    size_t j = 0;
    while (j < 6 && (text[i + j] | 0x20) == kWord[j]) ++j;
    if (j == 6) return true;
  }
  return false;
}

// Only the documented defect is acceptable from text without a NUL.
void checkDefect(const Outcome& o, std::string_view text) {
  if (isDefect(o) && !(isMetricFieldDefect(o) && mentionsVector(text)))
    violation("internal defect", text, o.bytes);
}

void checkSame(const Outcome& a, const Outcome& b, std::string_view text, const char* what) {
  if (a.status != b.status || a.bytes != b.bytes)
    violation(what, text, a.bytes.substr(0, 2000) + "\n---\n" + b.bytes.substr(0, 2000));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t(1) << 20)) return 0;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const size_t nul = raw.find('\0');
  const std::string text(raw.substr(0, nul));  // terminated copy, cut at the first NUL

  const Outcome asString = parseChecked(text.c_str(), 0, text);
  checkDefect(asString, text);
  quorix_fuzz::checkTools(text, asString);

  if (size > 0) {
    // libFuzzer's buffer has no terminator: reading past data[size - 1] is an ASan report.
    const Outcome counted = parseChecked(raw.data(), static_cast<int32_t>(size), raw);
    if (nul == std::string_view::npos) {
      checkSame(counted, asString, raw, "counted and NUL-terminated parses differ");
    } else {
      // A NUL inside the counted bytes is the index fault at the measured length.
      const std::string expected =
          std::string(kDefectPrefix) +
          (nul == 0 ? std::string("index out of bounds, the container is empty")
                    : "index " + std::to_string(nul) + " not in 0 .. " + std::to_string(nul - 1));
      if (counted.status != 1 || counted.bytes != expected)
        violation("NUL inside the counted bytes not reported as the index fault", raw,
                  counted.bytes.substr(0, 2000));
    }
  }

  // Now and then: a negative length reads the C string, and a shorter count parses a prefix.
  if (!text.empty() && (data[0] & 7) == 0) {
    checkSame(parseChecked(text.c_str(), -1, text), asString, text, "len -1 differs from len 0");
    const size_t half = text.size() / 2;
    if (half > 0) {
      const std::string prefix = text.substr(0, half);
      checkSame(parseChecked(text.c_str(), static_cast<int32_t>(half), prefix),
                parseChecked(prefix.c_str(), 0, prefix), prefix,
                "counted prefix differs from the same bytes as a C string");
    }
  }
  return 0;
}
