#include "net/udp_socket.h"
#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "session/session_fixture.h"

namespace tarvo::client::testing {
namespace {

namespace msg = protocol::msg;

// A remote player's client: a real UDP socket on loopback.
struct Peer {
  Peer() {
    auto opened = net::UdpSocket::Open(0);
    EXPECT_TRUE(opened) << opened.error();
    if (opened) socket = std::move(*opened);
  }
  void SendTo(int port, std::string_view text) {
    socket.SendTo(net::kLoopbackAddress, static_cast<std::uint16_t>(port),
                  reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  std::optional<std::string> Receive() {
    std::uint8_t buffer[2048];
    for (int i = 0; i < 500; ++i) {
      auto r = socket.ReceiveFrom(buffer, sizeof buffer);
      if (r.status == protocol::IoStatus::kOk) {
        return std::string(reinterpret_cast<const char*>(buffer), r.bytes);
      }
      std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
  }
  net::UdpSocket socket;
};

class UdpChannelTest : public SessionTest {
 protected:
  // Announces player `id` with the peer's address and port, optionally as present in the level.
  void Announce(int id, const Peer& peer, bool present) {
    std::string payload(1, static_cast<char>(32 + id));
    if (present) protocol::PutLevelPresence(payload, true);
    payload += "/";
    protocol::PutNumber3(payload, peer.socket.LocalPort());
    payload += "0";
    protocol::PutAddress(payload, net::kLoopbackAddress);
    server.Send({{msg::kOtherPlayer, payload}});
    ASSERT_TRUE(PumpUntil([&] {
      TPlayer* p = world.FindOtherPlayer(id);
      return p != nullptr && p->ClientPort == peer.socket.LocalPort();
    }));
  }

  static std::string Movement(double x) {
    protocol::Movement m;
    m.x = x;
    m.y = 2;
    m.z = -3;
    m.view_angle = 90;
    m.animation_time = 7;
    return " " + protocol::BuildMovement(m);
  }
};

TEST_F(UdpChannelTest, DatagramsAreAcceptedOnlyFromAKnownAddressAndPort) {
  Connect();
  ASSERT_GT(session->UdpPort(), 0);
  Peer known, stranger;
  Announce(5, known, false);
  TPlayer& five = *world.FindOtherPlayer(5);

  stranger.SendTo(session->UdpPort(), Movement(40));            // right address, another port
  known.SendTo(session->UdpPort(), Movement(60).substr(0, 9));  // body of 8 bytes
  known.SendTo(session->UdpPort(), "");                         // empty: carries nothing
  known.SendTo(session->UdpPort(), Movement(80) + "extra");
  ASSERT_TRUE(PumpUdpUntil([&] { return five.X != 0; }));
  EXPECT_EQ(five.X, 80);
  EXPECT_EQ(five.Y, 2);
  EXPECT_EQ(five.Z, -3);
  EXPECT_EQ(five.Angle, 90);
  EXPECT_EQ(five.AnimTime, 7);
  EXPECT_EQ(session->Stats().udp_movements, 1u);
  EXPECT_EQ(session->Stats().datagrams_dropped, 2u);
  EXPECT_GT(session->UdpPort(), 0);  // the empty datagram did not shut the channel
}

TEST_F(UdpChannelTest, ChatDatagramBecomesTheSendersChatLine) {
  struct Lines : ChatDisplay {
    void AddChatLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
  } chat;
  world.SetChat(&chat);
  Connect();
  Peer known;
  Announce(6, known, false);
  world.FindOtherPlayer(6)->Nickname = "Six";
  known.SendTo(session->UdpPort(), "!" + std::string(230, 'z') + std::string(1, '\0') + "tail");
  ASSERT_TRUE(PumpUdpUntil([&] { return !chat.lines.empty(); }));
  // Cut at the zero byte, then to 200 bytes by the chat entry.
  EXPECT_EQ(world.FindOtherPlayer(6)->ChatText, std::string(200, 'z'));
  EXPECT_EQ(chat.lines[0], "Six: " + std::string(200, 'z'));
}

TEST_F(UdpChannelTest, MovementAndChatGoToLevelPeersOnly) {
  Connect();
  Peer in_level, elsewhere;
  Announce(7, in_level, true);
  Announce(8, elsewhere, false);
  ASSERT_EQ(session->UdpPeers().size(), 1u);

  TPlayer& me = world.LocalPlayer();
  me.ReportChanges();  // the first report sends no movement
  me.X = 10;
  me.Angle = 270;
  me.ReportChanges();
  auto got = in_level.Receive();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 10u);
  auto movement = protocol::ParseMovement(got->substr(1));
  ASSERT_TRUE(movement.has_value());
  EXPECT_EQ(movement->x, 10);
  EXPECT_EQ(movement->view_angle, 270);

  session->SendChat(std::string(250, 'c'));
  got = in_level.Receive();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, "!" + std::string(200, 'c') + "...");
  EXPECT_FALSE(elsewhere.Receive().has_value());

  // Leaving the level ("R" with a blank) and removal ("S") take players off the peer list.
  server.Send({{msg::kOtherPlayer, std::string(1, char(32 + 7)) + "R "}});
  ASSERT_TRUE(PumpUntil([&] { return session->UdpPeers().empty(); }));
  server.Send({{msg::kOtherPlayer, std::string(1, char(32 + 8)) + "R!"},
               {msg::kOtherPlayer, std::string(1, char(32 + 8)) + "S"}});
  ASSERT_TRUE(PumpUntil([&] { return world.FindOtherPlayer(8) == nullptr; }));
  EXPECT_TRUE(session->UdpPeers().empty());
  EXPECT_EQ(world.OtherPlayers().size(), 1u);
}

TEST_F(UdpChannelTest, WithoutUdpNoSocketExistsAndPortZeroIsAnnounced) {
  settings.NoUdp = true;
  Connect();
  EXPECT_EQ(session->UdpPort(), 0);
  world.LocalPlayer().ReportChanges();
  session->SendPending();
  const auto& got = server.Receive(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].substr(got[1].size() - 4), "/   ");

