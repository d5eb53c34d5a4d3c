#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <string>

#include "server/admin/start_outcome.h"

class QLineEdit;
class QPushButton;

namespace tarvo::server {

/// The dialog shown at program start: asks for the port, remembers it in serverconfig.txt and
/// starts the server. Cancel or closing ends the program with nothing written.
class TStartFrame final : public QDialog {
 public:
  using StartFunction = std::function<StartOutcome(const std::string& port_text)>;

  /// Reads the port text from `config_file` (the default when it gives none); `start` starts the
  /// server on the port text as typed.
  TStartFrame(std::filesystem::path config_file, StartFunction start, QWidget* parent = nullptr);

  /// Puts a port text into the field, as one given on the command line.
  void SetPortText(const std::string& port_text);
  /// How the program ends (default: leave the application's event loop with the status).
  void SetEndProgram(std::function<void(int status)> end_program);

  /// The port text last confirmed (or read from the file before that).
  const std::string& port_text() const { return port_text_; }
  QLineEdit& port_edit() { return *port_edit_; }
  QPushButton& ok_button() { return *ok_button_; }
  QPushButton& cancel_button() { return *cancel_button_; }

  /// Cancel, Escape and the close button.
  void reject() override;

 private:
  void StartWithEnteredPort();

  std::filesystem::path config_file_;
  StartFunction start_;
  std::function<void(int)> end_program_;
  std::string port_text_;
  QLineEdit* port_edit_;
  QPushButton* ok_button_;
  QPushButton* cancel_button_;
};

}  // namespace tarvo::server
