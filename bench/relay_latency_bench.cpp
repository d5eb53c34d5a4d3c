// Relay latency of one movement: from the moving client's report and SendPending to another
// client of the same level applying it. Over TCP the server relays it on its next 50 ms tick;
// over UDP it goes straight from client to client. The receiver polls continuously, so the
// figure leaves out the receiving client's own 50 ms tick, which a game client adds on top.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/session/adventure_client.h"
#include "tests/support/kserver_process.h"

namespace {

using namespace tarvo;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class QuietHost : public client::SessionHost {
 public:
  void ShowMessage(std::string_view, std::string_view) override {}
  void LoadLevel(const std::filesystem::path&) override { ++levels; }
  int levels = 0;
};

// One client: settings, world, host and session.
struct Client {
  Client(int port, bool no_udp, const std::filesystem::path& level_dir) {
    settings.ServerPort = std::to_string(port);
    settings.NoUdp = no_udp;
    client::SessionOptions options;
    options.level_directory = level_dir;
    session = std::make_unique<client::TAdventureClient>(settings, world, host, options);
  }
  // One tick of the game loop, without the wait.
  void Tick() {
    if (world.CurrentSession() != nullptr) session->ReceiveTcp();
    if (world.CurrentSession() != nullptr) session->ReceiveUdp();
    world.LocalPlayer().ReportChanges();
    if (world.CurrentSession() != nullptr) session->SendPending();
  }
  bool Ready() const { return host.levels > 0 && world.LocalPlayer().Id >= 0; }

  client::ClientSettings settings;
  client::ClientWorld world;
  QuietHost host;
  std::unique_ptr<client::TAdventureClient> session;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t index =
      std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())));
  return values[index];
}

// range(0): clients in the level; range(1): 1 for UDP between the two, 0 for TCP through the
// server (the receiver opens no UDP channel, so the server relays the movement).
void BM_RelayLatency(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  const bool udp = state.range(1) != 0;
  testing::KServerProcess server;
  testing::KServerOptions options;
  // Another build's server (say, the one before a change) for a comparison.
  if (const char* program = std::getenv("TARVO_KSERVER")) options.program = program;
  // Every client comes from 127.0.0.1 and they log in together: lift the caps on connections
  // from one address, which a hundred players behind one address would also need.
  options.extra_args = {"--max-pending-per-address",  "0", "--max-pending", "0",
                        "--max-sessions-per-address", "0"};
  if (const char* extra = std::getenv("TARVO_KSERVER_ARGS")) {
    std::istringstream words(extra);
    for (std::string word; words >> word;) options.extra_args.push_back(word);
  }
  if (!server.Start(options)) {
    state.SkipWithError("kserver did not start");
    return;
  }
  const std::filesystem::path level_dir = server.directory() / "client-levels";
  std::vector<std::unique_ptr<Client>> all;
  for (int i = 0; i < clients; ++i) {
    // Client 1 is the receiver; only it goes without UDP in the TCP case.
    all.push_back(std::make_unique<Client>(server.port(), !udp && i == 1, level_dir));
  }
  Client& mover = *all[0];
  Client& receiver = *all[1];
  auto copy_of_mover = [&]() -> client::TPlayer* {
    return receiver.world.FindOtherPlayer(mover.world.LocalPlayer().Id);
  };
  auto tick_all = [&] {
    for (auto& c : all) c->Tick();
  };
  // Everyone logs in, enters the level and knows the others (and, for UDP, their ports).
  const Clock::time_point deadline = Clock::now() + 30s;
  for (;;) {
    tick_all();
    const bool ready = std::all_of(all.begin(), all.end(), [](auto& c) { return c->Ready(); });
    client::TPlayer* copy = copy_of_mover();
    const bool peers =
        !udp || (copy != nullptr && copy->ClientPort > 0 &&
                 mover.session->UdpPeers().size() == static_cast<std::size_t>(clients - 1));
    if (ready && copy != nullptr && peers) break;
    if (Clock::now() > deadline) {
      state.SkipWithError("clients did not meet in one level");
      return;
    }
    std::this_thread::sleep_for(50ms);
  }
  for (int i = 0; i < 10; ++i) {
    tick_all();
    std::this_thread::sleep_for(50ms);
  }

  std::mt19937 random(42);
  std::vector<double> latencies;
  double x = 10;
  for (auto _ : state) {
    // Start at a random point of the server's tick, as real movement does.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 50000));
    x = x > 1000 ? 10 : x + 7.5;
    mover.world.LocalPlayer().X = x;
    const Clock::time_point start = Clock::now();
    mover.world.LocalPlayer().ReportChanges();  // the datagram leaves here
    mover.session->SendPending();               // the TCP packet here
    bool arrived = false;
    while (!arrived && Clock::now() - start < 2s) {
      receiver.session->ReceiveTcp();
      receiver.session->ReceiveUdp();
      client::TPlayer* copy = copy_of_mover();
      arrived = copy != nullptr && copy->X == x;
      if (!arrived) std::this_thread::sleep_for(100us);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (!arrived) {
      state.SkipWithError("a movement did not arrive within 2 s");
      break;
    }
    latencies.push_back(seconds * 1000);
    // The others keep up, so the server never queues for them.
    for (auto& c : all) {
      c->session->ReceiveTcp();
      c->session->ReceiveUdp();
    }
  }
  state.counters["median_ms"] = Percentile(latencies, 0.5);
  state.counters["p99_ms"] = Percentile(latencies, 0.99);
  state.counters["clients"] = clients;
}

BENCHMARK(BM_RelayLatency)
    ->ArgNames({"clients", "udp"})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
