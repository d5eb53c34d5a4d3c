#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QLineEdit;
class QPushButton;

namespace tarvo::server {

class TServerFrame;

/// The level names in the names field: split at commas, each trimmed of blanks, empty ones left
/// out; otherwise as typed.
std::vector<std::string> SplitLevelNames(std::string_view text);

/// What the file-open dialog of the update levels window is asked.
struct LevelFileRequest {
  QString caption;
  QString directory;  ///< the levels directory
  QString filter;     ///< Qt name filters
};

/// Runs a file-open dialog for existing files; returns the chosen paths, empty on cancel.
using LevelFileChooser = std::function<QStringList(QWidget* parent, const LevelFileRequest&)>;

/// The name filter of the level file dialog.
inline constexpr const char* kLevelFileFilter = "Tarvo levels (*.tarvo *.vesko);;All files (*)";

/// Lets the operator name cached levels that the server reads from disk again.
class TUpdateLevels final : public QDialog {
 public:
  /// `choose_files` defaults to the platform's file-open dialog.
  explicit TUpdateLevels(TServerFrame& server, LevelFileChooser choose_files = {},
                         QWidget* parent = nullptr);

  QLineEdit& names_edit() { return *names_edit_; }
  QPushButton& browse_button() { return *browse_button_; }
  QPushButton& update_button() { return *update_button_; }
  QPushButton& cancel_button() { return *cancel_button_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ChooseLevelFiles();
  void ReloadNamedLevels();

  TServerFrame& server_;
  LevelFileChooser choose_files_;
  QString levels_directory_;
  QLineEdit* names_edit_;
  QPushButton* browse_button_;
  QPushButton* update_button_;
  QPushButton* cancel_button_;
};

}  // namespace tarvo::server
