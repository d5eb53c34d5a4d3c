#pragma once

#include <QDialog>

#include "client/config/client_settings.h"
#include "client/config/ui/connect_host.h"
#include "client/world/client_world.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvo::client {

class TMoreOptions;

/// The connect dialog, the first window of the program: nickname, server with its history,
/// port, account and password. Start saves them, opens the main window and the session through
/// the host; Escape, or closing the dialog without Start, ends the program.
class TConnectFrame final : public QDialog {
 public:
  /// Filled from `settings` and the nickname of the local player of `world`, as `options`
  /// loaded them; `options` also saves them on Start. Top-level and centred; starts hidden.
  TConnectFrame(ClientWorld& world, ClientSettings& settings, TMoreOptions& options,
                ConnectHost& host);

  /// Whether Start has run; from then on hiding the dialog no longer ends the program.
  bool Started() const { return started_; }
  /// What Start does: takes the texts as typed, puts the address on top of the history, saves,
  /// shows the main window and creates the session.
  void Start();

  /// Nickname of the local player.
  QLineEdit* nickname_edit() const { return nickname_edit_; }
  /// Server address, with the history as its list.
  QComboBox* server_box() const { return server_box_; }
  /// Server port.
  QLineEdit* port_edit() const { return port_edit_; }
  /// Account name.
  QLineEdit* account_edit() const { return account_edit_; }
  /// Password, shown as "*".
  QLineEdit* password_edit() const { return password_edit_; }
  /// "&Start".
  QPushButton* start_button() const { return start_button_; }

 protected:
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void EndProgramOnce();

  ClientWorld& world_;
  ClientSettings& settings_;
  TMoreOptions& options_;
  ConnectHost& host_;
  bool started_ = false;
  bool ending_ = false;
  QLabel* background_;
  QLineEdit* nickname_edit_;
  QComboBox* server_box_;
  QLineEdit* port_edit_;
  QLineEdit* account_edit_;
  QLineEdit* password_edit_;
  QPushButton* start_button_;
};

}  // namespace tarvo::client
