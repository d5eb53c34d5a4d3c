// The tick with its batches compressed on several threads against the tick of one thread: the
// same scripted players must receive the same messages, none later.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "protocol/compression.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "scripted_session.h"
#include "server/core/server_frame.h"
#include "server/core/worker_pool.h"
#include "support/fake_stream.h"
#include "temp_dir.h"

namespace tarvo::server {
namespace {

namespace msg = protocol::msg;
using testing::FakeStream;
using testing::TempDir;
using testing::WriteFile;

struct ReceivedStreams {
  std::vector<std::vector<std::string>> messages;  // per player, in arrival order
  std::vector<std::vector<std::size_t>> per_tick;  // per player: messages received by each tick
};

// 30 players log in, walk every tick, the operator sends long texts (batches over 4096 bytes),
// one player leaves and another arrives midway; two quiet ticks let the last messages out.
ReceivedStreams Script(const std::filesystem::path& dir, protocol::Compressor compressor,
                       int threads) {
  constexpr int kPlayers = 30;
  constexpr int kTicks = 24;
  TServerFrame server(dir, nullptr, nullptr, dir / "cwd");
  server.SetCompression(compressor, threads);
  EXPECT_TRUE(server.StartServer("0").ok());
  std::vector<std::shared_ptr<FakeStream>> streams;
  const auto join = [&] {
    streams.push_back(std::make_shared<FakeStream>());
    // Each from its own address: 30 connections not yet logged in from one would meet its cap.
    const auto address = (static_cast<std::uint32_t>(streams.size()) << 24) | 0x7Fu;
    server.AcceptSession(std::make_unique<SharedStream>(streams.back()), address);
    streams.back()->Feed(ClientPacket(
        msg::kPlayerLogin, protocol::BuildLogin(protocol::kVersionCurrent, "guest", "guest")));
  };
  for (int i = 0; i < kPlayers; ++i) join();
  ReceivedStreams run;
  run.messages.resize(kPlayers + 1);
  run.per_tick.resize(kPlayers + 1);
  std::vector<std::size_t> decoded(kPlayers + 1);
  for (int tick = 0; tick < kTicks; ++tick) {
    if (tick == 10) streams[3]->CloseInbound();
    if (tick == 12) join();
    if (tick % 5 == 2) server.SendAdminMessageToAll(std::string(3000 + tick, 'a' + tick % 26));
    for (std::size_t i = 0; i < streams.size(); ++i) {
      std::string move;
      protocol::PutEntry(move, protocol::kPropX, 100 * std::cos(tick * 0.3 + i));
      protocol::PutEntry(move, protocol::kPropZ, 100 * std::sin(tick * 0.3 + i));
      protocol::PutEntry(move, protocol::kPropViewAngle, (tick * 10 + i) % 360);
      if (tick > 1 && tick < kTicks - 2) streams[i]->Feed(ClientPacket(msg::kProperties, move));
    }
    server.Tick();
    for (std::size_t i = 0; i < streams.size(); ++i) {
      DecodeFrom(streams[i]->sent, decoded[i], run.messages[i]);
      run.per_tick[i].push_back(run.messages[i].size());
    }
  }
  return run;
}

class CompressionThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WriteGuestWorld(dir_)); }
  TempDir dir_;
};

TEST_F(CompressionThreadsTest, EveryPlayerGetsTheSameMessagesNoneLater) {
  const ReceivedStreams one = Script(dir_.path(), protocol::Compressor::kZlib, 1);
  ASSERT_GT(one.messages[0].size(), 500u);
  for (const auto compressor : {protocol::Compressor::kZlib, protocol::Compressor::kLibdeflate,
                                protocol::Compressor::kShared}) {
    SCOPED_TRACE(protocol::CompressorName(compressor));
    const ReceivedStreams many = Script(dir_.path(), compressor, 3);
    ASSERT_EQ(many.messages.size(), one.messages.size());
    for (std::size_t i = 0; i < one.messages.size(); ++i) {
      SCOPED_TRACE("player " + std::to_string(i));
      const auto& a = one.messages[i];
      const auto& b = many.messages[i];
      const auto [at, _] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
      const auto n = static_cast<std::size_t>(at - a.begin());
      EXPECT_EQ(a.size(), b.size());
      EXPECT_EQ(n, a.size()) << "first difference: \"" << a[n] << "\" against \""
                             << (n < b.size() ? b[n] : "") << "\"";
      for (std::size_t t = 0; t < one.per_tick[i].size(); ++t)
        EXPECT_GE(many.per_tick[i][t], one.per_tick[i][t]) << "tick " << t;
    }
  }
}

TEST(WorkerPoolTest, RunsEveryItemOnceAndPassesOnAFailure) {
  WorkerPool pool(3);
  EXPECT_EQ(pool.threads(), 3);
  for (std::size_t count : {0u, 1u, 2u, 7u, 500u}) {
    std::vector<std::atomic<int>> calls(count);
    pool.ForEach(count, [&](std::size_t i) { ++calls[i]; });
    for (const auto& c : calls) EXPECT_EQ(c.load(), 1);
  }
  EXPECT_THROW(pool.ForEach(64,
                            [](std::size_t i) {
                              if (i == 40) throw std::runtime_error("item failed");
                            }),
               std::runtime_error);
  std::atomic<int> after = 0;
  pool.ForEach(10, [&](std::size_t) { ++after; });
  EXPECT_EQ(after.load(), 10);
}

// The sends follow the compression session by session: each in order, each after its own job.
TEST(WorkerPoolTest, ThenRunsOnTheCallerInOrderOnceItsJobIsDone) {
  WorkerPool pool(3);
  for (std::size_t count : {1u, 2u, 300u}) {
    std::vector<std::atomic<int>> jobs(count);
    std::vector<std::size_t> order;
    const auto caller = std::this_thread::get_id();
    bool on_caller = true;
    pool.ForEach(
        count, [&](std::size_t i) { jobs[i] = static_cast<int>(i % 7) + 1; },
        [&](std::size_t i) {
          EXPECT_EQ(jobs[i].load(), static_cast<int>(i % 7) + 1) << "item " << i;
          on_caller = on_caller && std::this_thread::get_id() == caller;
          order.push_back(i);
        });
    ASSERT_EQ(order.size(), count);
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(on_caller);
  }
  // A failing job still gets its turn to the end, and the failure comes out afterwards.
  std::size_t thens = 0;
  EXPECT_THROW(pool.ForEach(
                   50,
                   [](std::size_t i) {
                     if (i == 20) throw std::runtime_error("item failed");
                   },
                   [&](std::size_t) { ++thens; }),
               std::runtime_error);
  EXPECT_EQ(thens, 50u);
}

}  // namespace
}  // namespace tarvo::server
