#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "server/core/server_frame.h"
#include "server/core/server_observer.h"

class QPushButton;
class QTreeWidget;

namespace tarvo::server {

class TEditAccount;
class TSendFrame;

/// The player statistics window ("Player statistics"): one row per connected player as of the
/// last Fill, with Disconnect, Edit (in the account editor) and administrator messages. A row
/// names its session by serial, so it never acts on a session that ended or on a later one
/// that took the same player id. Owns the send-message dialog.
class TPlayerStats final : public QWidget, public QuietObserver {
 public:
  TPlayerStats(TServerFrame& server, TEditAccount& editor, QWidget* parent = nullptr);
  ~TPlayerStats() override;

  /// Takes a new snapshot of the connected players and rebuilds every row.
  void Fill();
  /// The session serials of the rows, in row order.
  const std::vector<std::uint64_t>& snapshot() const { return snapshot_; }
  TSendFrame& send_dialog() { return *send_dialog_; }

  // ServerObserver: account changes (remote control among them) refill a visible window.
  void AccountViewChanged(const TServerAccount& account) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The session of the first selected row while it is connected, else nullptr.
  TServerPlayer* FirstSelectedSession() const;
  bool HasSelection() const;
  void UpdateButtons();
  void DisconnectSelectedPlayer();
  void EditSelectedPlayer();
  void MessageSelectedPlayer();
  void MessageAllPlayers();

  TServerFrame& server_;
  TEditAccount& editor_;
  std::vector<std::uint64_t> snapshot_;
  std::unique_ptr<TSendFrame> send_dialog_;
  QTreeWidget* players_list_;
  QPushButton* update_button_;
  QPushButton* disconnect_button_;
  QPushButton* edit_button_;
  QPushButton* message_button_;
  QPushButton* message_all_button_;
  QPushButton* close_button_;
};

}  // namespace tarvo::server
