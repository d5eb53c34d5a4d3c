#include "client/config/ui/dialog_support.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QValidator>
#include <QWidget>

namespace tarvo::client {
namespace {

class Latin1Validator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    for (const QChar c : input) {
      if (c.unicode() > 0xFF) return Invalid;
    }
    return Acceptable;
  }
};

}  // namespace

std::string SettingText(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString EditText(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void AcceptLatin1Only(QLineEdit& edit) { edit.setValidator(new Latin1Validator(&edit)); }

void CentreOnScreen(QWidget& window) {
  const QScreen* screen =
      window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  window.move(area.x() + (area.width() - window.width()) / 2,
              area.y() + (area.height() - window.height()) / 2);
}

void InstallKeyPreview(QWidget& form) {
  for (QWidget* control : form.findChildren<QWidget*>()) control->installEventFilter(&form);
}

}  // namespace tarvo::client
