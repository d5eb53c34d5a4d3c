#include "server/accounts/ui/key_preview.h"

namespace tarvo::server {

KeyPreview::KeyPreview(QWidget& window, std::function<bool(QObject&, QKeyEvent&)> handler)
    : QObject(&window), handler_(std::move(handler)) {
  Watch(window);
  for (QWidget* child : window.findChildren<QWidget*>()) Watch(*child);
}

void KeyPreview::Watch(QWidget& control) { control.installEventFilter(this); }

bool KeyPreview::eventFilter(QObject* watched, QEvent* event) {
  // A key the handler leaves alone may reach the window again when its control ignores it; the
  // handler then leaves it alone again.
  if (event->type() != QEvent::KeyPress) return false;
  return handler_(*watched, *static_cast<QKeyEvent*>(event));
}

}  // namespace tarvo::server
