#include "base/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tarvo::base {
namespace {

Result<int> Half(int n) {
  if (n % 2 != 0) return Fail(std::to_string(n) + " is odd");
  return n / 2;
}

Result<void> Check(bool good) {
  if (!good) return Fail("not good");
  return Ok();
}

TEST(ResultTest, CarriesTheValueOrTheReason) {
  const Result<int> half = Half(8);
  ASSERT_TRUE(half.ok());
  EXPECT_EQ(*half, 4);
  EXPECT_TRUE(half.error().empty());

  const Result<int> odd = Half(7);
  EXPECT_FALSE(odd);
  EXPECT_EQ(odd.error(), "7 is odd");

  EXPECT_TRUE(Check(true).ok());
  const Result<void> bad = Check(false);
  EXPECT_FALSE(bad.ok());
  EXPECT_EQ(bad.error(), "not good");
}

TEST(ResultTest, MovesAValueThatCannotBeCopiedOut) {
  Result<std::unique_ptr<int>> made = std::make_unique<int>(5);
  ASSERT_TRUE(made.ok());
  const std::unique_ptr<int> taken = std::move(made).value();
  EXPECT_EQ(*taken, 5);
}

}  // namespace
}  // namespace tarvo::base
