#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/accounts/ui/account_list_window.h"
#include "server/admin/player_stats.h"
#include "server/admin/server_main_window.h"
#include "server/admin/start_frame.h"
#include "server/admin/update_levels.h"
#include "server/core/fan_out_observer.h"
#include "server/core/server_frame.h"
#include "server/core/server_limits.h"

namespace tarvo::server {

/// How the windowed server is set up.
struct WindowedOptions {
  std::filesystem::path directory;       ///< the server directory
  std::optional<std::string> port_text;  ///< overrides serverconfig.txt in the start dialog
  bool tray_available = true;            ///< whether the desktop shows tray icons
  std::optional<std::filesystem::path> current_directory;  ///< see `TServerFrame`
  LevelFileChooser choose_level_files;  ///< empty: the platform's file-open dialog
  ServerLimits limits;                  ///< the connection limits of the command line
  std::uint32_t listen_address = 0;     ///< the local address to listen on; 0: every address
};

/// The windowed kserver: one server core and the operator's windows, created in program order
/// and wired to the core's notices. Only the start dialog is shown at first.
class WindowedServer {
 public:
  /// `observers` (the log, for instance) hear the core's notices besides the windows.
  explicit WindowedServer(WindowedOptions options,
                          const std::vector<ServerObserver*>& observers = {});
  ~WindowedServer();
  WindowedServer(const WindowedServer&) = delete;
  WindowedServer& operator=(const WindowedServer&) = delete;

  /// Shows the start dialog.
  void Show();
  /// SIGINT or SIGTERM: the Shutdown path once the server runs; before, the program ends with
  /// nothing written.
  void Stop();
  /// How the program ends (default: leave the application's event loop with the status).
  void SetEndProgram(std::function<void(int status)> end_program);

  TServerFrame& server() { return server_; }
  FanOutObserver& observers() { return observers_; }
  ServerMainWindow& main_window() { return *main_window_; }
  TStartFrame& start_dialog() { return *start_dialog_; }
  TUpdateLevels& update_levels_dialog() { return *update_levels_dialog_; }
  TAccountList& accounts_window() { return *accounts_window_; }
  TPlayerStats& player_stats() { return *player_stats_; }

 private:
  FanOutObserver observers_;
  TServerFrame server_;
  std::function<void(int)> end_program_;
  std::unique_ptr<ServerMainWindow> main_window_;
  std::unique_ptr<TStartFrame> start_dialog_;
  // The statistics window uses the editor the accounts window owns, so it goes first.
  std::unique_ptr<TAccountList> accounts_window_;
  std::unique_ptr<TPlayerStats> player_stats_;
  std::unique_ptr<TUpdateLevels> update_levels_dialog_;
};

}  // namespace tarvo::server
