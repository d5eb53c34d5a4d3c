// The framing of both sides over real loopback sockets: the kernel splits and merges the
// 256-byte sends as it likes, and everything must still arrive whole and in order.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "net/address.h"
#include "net/tcp_listener.h"
#include "protocol/framing.h"
#include "protocol/messages.h"

namespace tarvo::net {
namespace {

using namespace std::chrono_literals;
using protocol::ClientSplitter;
using protocol::MessageSink;
using protocol::PacketConnection;
using protocol::ReceiveStatus;
using protocol::ServerSplitter;

struct Recorder : MessageSink {
  void OnMessage(std::string_view raw) override { messages.emplace_back(raw); }
  void OnLongMessage(std::string_view raw) override { long_messages.emplace_back(raw); }
  std::vector<std::string> messages;
  std::vector<std::string> long_messages;
};

struct ClientRecorder : Recorder {
  explicit ClientRecorder(ClientSplitter& s) : split(s) {}
  void OnMessage(std::string_view raw) override {
    Recorder::OnMessage(raw);
    auto m = protocol::SplitMessage(raw);
    if (m && m->id == protocol::msg::kLongMessageFollows) {
      if (auto n = protocol::ParseLongMessageFollows(m->payload)) split.EnterLongMessageMode(*n);
    }
  }
  ClientSplitter& split;
};

class FramingLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto listener = TcpListener::Listen(0, kLoopbackAddress);
    ASSERT_TRUE(listener) << listener.error();
    auto client = ConnectTcp(kLoopbackAddress, listener->LocalPort(), 2000ms);
    ASSERT_TRUE(client) << client.error();
    client_stream_ = std::move(*client);
    for (int i = 0; i < 200 && !server_stream_; ++i) {
      auto accepted = listener->Accept();
      if (accepted.stream) server_stream_ = std::move(accepted.stream);
      std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(server_stream_);
  }

  // Pumps both directions like two ticking programs until `done` holds or time runs out.
  template <typename Done>
  void Pump(PacketConnection& a, MessageSink& a_sink, PacketConnection& b, MessageSink& b_sink,
            Done done) {
    for (int i = 0; i < 400 && !done(); ++i) {
      a.SendPending();
      b.SendPending();
      a.ReceivePending(a_sink);
      b.ReceivePending(b_sink);
      std::this_thread::sleep_for(2ms);
    }
  }

  std::optional<TcpStream> server_stream_;
  std::optional<TcpStream> client_stream_;
};

TEST_F(FramingLoopbackTest, ManyMessagesBothWaysArriveWholeAndInOrder) {
  ServerSplitter server_split;
  ClientSplitter client_split;
  PacketConnection server(&*server_stream_, server_split, false);
  PacketConnection client(&*client_stream_, client_split, true);
  Recorder at_server;
  ClientRecorder at_client(client_split);

  std::mt19937 rng(7);
  std::uniform_int_distribution<int> length(0, 6000);
  std::vector<std::string> sent_down, sent_up;
  for (int i = 0; i < 300; ++i) {
    std::string text(length(rng), static_cast<char>('a' + i % 26));
    text += std::to_string(i);
    sent_down.push_back(std::string(1, '"') + text);
    server.QueueMessage(2, text);
    sent_up.push_back(std::string(1, '!') + text);
    client.QueueMessage(1, text);
  }
  const std::string file = std::string("bin\n\0ary", 8) + std::string(9000, '\xA7');
  server.QueueLongMessage(protocol::msg::kFile, protocol::BuildFile("pic", file));
  server.QueueMessage(8, "last");

  Pump(server, at_server, client, at_client, [&] {
    return at_server.messages.size() == sent_up.size() &&
           at_client.messages.size() == sent_down.size() + 2;
  });
  EXPECT_EQ(at_server.messages, sent_up);
  ASSERT_EQ(at_client.messages.size(), sent_down.size() + 2);
  EXPECT_TRUE(std::equal(sent_down.begin(), sent_down.end(), at_client.messages.begin()));
  EXPECT_EQ(at_client.messages.back(), "(last");
  ASSERT_EQ(at_client.long_messages.size(), 1u);
  auto parsed = protocol::ParseFile(std::string_view(at_client.long_messages[0]).substr(1));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->data, file + "\n");
}

TEST_F(FramingLoopbackTest, PeerCloseIsSeenAfterTheLastPacket) {
  ServerSplitter server_split;
  PacketConnection server(&*server_stream_, server_split, false);
  ClientSplitter client_split;
  PacketConnection client(&*client_stream_, client_split, true);
  client.QueueMessage(0, "bye");
  client.SendPending();
  client_stream_->Close();
  Recorder got;
  ReceiveStatus status = ReceiveStatus::kDrained;
  for (int i = 0; i < 200 && status == ReceiveStatus::kDrained; ++i) {
    status = server.ReceivePending(got);
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(status, ReceiveStatus::kClosed);
  EXPECT_EQ(got.messages, std::vector<std::string>{" bye"});
}

}  // namespace
}  // namespace tarvo::net
