#pragma once

#include <QDialog>
#include <filesystem>
#include <memory>

#include "client/config/client_settings.h"
#include "client/config/user_store.h"
#include "client/world/client_world.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSettings;

namespace tarvo::client {

/// The options dialog: the UDP options, stored and applied to a live session whenever it hides.
/// It also owns the configuration, loaded when it is created and saved for all three dialogs.
/// While the program runs, the local player holds the nickname and look, `settings` the rest.
/// Created before the connect and edit-look dialogs, which save through it.
class TMoreOptions final : public QDialog {
 public:
  /// Loads `config_directory`/tarvo3dconfig.txt and the per-user values of `user_settings`
  /// (null: none) into `settings` and the local player of `world`; starts hidden.
  TMoreOptions(ClientWorld& world, ClientSettings& settings, std::filesystem::path config_directory,
               std::unique_ptr<QSettings> user_settings, QWidget* parent = nullptr);
  ~TMoreOptions() override;

  /// Reads the file and, only when it exists, the per-user values; missing values keep theirs.
  void LoadConfiguration();
  /// Writes the settings with the local player's nickname and look; failures are silent.
  void SaveConfiguration();
  /// Where tarvo3dconfig.txt lives.
  const std::filesystem::path& config_directory() const { return config_directory_; }

  /// "Use fixed port for data packages:" (`FixedPort`).
  QCheckBox* fixed_port_box() const { return fixed_port_box_; }
  /// The fixed UDP port as typed (`FixedUdpPort`).
  QLineEdit* fixed_port_edit() const { return fixed_port_edit_; }
  /// "Don't use UDP for data packages" (`NoUdp`).
  QCheckBox* no_udp_box() const { return no_udp_box_; }
  /// "&Close": hides the dialog.
  QPushButton* close_button() const { return close_button_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void StoreAndApply();

  ClientWorld& world_;
  ClientSettings& settings_;
  std::filesystem::path config_directory_;
  std::unique_ptr<QSettings> user_settings_;
  std::unique_ptr<QSettingsUserStore> user_store_;
  QCheckBox* fixed_port_box_;
  QLineEdit* fixed_port_edit_;
  QCheckBox* no_udp_box_;
  QPushButton* close_button_;
};

}  // namespace tarvo::client
