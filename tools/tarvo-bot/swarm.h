#pragma once

#include <atomic>
#include <ostream>

#include "tools/tarvo-bot/swarm_options.h"

namespace tarvo::bot {

/// Runs the bots on one 50 ms loop until `stop`, the duration, or until none is connected;
/// status lines and the summary go to `out`, a failure to start to `err`. Level files go to a
/// scratch directory of the run. Returns 0 when every bot logged in, else 1.
int RunSwarm(SwarmOptions options, const std::atomic<bool>& stop, std::ostream& out,
             std::ostream& err);

}  // namespace tarvo::bot
