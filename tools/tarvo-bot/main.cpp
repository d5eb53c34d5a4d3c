// tarvo-bot: headless players for tests and load. N bots share one process and one 50 ms loop.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "tools/tarvo-bot/swarm.h"
#include "tools/tarvo-bot/swarm_options.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

// The avatar's part meshes: where the package installs them, beside the program, then in the
// source tree it was built from.
std::vector<std::string> DefaultAssetFolders() {
  std::vector<std::string> folders;
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error && !program.empty()) {
    folders.push_back((program.parent_path() / ".." / "share" / "tarvo3d").string());
    folders.push_back(program.parent_path().string());
    folders.push_back((program.parent_path() / "data" / "client").string());
  }
#ifdef TARVO_CLIENT_DATA_DIR
  folders.emplace_back(TARVO_CLIENT_DATA_DIR);
#endif
  return folders;
}

}  // namespace

static int RunProgram(int argc, char** argv) {
  using namespace tarvo::bot;
  const SwarmCommandLine command_line = ParseSwarmOptions(argc, argv, DefaultAssetFolders());
  if (!command_line.options) return command_line.Finish(std::cout, std::cerr);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  return RunSwarm(*command_line.options, g_stop, std::cout, std::cerr);
}

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "tarvo-bot", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "tarvo-bot");
  }
  return 1;
}
