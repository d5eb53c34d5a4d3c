#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/core/server_frame.h"

class QLineEdit;
class QPushButton;

namespace tarvo::server {

/// The send-message dialog ("Send Message"): one line of text for one player session or for
/// all players, sent as an administrator message.
class TSendFrame final : public QDialog {
 public:
  explicit TSendFrame(TServerFrame& server, QWidget* parent = nullptr);

  /// Shows the dialog for the player session with `serial`, with the player's nickname in the
  /// caption.
  void OpenForPlayer(std::uint64_t serial, std::string_view nickname);
  /// Shows the dialog for all players.
  void OpenForAll();
  /// "Send": the text goes, prefixed, to the target when it is not empty; the dialog hides.
  void Send();

 private:
  void Open(const QString& caption);

  TServerFrame& server_;
  bool to_all_ = false;
  std::uint64_t target_serial_ = 0;
  QLineEdit* message_edit_;
  QPushButton* send_button_;
  QPushButton* cancel_button_;
};

}  // namespace tarvo::server
