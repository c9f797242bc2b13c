// Golden documents: every tests/golden/NAME.sql is parsed whole and its document, rendered as
// pretty JSON by the same renderer the command-line tool uses, must equal NAME.json.
//
// An error result is recorded as the one-entry object {"error": "<message>"}, rendered by that
// renderer too, so a file shows at a glance whether the text is meant to fail; no document is
// ever an object at the top level, so the two cannot be confused.
//
// QUORIX_UPDATE_GOLDEN=1 rewrites the .json files from what the library produces today.
// Every rewritten file must be read against the documented format before it is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "encoder/msgpack_writer.h"
#include "test_support.h"

namespace quorix::test {
namespace {

namespace fs = std::filesystem;

fs::path goldenDir() { return fs::path(QUORIX_TEST_DATA_DIR) / "golden"; }

bool updating() {
  const char* v = std::getenv("QUORIX_UPDATE_GOLDEN");
  return v != nullptr && std::string(v) == "1";
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> goldenNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(goldenDir(), ec)) {
    if (e.path().extension() == ".sql") names.push_back(e.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string rendered(const Outcome& o) {
  if (o.status == 0) return o.json() + "\n";
  MsgPackWriter w;
  w.writeMapHeader(1);
  w.writeString("error");
  w.writeString(o.error);
  return tools::msgpackToJson(w.data(), w.size()) + "\n";
}

class Golden : public testing::TestWithParam<std::string> {};

TEST_P(Golden, MatchesRecordedDocument) {
  const fs::path sqlPath = goldenDir() / (GetParam() + ".sql");
  const fs::path jsonPath = goldenDir() / (GetParam() + ".json");
  // The whole file, NUL-terminated: comments, blank lines and CRLF endings included.
  const std::string actual = rendered(parse(readFile(sqlPath)));
  if (updating()) {
    std::ofstream(jsonPath, std::ios::binary) << actual;
    GTEST_SKIP() << "rewrote " << jsonPath;
  }
  ASSERT_TRUE(fs::exists(jsonPath)) << "no recorded document; run with QUORIX_UPDATE_GOLDEN=1";
  EXPECT_EQ(actual, readFile(jsonPath)) << "for " << sqlPath;
}

std::string testName(const testing::TestParamInfo<std::string>& param) {
  std::string name = param.param;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Golden, testing::ValuesIn(goldenNames()), testName);

TEST(GoldenFiles, EveryDocumentHasItsText) {
  EXPECT_FALSE(goldenNames().empty()) << "no .sql files in " << goldenDir();
  for (const auto& e : fs::directory_iterator(goldenDir())) {
    if (e.path().extension() != ".json") continue;
    fs::path sql = e.path();
    sql.replace_extension(".sql");
    EXPECT_TRUE(fs::exists(sql)) << e.path() << " is left over";
  }
}

}  // namespace
}  // namespace quorix::test
