#pragma once

#include <QString>
#include <string>
#include <string_view>

class QLineEdit;
class QWidget;

namespace tarvo::client {

/// The 8-bit setting an edit's text stands for; characters outside Latin-1 become "?".
std::string SettingText(const QString& text);
/// An 8-bit setting as edit text, byte for byte.
QString EditText(std::string_view text);

/// Refuses characters outside Latin-1 as they are typed: settings are 8-bit, so what an edit
/// shows is what is stored and sent.
void AcceptLatin1Only(QLineEdit& edit);

/// Moves a top-level window to the centre of its screen's available area.
void CentreOnScreen(QWidget& window);

/// Makes `form` see the key events of all its present controls first (its eventFilter).
void InstallKeyPreview(QWidget& form);

}  // namespace tarvo::client
