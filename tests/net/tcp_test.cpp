#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/address.h"
#include "net/tcp_listener.h"
#include "net/tcp_stream.h"

namespace tarvo::net {
namespace {

using protocol::IoStatus;
using namespace std::chrono_literals;

// Polls a non-blocking accept until a connection arrives or a generous bound passes.
AcceptResult AcceptSoon(TcpListener& listener) {
  AcceptResult result;
  for (int i = 0; i < 500; ++i) {
    result = listener.Accept();
    if (result.status != IoStatus::kWouldBlock) {
      break;
    }
    std::this_thread::sleep_for(2ms);
  }
  return result;
}

// Reads until `size` bytes arrived, the stream ends, or a generous bound passes.
std::string ReceiveSoon(TcpStream& stream, std::size_t size, IoStatus* last = nullptr) {
  std::string text;
  std::uint8_t buffer[1024];
  IoStatus status = IoStatus::kWouldBlock;
  for (int i = 0; i < 500 && text.size() < size; ++i) {
    const protocol::IoResult result = stream.Receive(buffer, sizeof(buffer));
    status = result.status;
    if (status == IoStatus::kOk) {
      text.append(reinterpret_cast<const char*>(buffer), result.bytes);
    } else if (status == IoStatus::kWouldBlock) {
      std::this_thread::sleep_for(2ms);
    } else {
      break;
    }
  }
  if (last != nullptr) {
    *last = status;
  }
  return text;
}

struct Pair {
  TcpListener listener;
  TcpStream client;
  AcceptResult accepted;
};

Pair Connect() {
  Pair pair;
  auto listener = TcpListener::Listen(0, kLoopbackAddress);
  EXPECT_TRUE(listener) << listener.error();
  pair.listener = std::move(*listener);
  auto client = ConnectTcp(kLoopbackAddress, pair.listener.LocalPort(), 5s);
  EXPECT_TRUE(client) << client.error();
  pair.client = std::move(*client);
  pair.accepted = AcceptSoon(pair.listener);
  EXPECT_EQ(pair.accepted.status, IoStatus::kOk);
  return pair;
}

TEST(TcpTest, ConnectAcceptAndExchangeBothWays) {
  Pair pair = Connect();
  ASSERT_TRUE(pair.accepted.stream);
  TcpStream& server = *pair.accepted.stream;
  EXPECT_TRUE(server.IsOpen());
  EXPECT_EQ(pair.accepted.peer_address, kLoopbackAddress);
  EXPECT_EQ(pair.accepted.peer_address, 0x0100007Fu);
  EXPECT_NE(pair.accepted.peer_port, 0);

  const std::string hello = "hello\nserver";
  auto sent = pair.client.Send(reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size());
  ASSERT_EQ(sent.status, IoStatus::kOk);
  EXPECT_EQ(sent.bytes, hello.size());
  EXPECT_EQ(ReceiveSoon(server, hello.size()), hello);

  // Every byte value travels unchanged, including zero and line feeds.
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  sent = server.Send(reinterpret_cast<const std::uint8_t*>(binary.data()), binary.size());
  ASSERT_EQ(sent.status, IoStatus::kOk);
  EXPECT_EQ(ReceiveSoon(pair.client, binary.size()), binary);
}

TEST(TcpTest, EmptyReadWouldBlockAndKeepsTheStreamOpen) {
  Pair pair = Connect();
  std::uint8_t buffer[16];
  EXPECT_EQ(pair.client.Receive(buffer, sizeof(buffer)).status, IoStatus::kWouldBlock);
  EXPECT_EQ(pair.accepted.stream->Receive(buffer, sizeof(buffer)).status, IoStatus::kWouldBlock);
  // A zero-capacity read is not mistaken for the peer's close.
  EXPECT_EQ(pair.client.Receive(buffer, 0).status, IoStatus::kOk);
  EXPECT_TRUE(pair.client.IsOpen());
}

TEST(TcpTest, PeerCloseIsReportedAfterPendingData) {
  Pair pair = Connect();
  const std::string bye = "bye";
  pair.accepted.stream->Send(reinterpret_cast<const std::uint8_t*>(bye.data()), bye.size());
  pair.accepted.stream->Close();
  EXPECT_FALSE(pair.accepted.stream->IsOpen());

  IoStatus last = IoStatus::kOk;
  EXPECT_EQ(ReceiveSoon(pair.client, 1000, &last), bye);
  EXPECT_EQ(last, IoStatus::kClosed);
}

TEST(TcpTest, SendingToAResetPeerIsAnErrorNotASignal) {
  Pair pair = Connect();
  // Linger 0 makes the close send a reset instead of an orderly end.
  linger hard{1, 0};
  setsockopt(pair.accepted.stream->fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
  pair.accepted.stream->Close();

  // Without MSG_NOSIGNAL this loop would kill the test program with SIGPIPE.
  std::vector<std::uint8_t> data(4096, 'x');
  IoStatus status = IoStatus::kOk;
  for (int i = 0; i < 500 && status != IoStatus::kError; ++i) {
    status = pair.client.Send(data.data(), data.size()).status;
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(status, IoStatus::kError);
}

TEST(TcpTest, FullSendBufferWouldBlock) {
  Pair pair = Connect();
  std::vector<std::uint8_t> data(65536, 'y');
  IoStatus status = IoStatus::kOk;
  std::size_t total = 0;
  // Nobody reads on the other side, so the kernel buffers fill up within a few megabytes.
  for (int i = 0; i < 100000 && status == IoStatus::kOk; ++i) {
    const auto result = pair.client.Send(data.data(), data.size());
    status = result.status;
    total += result.bytes;
  }
  EXPECT_EQ(status, IoStatus::kWouldBlock);
  EXPECT_GT(total, 0u);
}

TEST(TcpTest, ClosedStreamReportsErrorsAndMovesCleanly) {
  TcpStream empty;
  std::uint8_t byte = 0;
  EXPECT_FALSE(empty.IsOpen());
  EXPECT_EQ(empty.Send(&byte, 1).status, IoStatus::kError);
  EXPECT_EQ(empty.Receive(&byte, 1).status, IoStatus::kError);

  Pair pair = Connect();
  const int fd = pair.client.fd();
  TcpStream moved(std::move(pair.client));
  EXPECT_FALSE(pair.client.IsOpen());
  EXPECT_EQ(moved.fd(), fd);
  TcpStream assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned.fd(), fd);
  EXPECT_EQ(moved.fd(), -1);
}

TEST(TcpTest, AcceptWithoutPendingConnectionWouldBlock) {
  auto listener = TcpListener::Listen(0, kLoopbackAddress);
  ASSERT_TRUE(listener) << listener.error();
  EXPECT_NE(listener->LocalPort(), 0);
  const AcceptResult result = listener->Accept();
  EXPECT_EQ(result.status, IoStatus::kWouldBlock);
  EXPECT_FALSE(result.stream);

  TcpListener closed;
  EXPECT_EQ(closed.Accept().status, IoStatus::kError);
}

TEST(TcpTest, PortInUseIsReportedWithTheSystemText) {
  auto first = TcpListener::Listen(0, kLoopbackAddress);
  ASSERT_TRUE(first) << first.error();
  auto second = TcpListener::Listen(first->LocalPort(), kLoopbackAddress);
  ASSERT_FALSE(second);
  EXPECT_NE(second.error().find("Address already in use"), std::string::npos) << second.error();
  EXPECT_NE(second.error().find(std::to_string(first->LocalPort())), std::string::npos);
}

TEST(TcpTest, PortIsFreeAgainRightAfterAServerWithConnectionsCloses) {
  std::uint16_t port = 0;
  {
    Pair pair = Connect();
    port = pair.listener.LocalPort();
    // The server side closes first, so its end of the connection lingers in TIME_WAIT.
    pair.accepted.stream->Close();
    IoStatus last = IoStatus::kOk;
    ReceiveSoon(pair.client, 1, &last);
  }
  auto again = TcpListener::Listen(port, kLoopbackAddress);
  EXPECT_TRUE(again) << again.error();
}

TEST(TcpTest, ConnectToAClosedPortFailsWithoutWaiting) {
  std::uint16_t port = 0;
  {
    auto listener = TcpListener::Listen(0, kLoopbackAddress);
    ASSERT_TRUE(listener) << listener.error();
    port = listener->LocalPort();
  }
  const auto start = std::chrono::steady_clock::now();
  auto stream = ConnectTcp(kLoopbackAddress, port, 10s);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(stream);
  EXPECT_NE(stream.error().find("Connection refused"), std::string::npos) << stream.error();
  // A refusal, not the timeout running out.
  EXPECT_LT(elapsed, 5s);
}

TEST(TcpTest, ConnectGivesUpWhenThePeerNeverAnswers) {
  // A listener with a full queue drops further handshakes, so the next connect hangs in
  // SYN-SENT until our own bound ends it.
  auto listener = TcpListener::Listen(0, kLoopbackAddress, 0);
  ASSERT_TRUE(listener) << listener.error();
  std::vector<TcpStream> fillers;
  Result<TcpStream> attempt = Fail("not tried");
  std::chrono::steady_clock::duration elapsed{};
  for (int i = 0; i < 8; ++i) {
    const auto start = std::chrono::steady_clock::now();
    attempt = ConnectTcp(kLoopbackAddress, listener->LocalPort(), 300ms);
    elapsed = std::chrono::steady_clock::now() - start;
    if (!attempt) {
      break;
    }
    fillers.push_back(std::move(*attempt));
  }
  ASSERT_FALSE(attempt) << "every connect was taken into the queue";
  EXPECT_NE(attempt.error().find("timed out"), std::string::npos) << attempt.error();
  EXPECT_GE(elapsed, 250ms);
  EXPECT_LT(elapsed, 5s);
}

}  // namespace
}  // namespace tarvo::net
