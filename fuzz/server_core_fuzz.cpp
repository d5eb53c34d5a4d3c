// The server core as a whole: up to six sessions over in-memory streams log in (as players and
// as remote controllers), move, change levels, ask for files, send remote-control commands and
// raw bytes, stall, disconnect and meet the operator's actions, in the order the input picks,
// with ticks in between. After every tick the session lists and the accounts must agree.
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_stream.h"
#include "protocol/compression.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "server/core/server_frame.h"

namespace {

namespace fs = std::filesystem;
namespace msg = tarvo::protocol::msg;
using tarvo::protocol::IoResult;
using tarvo::protocol::IoStatus;
using tarvo::server::TServerFrame;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "server core: %s\n", what);
  std::abort();
}

// The client's end of one connection. Shared, because the server frees its stream whenever it
// ends the session.
struct Pipe {
  std::deque<std::string> inbound;
  bool closed = false;
  bool stalled = false;
};

class PipeStream : public tarvo::protocol::ByteStream {
 public:
  explicit PipeStream(std::shared_ptr<Pipe> pipe) : pipe_(std::move(pipe)) {}
  IoResult Send(const std::uint8_t*, std::size_t size) override {
    if (pipe_->stalled) return {IoStatus::kWouldBlock, 0};
    return {IoStatus::kOk, size};
  }
  IoResult Receive(std::uint8_t* out, std::size_t capacity) override {
    if (pipe_->inbound.empty()) {
      return {pipe_->closed ? IoStatus::kClosed : IoStatus::kWouldBlock, 0};
    }
    std::string& front = pipe_->inbound.front();
    const std::size_t n = std::min(capacity, front.size());
    std::memcpy(out, front.data(), n);
    front.erase(0, n);
    if (front.empty()) pipe_->inbound.pop_front();
    return {IoStatus::kOk, n};
  }

