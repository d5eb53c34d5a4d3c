// kserverctl: remote administration of a running game server from a terminal.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <iostream>

#include "tools/kserverctl/commands.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvo::kserverctl;
  Options options;
  CLI::App app{"kserverctl"};
  DefineCli(app, options);
  CLI11_PARSE(app, argc, argv);
  try {
    FinishOptions(options);
  } catch (const CtlError& error) {
    std::cerr << "kserverctl: " << error.what() << "\n";
    return error.code();
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  return Run(options, std::cout, std::cerr, &g_stop);
}
