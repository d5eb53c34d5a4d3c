#pragma once

#include <QKeyEvent>
#include <QObject>
#include <QWidget>
#include <functional>

namespace tarvo::server {

/// Lets a window see key presses before its controls do: `handler` gets every key press of the
/// window and its controls, with the control it is meant for, and returns true when it used it.
class KeyPreview final : public QObject {
 public:
  KeyPreview(QWidget& window, std::function<bool(QObject& target, QKeyEvent&)> handler);
  /// Also watches a control added after construction.
  void Watch(QWidget& control);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<bool(QObject&, QKeyEvent&)> handler_;
};

}  // namespace tarvo::server
