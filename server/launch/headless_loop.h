#pragma once

namespace tarvo::server {

class TServerFrame;

/// Drives a started server without windows: `Tick` every 50 ms and `SaveCountdownTick` every
/// second, sleeping in between, until SIGINT or SIGTERM; then runs the Shutdown path. With
/// `stats_every` > 0, logs the CPU time of the ticks (median, 99th percentile, maximum) and the
/// resident memory every that many ticks. Returns the exit status.
int RunHeadless(TServerFrame& server, int stats_every);

/// Makes SIGINT and SIGTERM ask `RunHeadless` to stop and ignores SIGPIPE. Installed before the
/// server starts, so a stop sent as soon as it is up still saves the accounts.
void InstallStopSignals();

}  // namespace tarvo::server
