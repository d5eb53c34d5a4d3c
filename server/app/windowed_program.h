#pragma once

#include <filesystem>

#include "server/launch/server_options.h"

namespace tarvo::server {

/// kserver-gui's run: the start dialog, then the server in the tray until Shutdown, SIGINT or
/// SIGTERM. `argc` and `argv` go to the Qt application. Returns the exit status.
int RunWindowedProgram(int& argc, char** argv, const std::filesystem::path& directory,
                       const ServerOptions& options);

}  // namespace tarvo::server
