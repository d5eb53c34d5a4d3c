#pragma once

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "server/core/server_frame.h"
#include "support/protocol_client.h"

namespace tarvo::server {

/// Runs `ticks` server ticks in-process, letting every client read after each one, so the
/// answers of one tick are seen before the next.
inline void Settle(TServerFrame& server,
                   const std::vector<std::unique_ptr<testing::ProtocolClient>>& clients,
                   int ticks = 6) {
  for (int i = 0; i < ticks; ++i) {
    server.Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    for (const auto& c : clients) c->Poll();
  }
}

}  // namespace tarvo::server
