#pragma once

// Helpers for the operator window tests: the application object, message boxes closed as they
// open, and waits that keep the Qt event loop (and so the server's timers) running.

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>

#include "support/protocol_client.h"

namespace tarvo::testing {

/// Makes sure a QApplication exists; it lives until exit.
inline void EnsureApplication() {
  static int argc = 1;
  static char name[] = "server_windows_test";
  static char* argv[] = {name, nullptr};
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = QApplication::instance() ? nullptr : new QApplication(argc, argv);
  (void)app;
  QApplication::setQuitOnLastWindowClosed(false);
}

/// Closes every message box as it opens and remembers the caption and text of each.
class MessageBoxCloser {
 public:
  struct Box {
    QString caption;
    QString text;
  };
  MessageBoxCloser() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxes.push_back({box->windowTitle(), box->text()});
        box->done(QMessageBox::Ok);
      }
    });
    timer_.start();
  }
  std::vector<Box> boxes;

 private:
  QTimer timer_;
};

/// Runs the event loop until the client holds a message `id` (matching `accept`); takes it out.
inline std::optional<Received> WaitForMessage(
    ProtocolClient& client, int id, const std::function<bool(const Received&)>& accept = {},
    int timeout_ms = 5000) {
  std::optional<Received> found;
  (void)QTest::qWaitFor(
      [&] {
        client.Poll();
        auto& inbox = client.inbox();
        for (auto it = inbox.begin(); it != inbox.end(); ++it) {
          if (it->id == id && (!accept || accept(*it))) {
            found = *it;
            inbox.erase(it);
            return true;
          }
        }
        return false;
      },
      timeout_ms);
  return found;
}

}  // namespace tarvo::testing
