// The movement relay shared per level and tick, against what a client must never see: a
// movement of a player it has not been told about or has been told has left, or a player's
// positions out of the order they were sent in.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "protocol/compression.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "scripted_session.h"
#include "server/core/server_frame.h"
#include "temp_dir.h"

namespace tarvo::server {
namespace {

namespace msg = protocol::msg;
using testing::FakeStream;
using testing::TempDir;
using testing::WriteFile;

// What one client has been told, checked message by message.
class ClientView {
 public:
  // Returns a description of the first fault in `raw`, or nothing.
  std::string Apply(std::string_view raw) {
    if (raw.empty() || raw[0] != msg::kOtherPlayer + 32) return {};
    const auto parsed = protocol::ParsePlayerEntries(raw.substr(1));
    if (!parsed) return "an unreadable relay";
    const int player = parsed->player_id;
    // Only the relay's movement lines need the player in the level: a login or a look is told
    // to players anywhere.
    bool movement_only = true;
    protocol::EntryReader scan(parsed->entries, protocol::EntrySide::kClient);
    protocol::PropertyEntry entry;
    while (scan.Next(entry) == protocol::EntryStatus::kEntry) {
      movement_only = movement_only && entry.kind == protocol::PropertyEntry::Kind::kProperty &&
                      entry.index >= protocol::kPropX &&
                      entry.index <= protocol::kPropAnimationTime;
    }
    protocol::EntryReader reader(parsed->entries, protocol::EntrySide::kClient);
    while (reader.Next(entry) == protocol::EntryStatus::kEntry) {
      if (entry.kind == protocol::PropertyEntry::Kind::kPlayerRemoved ||
          (entry.kind == protocol::PropertyEntry::Kind::kLevelPresence && entry.number == 0)) {
        present_.erase(player);
        if (entry.kind == protocol::PropertyEntry::Kind::kPlayerRemoved) last_x_.erase(player);
      } else if (entry.kind == protocol::PropertyEntry::Kind::kLevelPresence) {
        present_.insert(player);
      } else if (entry.index == protocol::kPropX) {
        if (movement_only && !present_.contains(player))
          return "movement of player " + std::to_string(player) + " who is not in the level";
        // Each sender's x only grows: a smaller one arrived out of order.
        double& last = last_x_[player];
        if (entry.number < last)
          return "player " + std::to_string(player) + " went back from x " + std::to_string(last) +
                 " to " + std::to_string(entry.number);
        last = entry.number;
        ++moves;
      } else if (entry.index == protocol::kPropZ) {
        sender_of_[player] = entry.number;
      }
    }
    return {};
  }
  std::size_t moves = 0;
  // The last x seen of the player present here whose z (the test's own tag) is `tag`.
  double LastX(double tag) const {
    for (const auto& [player, z] : sender_of_) {
      if (z == tag && present_.contains(player) && last_x_.contains(player))
        return last_x_.at(player);
    }
    return -1;
  }

 private:
  std::map<int, double> sender_of_;
  std::set<int> present_;
  std::map<int, double> last_x_;
};

class LevelRelayTest : public ::testing::TestWithParam<protocol::Compressor> {
 protected:
  void SetUp() override { ASSERT_TRUE(WriteGuestWorld(dir_)); }
  TempDir dir_;
};

INSTANTIATE_TEST_SUITE_P(Compressors, LevelRelayTest,
                         ::testing::Values(protocol::Compressor::kShared,
                                           protocol::Compressor::kLibdeflate,
                                           protocol::Compressor::kZlib),
                         [](const auto& info) {
                           return std::string(protocol::CompressorName(info.param));
                         });

// Within single ticks players join and move at once, move and leave at once, move and then
// send movement with a look, open and close UDP, on one thread and on three.
TEST_P(LevelRelayTest, NoClientSeesMovementOutsideThePlayersPresenceOrOutOfOrder) {
  for (const int threads : {1, 3}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    TServerFrame server(dir_.path(), nullptr, nullptr, dir_.path() / "cwd");
    server.SetCompression(GetParam(), threads);
    ASSERT_TRUE(server.StartServer("0").ok());
    std::mt19937 random(static_cast<unsigned>(threads));
    std::vector<std::shared_ptr<FakeStream>> streams;
    std::vector<bool> left;
    std::vector<bool> udp;
    std::vector<double> sent_x;
    const auto join = [&] {
      streams.push_back(std::make_shared<FakeStream>());
      left.push_back(false);
      udp.push_back(false);
      sent_x.push_back(-1);
      server.AcceptSession(std::make_unique<SharedStream>(streams.back()), 0x0100007F);
      streams.back()->Feed(ClientPacket(
          msg::kPlayerLogin, protocol::BuildLogin(protocol::kVersionCurrent, "guest", "guest")));
    };
    for (int i = 0; i < 12; ++i) join();
    std::vector<ClientView> views;
    std::vector<std::size_t> decoded;
    std::size_t moves_seen = 0;
    double x = 0;
    const auto move = [&](std::size_t i, bool with_look) {
      std::string entries;
      if (with_look) protocol::PutEntry(entries, protocol::kPropHeadMesh, 0, "hat.x");
      protocol::PutEntry(entries, protocol::kPropX, ++x);
      sent_x[i] = x;
      protocol::PutEntry(entries, protocol::kPropZ, static_cast<double>(i));
      streams[i]->Feed(ClientPacket(msg::kProperties, entries));
    };
    // Two quiet ticks at the end let the last messages out.
    for (int tick = 0; tick < 62; ++tick) {
      for (std::size_t i = 0; i < streams.size(); ++i) {
        if (left[i] || tick < 2 || tick >= 60) continue;
        switch (random() % 20) {
          case 0:  // moves, then its connection ends within the same tick
            move(i, false);
            streams[i]->CloseInbound();
            left[i] = true;
            break;
          case 1:
            move(i, false);
            move(i, true);
            move(i, false);
            break;
          case 4:  // twice in one tick, before this tick's newcomer enters
            move(i, false);
            move(i, false);
            break;
          case 2:
          case 3: {
            udp[i] = random() % 2 == 0;
            std::string port;
            protocol::PutEntry(port, protocol::kPropUdpPort, udp[i] ? 5000 + i : 0);
            streams[i]->Feed(ClientPacket(msg::kProperties, port));
            move(i, false);
            break;
          }
          default:
            move(i, false);
        }
      }
      if (tick % 4 == 1 && tick < 60) {
        // Arrives and moves in the same tick.
        join();
        move(streams.size() - 1, false);
      }
      server.Tick();
      views.resize(streams.size());
      decoded.resize(streams.size());
      for (std::size_t i = 0; i < streams.size(); ++i) {
        std::vector<std::string> messages;
        DecodeFrom(streams[i]->sent, decoded[i], messages);
        for (const std::string& m : messages) {
          const std::string fault = views[i].Apply(m);
          ASSERT_TRUE(fault.empty()) << "client " << i << ", tick " << tick << ": " << fault;
        }
      }
    }
    for (const ClientView& view : views) moves_seen += view.moves;
    // Each player ends up seeing every other where it is: over TCP unless both have UDP.
    for (std::size_t i = 0; i < streams.size(); ++i) {
      for (std::size_t j = 0; j < streams.size(); ++j) {
        if (i == j || left[i] || left[j] || sent_x[j] < 0 || (udp[i] && udp[j])) continue;
        EXPECT_EQ(views[i].LastX(static_cast<double>(j)), sent_x[j])
            << "client " << i << " about client " << j;
      }
    }
    EXPECT_GT(moves_seen, 1000u);
  }
}

}  // namespace
}  // namespace tarvo::server