  // Turning UDP on in the options opens the channel; the next report announces it.
  settings.NoUdp = false;
  session->ApplyUdpSettings();
  ASSERT_GT(session->UdpPort(), 0);
  world.LocalPlayer().ReportChanges();
  session->SendPending();
  const auto& more = server.Receive(3);
  ASSERT_EQ(more.size(), 3u);
  std::string port_entry = "/";
  protocol::PutNumber3(port_entry, session->UdpPort());
  EXPECT_EQ(more[2], "!" + port_entry);

  settings.NoUdp = true;
  session->ApplyUdpSettings();
  EXPECT_EQ(session->UdpPort(), 0);
}

TEST_F(UdpChannelTest, FixedPortAlreadyTakenLeavesTheClientOnTcp) {
  Peer holder;  // takes the port first
  settings.FixedPort = true;
  settings.FixedUdpPort = holder.socket.LocalPort();
  Connect();
  EXPECT_EQ(session->UdpPort(), 0);
  EXPECT_TRUE(session->Connected());

  // A free fixed port is bound exactly; an unchanged setting leaves the channel alone.
  Peer probe;
  const int free_port = probe.socket.LocalPort();
  probe.socket.Close();
  settings.FixedUdpPort = free_port;
  session->ApplyUdpSettings();
  EXPECT_EQ(session->UdpPort(), free_port);
  session->ApplyUdpSettings();
  EXPECT_EQ(session->UdpPort(), free_port);
}

TEST_F(UdpChannelTest, KeepAliveEverySecondAndFallBackAfterFiveSilentSeconds) {
  std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
  options.clock = [&now] { return now; };
  Connect();
  Peer peer, silent_elsewhere;
  Announce(7, peer, true);
  Announce(8, silent_elsewhere, false);  // no peer: its silence does not count
  TPlayer& me = world.LocalPlayer();
  me.X = 25;
  me.ReportChanges();  // the first report: no movement datagram
  const auto at = [&](double seconds) {
    now = std::chrono::steady_clock::time_point{std::chrono::hours(1)} +
          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
              std::chrono::duration<double>(seconds));
    me.ReportChanges();
    session->MaintainUdpChannel();
    return session->Stats().datagrams_sent;
  };

  // Standing still, the position still goes out once a second.
  EXPECT_EQ(at(0), 1u);
  const auto got = peer.Receive();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, " " + me.MovementBody());
  EXPECT_EQ(at(0.9), 1u);
  EXPECT_EQ(at(1.0), 2u);
  // A step is sent at once and restarts the second.
  me.X = 26;
  EXPECT_EQ(at(1.5), 3u);
  EXPECT_EQ(at(2.4), 3u);
  EXPECT_EQ(at(2.5), 4u);

  // A datagram from the peer at 3 s restarts the silence; 5 s after it the channel closes.
  at(3.0);
  peer.SendTo(session->UdpPort(), Movement(1));
  ASSERT_TRUE(PumpUdpUntil([&] { return session->Stats().datagrams_received == 1; }));
  at(7.9);
  EXPECT_GT(session->UdpPort(), 0);
  EXPECT_TRUE(host.notices.empty());
  const std::uint64_t sent = at(8.0);
  EXPECT_EQ(session->UdpPort(), 0);
  EXPECT_EQ(session->Stats().udp_fallbacks, 1u);
  EXPECT_EQ(host.notices, std::vector<std::string>{std::string(kUdpBlockedText)});
  EXPECT_TRUE(session->Connected());
  // The next report tells the server port 0, and no datagram leaves any more.
  me.ReportChanges();
  EXPECT_EQ(session->OutgoingBatch().substr(session->OutgoingBatch().size() - 6), "!/   \n");
  EXPECT_EQ(at(20), sent);
  // The options dialog tries UDP again.
  session->ApplyUdpSettings();
  EXPECT_GT(session->UdpPort(), 0);
}

TEST_F(UdpChannelTest, DisconnectFreesPlayersAndPeers) {
  Connect();
  Peer in_level;
  Announce(9, in_level, true);
  server.Close();
  ASSERT_TRUE(PumpUntil([&] { return !session->Connected(); }));
  EXPECT_TRUE(world.OtherPlayers().empty());
  EXPECT_TRUE(session->UdpPeers().empty());
  EXPECT_EQ(session->UdpPort(), 0);
  // A report after the end sends nothing and touches no freed player.
  world.LocalPlayer().X = 50;
  session->SendMovement("123456789");
  EXPECT_EQ(session->Stats().datagrams_sent, 0u);
}

}  // namespace
}  // namespace tarvo::client::testing
