#include "server/core/login_throttle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    for (int i = 0; i < times; ++i) throttle_.Failed(kAddress, "root", t0_ + at);
  }
  bool Blocked(std::chrono::milliseconds at, std::uint32_t address = kAddress,
               std::string_view name = "root") {
    return throttle_.Blocked(address, name, t0_ + at);
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

TEST_F(LoginThrottleTest, ACooldownHoldsOnlyItsNameAndTheTableIsPruned) {
  Fail(5, 0s);
  EXPECT_TRUE(Blocked(0s));
  EXPECT_FALSE(Blocked(0s, kAddress, "alice"));  // another account behind the same address
  // 1,000 addresses fail once each; a window plus a cool-down later they are all forgotten.
  for (std::uint32_t a = 1; a <= 1000; ++a) throttle_.Failed(a, "x", t0_ + 1s);
  EXPECT_EQ(throttle_.size(), 1001u);
  EXPECT_EQ(throttle_.address_records(), 1001u);
  throttle_.Failed(kAddress + 1, "y", t0_ + 71s);
  EXPECT_EQ(throttle_.size(), 1u);
  EXPECT_EQ(throttle_.address_records(), 1u);
}

TEST_F(LoginThrottleTest, TwentyFailingNamesCoolTheWholeAddressDown) {
  for (int i = 0; i < 19; ++i) throttle_.Failed(kAddress, "n" + std::to_string(i), t0_);
  EXPECT_FALSE(Blocked(1s, kAddress, "alice"));
  throttle_.Failed(kAddress, "n19", t0_ + 59s);
  EXPECT_TRUE(Blocked(59s, kAddress, "alice"));
  EXPECT_FALSE(Blocked(69s, kAddress, "alice"));
  EXPECT_FALSE(Blocked(59s, kAddress + 1, "alice"));
  // Names older than the window do not count.
  for (int i = 0; i < 19; ++i) throttle_.Failed(kAddress + 2, "m" + std::to_string(i), t0_);
  throttle_.Failed(kAddress + 2, "m19", t0_ + 60s);
  EXPECT_FALSE(Blocked(60s, kAddress + 2, "alice"));
  // One name failing again and again cools that name only, not the address.
  for (int i = 0; i < 25; ++i) throttle_.Failed(kAddress + 3, "root", t0_ + 100s);
  EXPECT_TRUE(Blocked(100s, kAddress + 3, "root"));
  EXPECT_FALSE(Blocked(100s, kAddress + 3, "alice"));
}

class AccountGuardTest : public ::testing::Test {
 protected:
  using Verdict = AccountGuard::Verdict;
  static constexpr std::uint32_t kOwner = 0x0100007Fu;
  // `n` failures on "root" at `at`, each from its own address.
  void Fail(int n, std::chrono::milliseconds at) {
    for (int i = 0; i < n; ++i) guard_.Failed("root", 0x0A000000u + next_address_++, t0_ + at);
  }
  Verdict Ask(std::uint64_t serial, std::chrono::milliseconds at,
              std::uint32_t address = 0x0B000001u, std::chrono::milliseconds deadline = 15s) {
    return guard_.Ask("root", serial, address, t0_ + at, t0_ + at + deadline).verdict;
  }
  std::chrono::milliseconds Interval(std::chrono::milliseconds at) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(guard_.Interval("root", t0_ + at));
  }

  ServerLimits limits_;
  AccountGuard guard_{limits_};
  AccountGuard::Clock::time_point t0_ = AccountGuard::Clock::now();
  std::uint32_t next_address_ = 1;
};

TEST_F(AccountGuardTest, TenFailuresInTenMinutesPaceTheChecksFromTwoSecondsToAMinute) {
  Fail(9, 0s);
  EXPECT_EQ(Interval(0s), 0ms);
  Fail(1, 599s);
  EXPECT_EQ(Interval(599s), 2000ms);
  EXPECT_EQ(Interval(600s), 0ms);  // the first nine are ten minutes old
  Fail(8, 600s);
  std::vector<std::chrono::milliseconds> seen;
  for (int i = 0; i < 6; ++i) {
    Fail(1, 600s);
    seen.push_back(Interval(600s));
  }
  EXPECT_EQ(seen, (std::vector<std::chrono::milliseconds>{2s, 4s, 8s, 16s, 32s, 60s}));
  EXPECT_EQ(guard_.Interval("alice", t0_ + 600s), AccountGuard::Clock::duration::zero());
}

TEST_F(AccountGuardTest, AWaitingCheckIsAnsweredAtItsTurnAndTheOwnersAddressGoesFirst) {
  Fail(10, 0s);  // once every 2 s
  EXPECT_EQ(Ask(1, 0s), Verdict::kCheck);
  EXPECT_EQ(Ask(2, 1s), Verdict::kWait);
  EXPECT_EQ(Ask(2, 1999ms), Verdict::kWait);
  EXPECT_EQ(Ask(2, 2s), Verdict::kCheck);
  // A guesser waiting since long and the owner, whose address never failed: the owner first.
  guard_.Failed("root", 0x0B000001u, t0_ + 2s);  // 11 failures: once every 4 s
  EXPECT_EQ(Ask(3, 3s), Verdict::kWait);
  EXPECT_EQ(Ask(4, 3500ms, kOwner), Verdict::kWait);
  EXPECT_EQ(Ask(3, 4s), Verdict::kWait);
  EXPECT_EQ(Ask(4, 4s, kOwner), Verdict::kCheck);
  guard_.Succeeded("root");
  EXPECT_EQ(Ask(3, 4s), Verdict::kCheck);  // the owner's login ends the pacing
  // A wait beyond the deadline is refused at once, with the time left.
  Fail(16, 7s);  // once a minute
  EXPECT_EQ(Ask(5, 7s), Verdict::kCheck);
  const auto turn = guard_.Ask("root", 6, kOwner, t0_ + 8s, t0_ + 23s);
  EXPECT_EQ(turn.verdict, Verdict::kRefuse);
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(turn.wait), 59s);
  // A session that ended no longer holds the turn.
  EXPECT_EQ(Ask(7, 60s, kOwner, 30s), Verdict::kWait);
  guard_.Forget(7);
  EXPECT_EQ(Ask(8, 67s), Verdict::kCheck);
}

TEST_F(AccountGuardTest, TheServerChecksAtMostTwoHundredPasswordsASecond) {
  int checked = 0;
  for (std::uint64_t serial = 1; serial <= 250; ++serial)
    if (guard_.Ask("user" + std::to_string(serial), serial, 1, t0_, t0_ + 15s).verdict ==
        Verdict::kCheck)
      ++checked;
  EXPECT_EQ(checked, 200);
  EXPECT_EQ(guard_.Ask("late", 251, 1, t0_ + 999ms, t0_ + 15s).verdict, Verdict::kWait);
  EXPECT_EQ(guard_.Ask("late", 252, 1, t0_ + 999ms, t0_ + 999ms).verdict, Verdict::kRefuse);
  EXPECT_EQ(guard_.Ask("late", 251, 1, t0_ + 1s, t0_ + 15s).verdict, Verdict::kCheck);
}

}  // namespace
}  // namespace tarvo::server
