#include <gtest/gtest.h>

#include "test_support.h"

namespace quorix::test {
namespace {

TEST(Smoke, EmptyTextIsTheEmptyArray) {
  Outcome o = parse("");
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(hex(o.data), "90");
}

}  // namespace
}  // namespace quorix::test
