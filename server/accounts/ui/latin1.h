#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tarvo::server {

/// Account names, passwords and property texts are bytes; the windows show them as Latin-1.
inline QString ToQString(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

/// The bytes of a text typed in a window (characters outside Latin-1 become "?").
inline std::string ToBytes(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace tarvo::server
