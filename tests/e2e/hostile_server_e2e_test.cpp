// The game client and the bot program against a hostile server: a flood of players entering
// and leaving must not stop them from quitting on time, and the bot prints no control byte the
// server sent.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "net/address.h"
#include "net/tcp_listener.h"
#include "protocol/framing.h"
#include "protocol/messages.h"
#include "support/kserver_process.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace msg = protocol::msg;

// Ignores what the client says.
struct Discard : protocol::MessageSink {
  void OnMessage(std::string_view) override {}
};

// One client's server, in a thread of its own: sends `script`, then floods the client with
// players entering and leaving (message 2 with an id, then the same id with "S") until the
// client goes away, or closes the connection after the script.
class HostileServer {
 public:
  HostileServer(std::vector<std::pair<int, std::string>> script, bool flood)
      : script_(std::move(script)), flood_(flood) {
    auto listener = net::TcpListener::Listen(0, net::kLoopbackAddress);
    EXPECT_TRUE(listener);
    if (listener) listener_ = std::move(*listener);
    thread_ = std::thread([this] { Run(); });
  }
  ~HostileServer() {
    stop_ = true;
    thread_.join();
  }
  std::uint16_t port() const { return listener_.LocalPort(); }
  std::uint64_t flooded() const { return flooded_; }

 private:
  void Run() {
    const Clock::time_point give_up = Clock::now() + 30s;
    std::optional<net::TcpStream> stream;
    while (!stop_ && !stream && Clock::now() < give_up) {
      net::AcceptResult accepted = listener_.Accept();
      if (accepted.stream) {
        stream.emplace(std::move(*accepted.stream));
      } else {
        std::this_thread::sleep_for(2ms);
      }
    }
    if (!stream) return;
    protocol::ServerSplitter splitter;
    protocol::PacketConnection connection(&*stream, splitter, false);
    for (const auto& [id, payload] : script_) (void)connection.QueueMessage(id, payload);
    Discard discard;
    int next_id = 0;
    while (!stop_ && Clock::now() < give_up) {
      const protocol::ReceiveStatus in = connection.ReceivePending(discard);
      if (in == protocol::ReceiveStatus::kClosed || in == protocol::ReceiveStatus::kError) return;
      if (flood_ && connection.output_queue_size() < 65536) {
        for (int i = 0; i < 512; ++i) {
          const std::string id(1, static_cast<char>(next_id + 32));
          next_id = (next_id + 1) % 200;
          (void)connection.QueueMessage(msg::kOtherPlayer, id);
          (void)connection.QueueMessage(msg::kOtherPlayer, id + "S");
        }
        flooded_ += 1024;
      }
      const protocol::SendStatus out = connection.SendPending();
      if (out == protocol::SendStatus::kError || out == protocol::SendStatus::kZeroAccepted) return;
      if (!flood_ && out == protocol::SendStatus::kDone) {
        stream->Close();
        return;
      }
      std::this_thread::sleep_for(1ms);
    }
  }

  std::vector<std::pair<int, std::string>> script_;
  bool flood_;
  net::TcpListener listener_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> flooded_{0};
  std::thread thread_;
};

std::string Program(const char* name) { return std::string(TARVO_BIN_DIR) + "/" + name; }

// Runs a program to its end (killed after 15 s); its exit status and seconds taken.
struct ProgramRun {
  int status = -1;
  double seconds = 0;
  std::string output;
};
ProgramRun RunProgram(const char* name, const std::vector<std::string>& args) {
  ProgramRun run;
  const Clock::time_point start = Clock::now();
  run.status = testing::KServerProcess::RunOnce(args, &run.output, Program(name));
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return run;
}

TEST(HostileServerE2E, GameClientQuitsOnTimeDuringAFloodOfPlayers) {
  const std::filesystem::path config =
      std::filesystem::temp_directory_path() / ("tarvo3d-flood-" + std::to_string(::getpid()));
  std::filesystem::create_directories(config);
  HostileServer server({}, /*flood=*/true);
  // What counts here is the time; the window's graphics stack keeps allocations to the process's
  // end, which a sanitizer build's leak check would report as the program's failure.
  const char* set = std::getenv("ASAN_OPTIONS");
  const std::string asan_options = set ? set : "";
  ::setenv("ASAN_OPTIONS", (asan_options + ":detect_leaks=0").c_str(), 1);
  const ProgramRun run =
      RunProgram("tarvo3d", {"--connect", "127.0.0.1:" + std::to_string(server.port()), "--account",
                             "guest", "--password", "guest", "--nickname", "flooded",
                             "--config-dir", config.string(), "--quit-after", "5"});
  ::setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
  std::filesystem::remove_all(config);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_LT(run.seconds, 15.0) << run.output;
  EXPECT_GT(server.flooded(), 100000u) << "the flood was too small to hold a tick";
}

TEST(HostileServerE2E, BotEndsOnTimeDuringAFloodOfPlayers) {
  HostileServer server({}, /*flood=*/true);
  const ProgramRun run = RunProgram(
      "tarvo-bot",
      {"--port", std::to_string(server.port()), "--no-udp", "--walk", "still", "--duration", "3"});
  EXPECT_NE(run.status, -1) << "not ended in 15 s";
  EXPECT_LT(run.seconds, 15.0) << run.output;
  // It handled the flood meanwhile, at most 256 messages in each of its ticks of 50 ms.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(run.output, m, std::regex(R"(messages received: +(\d+))")))
      << run.output;
  EXPECT_GT(std::stoull(m[1]), 256u) << run.output;
  EXPECT_LE(std::stoull(m[1]), 256u * (3 * 20 + 1)) << run.output;
  EXPECT_GT(server.flooded(), 100000u);
}

TEST(HostileServerE2E, BotEscapesControlBytesInEverythingItPrints) {
  // ESC with a sequence, an OSC title ended by BEL, and the one-byte CSI 0x9B.
  const std::string hostile =
      "\x1b[2J\x1b]0;owned\x07\x9b"
      "31m";
  const std::string escaped = "\\x1b[2J\\x1b]0;owned\\x07\\x9b31m";
  HostileServer server({{msg::kAdminMessage, "Line one\xa7Line two " + hostile},
                        {msg::kDisconnectReason, "Bye " + hostile}},
                       /*flood=*/false);
  const ProgramRun run = RunProgram("tarvo-bot", {"--port", std::to_string(server.port()),
                                                  "--no-udp", "--duration", "10", "--verbose"});
  EXPECT_NE(run.status, -1);
  for (const char control : {'\x1b', '\x07', '\x9b'}) {
    EXPECT_EQ(run.output.find(control), std::string::npos)
        << "control byte " << static_cast<int>(static_cast<unsigned char>(control)) << " in "
        << run.output;
  }
  // The administrator message keeps its line break.
  EXPECT_NE(run.output.find("[1] message box \"Administrator message\": Line one\n"
                            "[1]   Line two " +
                            escaped + "\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("[1] message box \"Tarvo 3D\": Bye " + escaped + "\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("    1 x \"Bye " + escaped + "\"\n"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace tarvo
