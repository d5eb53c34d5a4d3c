// tarvo3d: the game client. Shows the connect dialog; Start opens the main window and the session.
#include <QApplication>
#include <cstdio>
#include <exception>
#include <iostream>

#include "client/mainwindow/client_options.h"
#include "client/mainwindow/client_program.h"

static int RunProgram(int argc, char** argv) {
  using namespace tarvo::client;
  const ClientCommandLine command_line = ParseClientOptions(argc, argv);
  if (!command_line.options) return command_line.Finish(std::cout, std::cerr);
  QApplication::setOrganizationName("Tarvo3D");
  QApplication::setApplicationName("tarvo3d");
  QApplication app(argc, argv);
  return RunClient(*command_line.options);
}

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "tarvo3d", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "tarvo3d");
  }
  return 1;
}
