#include "server/core/login_throttle.h"

#include <gtest/gtest.h>

namespace tarvo::server {
namespace {

using namespace std::chrono_literals;

class LoginThrottleTest : public ::testing::Test {
 protected:
  LoginThrottleTest() {
    limits_.login_failures = 5;
    limits_.login_failure_window = 60s;
    limits_.login_cooldown = 10s;
    limits_.login_cooldown_max = 600s;
  }
  void Fail(int times, std::chrono::milliseconds at) {
    for (int i = 0; i < times; ++i) throttle_.Failed(kAddress, t0_ + at);
  }
  bool Blocked(std::chrono::milliseconds at, std::uint32_t address = kAddress) {
    return throttle_.Blocked(address, t0_ + at);
  }

  static constexpr std::uint32_t kAddress = 0x0900710Bu;
  ServerLimits limits_;
  LoginThrottle throttle_{limits_};
  LoginThrottle::Clock::time_point t0_ = LoginThrottle::Clock::now();
};

TEST_F(LoginThrottleTest, FifthFailureWithinTheWindowStartsTheCooldown) {
  Fail(4, 0s);
  EXPECT_FALSE(Blocked(0s));
  Fail(1, 59999ms);
  EXPECT_TRUE(Blocked(59999ms));
  EXPECT_TRUE(Blocked(69998ms));
  EXPECT_FALSE(Blocked(69999ms));  // exactly 10 s later
  EXPECT_FALSE(Blocked(59999ms, kAddress + 1));
}

TEST_F(LoginThrottleTest, FailuresOlderThanTheWindowDoNotCount) {
  Fail(4, 0s);
  Fail(1, 60s);
  EXPECT_FALSE(Blocked(60s));
}

TEST_F(LoginThrottleTest, EachFurtherFailureDoublesUpToTheMaximum) {
  Fail(5, 0s);
  Fail(1, 10s);  // 20 s
  EXPECT_TRUE(Blocked(29999ms));
  EXPECT_FALSE(Blocked(30s));
  auto at = 30s;
  for (auto expected : {40s, 80s, 160s, 320s, 600s, 600s}) {
    Fail(1, at);
    EXPECT_TRUE(Blocked(at + expected - 1ms));
    EXPECT_FALSE(Blocked(at + expected));
    at += expected;
  }
}

TEST_F(LoginThrottleTest, AQuietAddressStartsAfresh) {
  Fail(5, 0s);
  // A window plus the cool-down after the last failure, the record is forgotten.
  Fail(1, 70s);
  EXPECT_FALSE(Blocked(70s));
  Fail(4, 70s);
  EXPECT_TRUE(Blocked(70s));  // five fresh failures, the first cool-down again
  EXPECT_FALSE(Blocked(80s));
  EXPECT_EQ(throttle_.size(), 1u);
}

}  // namespace
}  // namespace tarvo::server
