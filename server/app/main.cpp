// kserver: the game server. By default it starts from its start dialog and lives in the tray;
// `--headless` runs it without windows, logging to stderr; `--add-account` edits the accounts
// file without starting it.
#include <clocale>
#include <cstdio>
#include <exception>
#include <iostream>

#include "server/launch/server_launch.h"
#include "server/launch/server_options.h"
#ifdef TARVO_KSERVER_WINDOWED
#include "server/app/windowed_program.h"
#endif

static int RunProgram(int argc, char** argv) {
  using namespace tarvo::server;
  // Numbers are read and written with "." whatever the environment says.
  std::setlocale(LC_NUMERIC, "C");
  const ServerCommandLine command_line = ParseServerOptions(argc, argv);
  if (!command_line.options) return command_line.Finish(std::cout, std::cerr);
  const ServerOptions& options = *command_line.options;
  const auto directory = OpenServerDirectory(options, ExecutableDirectory(argv[0]));
  if (!directory) {
    std::cerr << directory.error();
    return kExitUsage;
  }
  if (options.add_account)
    return AddAccount(directory->path, *options.add_account, std::cout, std::cerr);
  SetUpLog(options.verbose);
  if (options.headless) return RunHeadlessServer(directory->path, options);
  if (!HasDisplay()) {
    std::cerr << "kserver: no display for the start dialog and tray icon; run the server with "
                 "--headless (see --help)\n";
    return kExitUsage;
  }
#ifdef TARVO_KSERVER_WINDOWED
  return RunWindowedProgram(argc, argv, directory->path, options);
#else
  return HandOverToWindowedProgram(argv);
#endif
}

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "kserver", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "kserver");
  }
  return 1;
}
