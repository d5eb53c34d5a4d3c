#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/address.h"
#include "net/udp_socket.h"

namespace tarvo::net {
namespace {

using protocol::IoStatus;
using namespace std::chrono_literals;

DatagramResult ReceiveSoon(UdpSocket& socket, std::uint8_t* buffer, std::size_t capacity) {
  DatagramResult result;
  for (int i = 0; i < 500; ++i) {
    result = socket.ReceiveFrom(buffer, capacity);
    if (result.status != IoStatus::kWouldBlock) {
      break;
    }
    std::this_thread::sleep_for(2ms);
  }
  return result;
}

TEST(UdpTest, RoundTripNamesTheSourceAddressAndPort) {
  auto a = UdpSocket::Open(0);
  auto b = UdpSocket::Open(0);
  ASSERT_TRUE(a) << a.error();
  ASSERT_TRUE(b) << b.error();
  ASSERT_NE(a->LocalPort(), 0);
  ASSERT_NE(a->LocalPort(), b->LocalPort());

  const std::string movement = " !!\"\"##$%%";
  auto sent = a->SendTo(kLoopbackAddress, b->LocalPort(),
                        reinterpret_cast<const std::uint8_t*>(movement.data()), movement.size());
  ASSERT_EQ(sent.status, IoStatus::kOk);
  EXPECT_EQ(sent.bytes, movement.size());

  std::uint8_t buffer[1024];
  const DatagramResult got = ReceiveSoon(*b, buffer, sizeof(buffer));
  ASSERT_EQ(got.status, IoStatus::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), got.bytes), movement);
  EXPECT_EQ(got.source_address, 0x0100007Fu);
  EXPECT_EQ(got.source_port, a->LocalPort());

  // Datagrams keep their boundaries: two sends are two reads.
  const std::uint8_t one[] = {'!', 'h', 'i'};
  const std::uint8_t two[] = {' '};
  a->SendTo(kLoopbackAddress, b->LocalPort(), one, sizeof(one));
  a->SendTo(kLoopbackAddress, b->LocalPort(), two, sizeof(two));
  EXPECT_EQ(ReceiveSoon(*b, buffer, sizeof(buffer)).bytes, sizeof(one));
  EXPECT_EQ(ReceiveSoon(*b, buffer, sizeof(buffer)).bytes, sizeof(two));
  EXPECT_EQ(b->ReceiveFrom(buffer, sizeof(buffer)).status, IoStatus::kWouldBlock);
}

TEST(UdpTest, EmptyDatagramIsADatagramNotWouldBlock) {
  auto a = UdpSocket::Open(0);
  auto b = UdpSocket::Open(0);
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->SendTo(kLoopbackAddress, b->LocalPort(), nullptr, 0).status, IoStatus::kOk);
  std::uint8_t buffer[16];
  const DatagramResult got = ReceiveSoon(*b, buffer, sizeof(buffer));
  EXPECT_EQ(got.status, IoStatus::kOk);
  EXPECT_EQ(got.bytes, 0u);
  EXPECT_EQ(got.source_port, a->LocalPort());
}

TEST(UdpTest, OversizedDatagramIsCutToTheBuffer) {
  auto a = UdpSocket::Open(0);
  auto b = UdpSocket::Open(0);
  ASSERT_TRUE(a && b);
  const std::string big(2000, 'z');
  a->SendTo(kLoopbackAddress, b->LocalPort(), reinterpret_cast<const std::uint8_t*>(big.data()),
            big.size());
  std::uint8_t buffer[1024];
  EXPECT_EQ(ReceiveSoon(*b, buffer, sizeof(buffer)).bytes, sizeof(buffer));
  EXPECT_EQ(b->ReceiveFrom(buffer, sizeof(buffer)).status, IoStatus::kWouldBlock);
}

TEST(UdpTest, FixedPortTakenFailsAndFreeAgainAfterClose) {
  auto first = UdpSocket::Open(0);
  ASSERT_TRUE(first) << first.error();
  const std::uint16_t port = first->LocalPort();
  auto second = UdpSocket::Open(port);
  ASSERT_FALSE(second);
  EXPECT_NE(second.error().find("Address already in use"), std::string::npos) << second.error();

  first->Close();
  EXPECT_FALSE(first->IsOpen());
  auto third = UdpSocket::Open(port);
  ASSERT_TRUE(third) << third.error();
  EXPECT_EQ(third->LocalPort(), port);
}

TEST(UdpTest, ClosedSocketReportsErrors) {
  UdpSocket closed;
  std::uint8_t byte = 0;
  EXPECT_EQ(closed.SendTo(kLoopbackAddress, 9, &byte, 1).status, IoStatus::kError);
  EXPECT_EQ(closed.ReceiveFrom(&byte, 1).status, IoStatus::kError);
  EXPECT_EQ(closed.LocalPort(), 0);
}

}  // namespace
}  // namespace tarvo::net
