// kserverctl: remote administration of a running game server from a terminal.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

#include "tools/kserverctl/command_line.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

}  // namespace

static int RunProgram(int argc, char** argv) {
  using namespace tarvo::kserverctl;
  const CtlCommandLine command_line = ParseCommandLine(argc, argv);
  if (!command_line.options) return command_line.Finish(std::cout, std::cerr);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  return Run(*command_line.options, std::cout, std::cerr, &g_stop);
}

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "kserverctl", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "kserverctl");
  }
  return 1;
}
