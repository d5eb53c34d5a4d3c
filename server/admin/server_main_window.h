#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "server/admin/start_outcome.h"
#include "server/core/server_observer.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTimer;

namespace tarvo::server {

class TServerFrame;

/// The server's main window and tray icon: shows the port, host name and session count, drives
/// the core with the 50 ms session tick and the one-second save countdown, and opens the
/// operator's windows through hooks the program fills. Closing or Escape only hides it while a
/// tray icon can bring it back; without a tray it stays shown and offers Shutdown itself.
class ServerMainWindow final : public QWidget, public QuietObserver {
 public:
  /// `tray_available`: whether the desktop shows tray icons (tests choose).
  ServerMainWindow(TServerFrame& server, bool tray_available, QWidget* parent = nullptr);
  ~ServerMainWindow() override;

  /// Starts the core on the port text: adds the tray icon, opens the socket, shows this window
  /// and starts both timers. A failed start removes the tray icon again.
  StartOutcome StartServer(const std::string& port_text);
  /// Refreshes and saves every account, says goodbye to every player, removes the tray icon and
  /// ends the program (status 0).
  void Shutdown();
  /// Shows and raises the window (tray double-click, "Show KServer").
  void ShowWindow();

  /// What "&View players", "&Edit accounts" and "&Update levels" open. A button without a hook
  /// is disabled.
  void SetViewPlayersHook(std::function<void()> hook);
  void SetEditAccountsHook(std::function<void()> hook);
  void SetUpdateLevelsHook(std::function<void()> hook);
  /// How the program ends (default: leave the application's event loop with the status).
  void SetEndProgram(std::function<void(int status)> end_program);

  bool tray_available() const { return tray_available_; }
  QSystemTrayIcon& tray_icon() { return *tray_icon_; }
  QAction& show_action() { return *show_action_; }
  QAction& shutdown_action() { return *shutdown_action_; }
  QLabel& status_label() { return *status_label_; }
  QLabel& session_count_label() { return *session_count_label_; }
  QLabel& server_name_label() { return *server_name_label_; }
  QPushButton& view_players_button() { return *view_players_button_; }
  QPushButton& edit_accounts_button() { return *edit_accounts_button_; }
  QPushButton& update_levels_button() { return *update_levels_button_; }
  QPushButton& disconnect_remote_button() { return *disconnect_remote_button_; }
  QPushButton& shutdown_button() { return *shutdown_button_; }

  // ServerObserver
  void ServerStarted(const ServerStartInfo& info) override;
  void SessionCountChanged(int count) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Tick();
  void SaveCountdown();
  void DisconnectRemoteSessions();
  static void SetHook(QPushButton& button, std::function<void()>& slot, std::function<void()> hook);

  TServerFrame& server_;
  const bool tray_available_;
  bool shut_down_ = false;
  std::function<void()> view_players_hook_;
  std::function<void()> edit_accounts_hook_;
  std::function<void()> update_levels_hook_;
  std::function<void(int)> end_program_;

  QLabel* status_label_;
  QLabel* session_count_label_;
  QLabel* server_name_label_;
  QLabel* tray_note_label_;
  QPushButton* view_players_button_;
  QPushButton* edit_accounts_button_;
  QPushButton* update_levels_button_;
  QPushButton* disconnect_remote_button_;
  QPushButton* shutdown_button_;
  QTimer* tick_timer_;
  QTimer* save_timer_;
  QMenu* tray_menu_;
  QAction* show_action_;
  QAction* shutdown_action_;
  QSystemTrayIcon* tray_icon_;
};

}  // namespace tarvo::server
