#include "server/app/windowed_program.h"

#include <spdlog/spdlog.h>

#include <QApplication>
#include <QLocale>
#include <QSystemTrayIcon>
#include <csignal>
#include <utility>

#include "server/app/stop_signal_notifier.h"
#include "server/app/windowed_server.h"
#include "server/launch/log_observer.h"

namespace tarvo::server {

int RunWindowedProgram(int& argc, char** argv, const std::filesystem::path& directory,
                       const ServerOptions& options) {
  QApplication application(argc, argv);
  // The server lives on in the tray when its last window is hidden.
  QApplication::setQuitOnLastWindowClosed(false);
  QLocale::setDefault(QLocale::c());
  LogObserver log(options.log_limits);
  WindowedOptions windowed;
  windowed.directory = directory;
  windowed.port_text = options.port_text;
  windowed.limits = options.limits;
  windowed.listen_address = options.listen_address;
  windowed.tray_available = QSystemTrayIcon::isSystemTrayAvailable();
  if (!windowed.tray_available)
    spdlog::info("no system tray: the main window stays shown and offers Shutdown");
  WindowedServer windows(std::move(windowed), {&log});
  windows.server().SetCompression(options.compressor, options.threads);
  StopSignalNotifier stop([&windows](int signal) {
    spdlog::info("{} received: shutting down", signal == SIGINT ? "SIGINT" : "SIGTERM");
    windows.Stop();
  });
  windows.Show();
  const int status = QApplication::exec();
  if (status == 0 && windows.server().port() != 0) spdlog::info("server stopped");
  return status;
}

}  // namespace tarvo::server
