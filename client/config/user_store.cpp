#include "client/config/user_store.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

namespace tarvo::client {
namespace {

// Latin-1 maps every byte to one character and back, so 8-bit texts survive unchanged.
QString KeyOf(std::string_view name) {
  return QStringLiteral("Client/") +
         QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

QSettingsUserStore::QSettingsUserStore(QSettings& settings) : settings_(settings) {}

std::optional<std::string> QSettingsUserStore::Read(std::string_view name) {
  const QVariant value = settings_.value(KeyOf(name));
  if (!value.isValid()) {
    return std::nullopt;
  }
  const QByteArray bytes = value.toString().toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool QSettingsUserStore::Write(std::string_view name, std::string_view value) {
  if (!settings_.isWritable()) {
    return false;
  }
  settings_.setValue(KeyOf(name),
                     QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size())));
  // Written through at once, so a crash later in the session cannot lose it.
  settings_.sync();
  return settings_.status() == QSettings::NoError;
}

std::unique_ptr<QSettings> OpenUserSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("Tarvo3D"));
}

}  // namespace tarvo::client
