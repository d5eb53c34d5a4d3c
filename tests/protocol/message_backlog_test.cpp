#include "protocol/message_backlog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/fake_stream.h"

namespace tarvo::protocol {
namespace {

using Clock = MessageBacklog::Clock;

struct Handled {
  std::vector<std::string> raw;
  std::vector<bool> long_message;
  auto Handler() {
    return [this](std::string_view r, bool l) {
      raw.emplace_back(r);
      long_message.push_back(l);
    };
  }
};

TEST(MessageBacklog, ATickHandlesExactlyTheBudgetAndTheRestWaitsInOrder) {
  MessageBacklog backlog(256);
  for (int i = 0; i < 1000; ++i) {
    if (i == 300) {
      backlog.OnLongMessage(std::string("long\n\0body", 10));  // any byte, its kind kept
    } else {
      backlog.OnMessage("m" + std::to_string(i));
    }
  }
  Handled handled;
  EXPECT_EQ(backlog.Handle(handled.Handler()), 256u);
  EXPECT_EQ(backlog.size(), 744u);
  ASSERT_EQ(handled.raw.size(), 256u);
  EXPECT_EQ(handled.raw.front(), "m0");
  EXPECT_EQ(handled.raw.back(), "m255");
  EXPECT_EQ(backlog.Handle(handled.Handler()), 256u);
  EXPECT_EQ(backlog.Handle(handled.Handler()), 256u);
  EXPECT_EQ(backlog.Handle(handled.Handler()), 232u);
  EXPECT_TRUE(backlog.empty());
  ASSERT_EQ(handled.raw.size(), 1000u);
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(handled.long_message[i], i == 300) << i;
    if (i != 300) {
      EXPECT_EQ(handled.raw[i], "m" + std::to_string(i));
    }
  }
  EXPECT_EQ(handled.raw[300], std::string("long\n\0body", 10));
}

TEST(MessageBacklog, FullAtTwiceTheBudgetAndTheGateThenReadsNothing) {
  MessageBacklog backlog(256);
  testing::FakeStream socket;
  BackloggedStream gate(&socket, backlog);
  socket.Feed("x");
  for (int i = 0; i < 511; ++i) backlog.OnMessage("m");
  EXPECT_FALSE(backlog.Full());
  backlog.OnMessage("m");
  EXPECT_TRUE(backlog.Full());
  std::uint8_t byte = 0;
  EXPECT_EQ(gate.Receive(&byte, 1).status, IoStatus::kWouldBlock);
  EXPECT_EQ(socket.receive_calls, 0u);
  backlog.Handle([](std::string_view, bool) {});
  EXPECT_EQ(gate.Receive(&byte, 1).status, IoStatus::kOk);
  EXPECT_EQ(byte, 'x');

  MessageBacklog unlimited(0);
  for (int i = 0; i < 1000; ++i) unlimited.OnMessage("m");
  EXPECT_FALSE(unlimited.Full());
  EXPECT_EQ(unlimited.Handle([](std::string_view, bool) {}), 1000u);
}

TEST(MessageBacklog, ATickPastItsTimeStillHandlesOneMessage) {
  MessageBacklog backlog(256);
  for (int i = 0; i < 3; ++i) backlog.OnMessage("m" + std::to_string(i));
  Handled handled;
  const Clock::time_point past = Clock::now() - std::chrono::milliseconds(1);
  EXPECT_EQ(backlog.Handle(handled.Handler(), past), 1u);
  EXPECT_EQ(backlog.Handle(handled.Handler(), past), 1u);
  EXPECT_EQ(handled.raw, (std::vector<std::string>{"m0", "m1"}));
}

TEST(MessageBacklog, ClearFromAHandlerEndsTheTickAfterIt) {
  MessageBacklog backlog(256);
  for (int i = 0; i < 10; ++i) backlog.OnMessage("m" + std::to_string(i));
  std::vector<std::string> seen;
  std::size_t nested = 1;
  backlog.Handle([&](std::string_view raw, bool) {
    seen.emplace_back(raw);
    nested = backlog.Handle([](std::string_view, bool) {});  // re-entry does nothing
    if (raw == "m2") backlog.Clear();
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"m0", "m1", "m2"}));
  EXPECT_EQ(nested, 0u);
  EXPECT_TRUE(backlog.empty());
  backlog.OnMessage("next");
  EXPECT_EQ(backlog.Handle([](std::string_view, bool) {}), 1u);
}

TEST(MessageBacklog, AHandlerThatThrowsLeavesTheRestWaiting) {
  MessageBacklog backlog(256);
  for (int i = 0; i < 3; ++i) backlog.OnMessage("m" + std::to_string(i));
  const auto fails_on_m1 = [](std::string_view raw, bool) {
    if (raw == "m1") throw std::runtime_error("bad");
  };
  EXPECT_THROW(backlog.Handle(fails_on_m1), std::runtime_error);
  Handled handled;
  EXPECT_EQ(backlog.Handle(handled.Handler()), 1u);
  EXPECT_EQ(handled.raw, (std::vector<std::string>{"m2"}));
}

}  // namespace
}  // namespace tarvo::protocol
