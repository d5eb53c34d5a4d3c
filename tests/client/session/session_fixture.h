#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/session/adventure_client.h"
#include "client/session/host_cache.h"
#include "net/address.h"
#include "net/tcp_listener.h"
#include "protocol/compression.h"
#include "protocol/framing.h"

namespace tarvo::client::testing {

using namespace std::chrono_literals;

/// Records what a session shows and loads.
class RecordingHost : public SessionHost {
 public:
  struct Box {
    std::string text;
    std::string caption;
  };
  void ShowMessage(std::string_view text, std::string_view caption) override {
    boxes.push_back({std::string(text), std::string(caption)});
  }
  void LoadLevel(const std::filesystem::path& file) override { levels.push_back(file); }

  std::vector<Box> boxes;
  std::vector<std::filesystem::path> levels;
};

/// Collects the messages a server-side connection receives.
class CollectingSink : public protocol::MessageSink {
 public:
  void OnMessage(std::string_view raw) override { messages.emplace_back(raw); }
  std::vector<std::string> messages;
};

/// A game server stand-in on a loopback port: accepts one client and speaks the framing through
/// the protocol library's server side, or writes raw bytes.
class LoopbackServer {
 public:
  LoopbackServer() {
    auto listener = net::TcpListener::Listen(0, net::kLoopbackAddress);
    EXPECT_TRUE(listener) << listener.error();
    if (listener) listener_ = std::move(*listener);
  }

  std::uint16_t port() const { return listener_.LocalPort(); }

  /// Waits for the client's connection.
  bool Accept() {
    for (int i = 0; i < 500; ++i) {
      net::AcceptResult r = listener_.Accept();
      if (r.status == protocol::IoStatus::kOk) {
        stream_ = std::move(*r.stream);
        connection_ = std::make_unique<protocol::PacketConnection>(&stream_, splitter_, false);
        return true;
      }
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }

  /// Queues messages (id, payload) into one batch and sends it as one packet.
  void Send(const std::vector<std::pair<int, std::string>>& messages) {
    for (const auto& [id, payload] : messages) connection_->QueueMessage(id, payload);
    connection_->SendPending();
  }
  /// One packet whose batch is exactly `batch`.
  void SendBatch(std::string_view batch) {
    std::string body;
    protocol::CompressAppend(batch, body);
    SendRaw(Frame(body));
  }
  static std::string Frame(std::string_view body) {
    std::string packet;
    packet.push_back(static_cast<char>(body.size() >> 8));
    packet.push_back(static_cast<char>(body.size() & 0xFF));
    packet.append(body);
    return packet;
  }
  void SendRaw(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
      auto r =
          stream_.Send(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), bytes.size() - at);
      if (r.status == protocol::IoStatus::kOk) {
        at += r.bytes;
      } else {
        std::this_thread::sleep_for(1ms);
      }
    }
  }
  /// Reads until `count` messages have arrived in all (or a second has passed).
  const std::vector<std::string>& Receive(std::size_t count) {
    for (int i = 0; i < 500 && sink_.messages.size() < count; ++i) {
      connection_->ReceivePending(sink_);
      if (sink_.messages.size() < count) std::this_thread::sleep_for(2ms);
    }
    return sink_.messages;
  }
  void Close() { stream_.Close(); }

 private:
  net::TcpListener listener_;
  net::TcpStream stream_;
  protocol::ServerSplitter splitter_;
  std::unique_ptr<protocol::PacketConnection> connection_;
  CollectingSink sink_;
};

/// A unique scratch directory, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-client-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

/// A session connected to a LoopbackServer, with its world and host.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessHostCache().Clear();
    settings.ServerAddress = "127.0.0.1";
    settings.ServerPort = std::to_string(server.port());
  }

  /// Creates the session and accepts its connection.
  void Connect() {
    options.level_directory = levels.path() / "levels";
    session = std::make_unique<TAdventureClient>(settings, world, host, options);
    ASSERT_TRUE(session->Connected());
    ASSERT_TRUE(server.Accept());
  }

  /// Polls the session's TCP side until `done` holds or a second has passed.
  bool PumpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      session->ReceiveTcp();
      if (done()) return true;
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }
  /// Polls the session's UDP side until `done` holds or a second has passed.
  bool PumpUdpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      session->ReceiveUdp();
      if (done()) return true;
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }

  ScratchDir levels;
  LoopbackServer server;
  ClientSettings settings;
  ClientWorld world;
  RecordingHost host;
  SessionOptions options;
  std::unique_ptr<TAdventureClient> session;
};

}  // namespace tarvo::client::testing