 private:
  std::shared_ptr<Pipe> pipe_;
};

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::string Bytes(std::size_t most) {
    const std::size_t n = std::min<std::size_t>({Byte() % (most + 1), size_ - pos_});
    std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }
  template <typename T, std::size_t N>
  const T& Pick(const T (&options)[N]) {
    return options[Byte() % N];
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

fs::path g_world;
std::string g_accounts;

std::string Packet(std::string_view batch) {
  std::string body;
  tarvo::protocol::CompressAppend(batch, body);
  std::string out{static_cast<char>((body.size() >> 8) & 0xFF),
                  static_cast<char>(body.size() & 0xFF)};
  return out + body;
}

std::string Line(int id, std::string_view payload) {
  return static_cast<char>((id + 32) & 0xFF) + std::string(payload) + '\n';
}

void Write(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Every playing session holds a distinct id; an account and its session point at each other.
void CheckLists(TServerFrame& server) {
  std::set<int> ids;
  for (const auto& session : server.player_sessions()) {
    if (session->is_playing() && !session->closing() && !ids.insert(session->id()).second) {
      Fail("two playing sessions share an id");
    }
    if (session->account() != nullptr) {
      if (!server.accounts().Contains(session->account())) Fail("session holds a removed account");
      if (session->account()->Session != session.get()) Fail("account does not know its session");
    }
  }
  for (const auto& account : server.accounts().accounts()) {
    if (account->Session == nullptr) continue;
    const auto& list = server.player_sessions();
    if (std::none_of(list.begin(), list.end(),
                     [&](const auto& s) { return s.get() == account->Session; })) {
      Fail("account points at a session that is gone");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  spdlog::set_level(spdlog::level::off);
  g_world = fs::temp_directory_path() / ("tarvo_fuzz_core_" + std::to_string(::getpid()));
  Write(g_world / "levels/startlevel.x", "xof 0303txt 0032\r\nstart\r\n");
  Write(g_world / "levels/courtyard.x", "xof 0303txt 0032\r\ncourtyard\r\n");
  Write(g_world / "levels/welcome.gif", "GIF89a");
  Write(g_world / "guilds/guildTarvo_Builders.txt", "bob:Bo\r\n");
  fs::create_directories(g_world / "cwd");
  tarvo::server::AccountStore accounts;
  accounts.AddNewAccount({"guest", "guest", 0, true, false});
  accounts.AddNewAccount({"bob", "b", 0, false, false});
  accounts.AddNewAccount({"police", "p", 1, false, false});
  accounts.AddNewAccount({"admin", "root", 3, false, false});
  accounts.AddNewAccount({"mallory", "m", 0, false, true});
  g_accounts = accounts.FormatAccountsFile();
  std::atexit([] {
    std::error_code error;
    fs::remove_all(g_world, error);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Write(g_world / "accounts.txt", g_accounts);
  TServerFrame server(g_world, nullptr, nullptr, g_world / "cwd");
  if (!server.StartServer("0").ok()) return 0;
  std::vector<std::shared_ptr<Pipe>> pipes;
  Input in(data, size);

  static const std::pair<const char*, const char*> kLogins[] = {
      {"guest", "guest"}, {"bob", "b"},   {"police", "p"},
      {"admin", "root"},  {"bob", "bad"}, {"mallory", "m"}};
  static const std::string_view kVersions[] = {tarvo::protocol::kVersionCurrent,
                                               tarvo::protocol::kVersionOld, "VX3DV999"};
  static const char* const kLevels[] = {
      "startlevel.x", "courtyard.x", "COURTYARD.X", "missing.x", "", "../accounts.txt"};
  static const char* const kFiles[] = {"welcome", "missing", "../accounts", "", "WELCOME"};

  while (!in.done()) {
    const int op = in.Byte() % 12;
    if (op == 0) {
      if (pipes.size() < 6) {
        pipes.push_back(std::make_shared<Pipe>());
        server.AcceptSession(std::make_unique<PipeStream>(pipes.back()),
                             0x7F000001u + static_cast<std::uint32_t>(pipes.size()));
      }
      continue;
    }
    if (op == 10) {
      for (int ticks = 1 + in.Byte() % 4; ticks > 0; --ticks) {
        server.Tick();
        CheckLists(server);
      }
      if (in.Byte() & 1) server.SaveCountdownTick();
      continue;
    }
    if (op == 11) {
      switch (in.Byte() % 4) {
        case 0:
          server.DisconnectPlayer(in.Byte() % 8);
          break;
        case 1:
          server.SendAdminMessageToAll(in.Bytes(40));
          break;
        case 2: {
          const std::string names[] = {in.Pick(kLevels)};
          server.ReloadLevels(names);
          break;
        }
        default:
          (void)server.SaveAccounts();
          break;
      }
      continue;
    }
    if (pipes.empty()) continue;
    Pipe& pipe = *pipes[in.Byte() % pipes.size()];
    std::string line;
    switch (op) {
      case 1:
      case 2: {
        const auto& [account, password] = in.Pick(kLogins);
        line = Line(op == 1 ? msg::kPlayerLogin : msg::kRemoteLogin,
                    tarvo::protocol::BuildLogin(in.Pick(kVersions), account, password));
        break;
      }
      case 3: {
        std::string entries;
        for (int code = 1; code <= 5; ++code) {
          if (in.Byte() & 1) {
            tarvo::protocol::PutEntry(entries, code, static_cast<std::int8_t>(in.Byte()) * 13.5);
          }
        }
        line = Line(msg::kProperties, entries);
        break;
      }
      case 4: {
        std::string entries;
        tarvo::protocol::PutEntry(entries, tarvo::protocol::kPropLevelName, 0, in.Pick(kLevels));
        line = Line(msg::kProperties, entries);
        break;
      }
      case 5:
        line = Line(msg::kFileRequest, in.Pick(kFiles));
        break;
      case 6: {
        const int id = msg::kGetAccount + in.Byte() % 14;
        const int target = in.Byte() % 8;
        const std::string text = in.Bytes(24);
        std::string payload;
        switch (in.Byte() % 5) {
          case 0:
            payload = tarvo::protocol::BuildAccountNumber(target);
            break;
          case 1:
            payload = tarvo::protocol::BuildPlayerId(target);
            break;
          case 2:
            payload = tarvo::protocol::BuildPlayerText(target, text);
            break;
          case 3: {
            const std::string names[] = {in.Pick(kLevels)};
            payload = tarvo::protocol::BuildReloadLevels(names);
            break;
          }
          default: {
            tarvo::protocol::AccountChange change{text, "pw", {}, in.Byte() % 16};
            payload = id == msg::kSetPlayer ? tarvo::protocol::BuildSetPlayer(target, change)
                                            : tarvo::protocol::BuildSetAccount(target, change);
            break;
          }
        }
        line = Line(id, payload);
        break;
      }
      case 7:
        line = in.Bytes(64);
        break;  // any batch, lines or not
      case 8:
        pipe.inbound.push_back(in.Bytes(32));
        continue;  // bytes outside any framing
      default:
        if (in.Byte() & 1) {
          pipe.stalled = !pipe.stalled;
        } else {
          pipe.closed = true;
        }
        continue;
    }
    if (!pipe.closed) pipe.inbound.push_back(Packet(line));
  }
  for (int ticks = 0; ticks < 3; ++ticks) {
    server.Tick();
    CheckLists(server);
  }
  // The shutdown waits a while for stalled readers to take the goodbye: not here.
  for (const auto& pipe : pipes) pipe->stalled = false;
  return 0;
}
