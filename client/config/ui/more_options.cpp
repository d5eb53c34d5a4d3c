#include "client/config/ui/more_options.h"

#include <spdlog/spdlog.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include "client/config/configuration.h"
#include "client/config/integer_parser.h"
#include "client/config/ui/dialog_support.h"

namespace tarvo::client {
namespace {

void TakeLookFromPlayer(const TPlayer& player, ClientSettings& settings) {
  settings.Nickname = player.Nickname;
  settings.BodyMesh = player.BodyMesh;
  settings.HeadMesh = player.HeadMesh;
  settings.BodyTex = player.BodyTex;
  settings.ArmColor = player.ArmColor;
  settings.ShoeColor = player.ShoeColor;
  settings.HandColor = player.HandColor;
}

void PutLookIntoPlayer(const ClientSettings& settings, TPlayer& player) {
  player.Nickname = settings.Nickname;
  player.BodyMesh = settings.BodyMesh;
  player.HeadMesh = settings.HeadMesh;
  player.BodyTex = settings.BodyTex;
  player.ArmColor = settings.ArmColor;
  player.ShoeColor = settings.ShoeColor;
  player.HandColor = settings.HandColor;
}

}  // namespace

TMoreOptions::TMoreOptions(ClientWorld& world, ClientSettings& settings,
                           std::filesystem::path config_directory,
                           std::unique_ptr<QSettings> user_settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      world_(world),
      settings_(settings),
      config_directory_(std::move(config_directory)),
      user_settings_(std::move(user_settings)) {
  setWindowTitle(QStringLiteral("Options"));
  setFixedSize(469, 176);
  QFont form_font(QStringLiteral("Sans Serif"));
  form_font.setPixelSize(14);
  setFont(form_font);

  auto* group = new QGroupBox(QStringLiteral("Hardware options"), this);
  group->setGeometry(8, 8, 453, 124);
  auto* explanation = new QLabel(
      QStringLiteral("Change these options if you've got problems with the game or if you want "
                     "to speed up the game."),
      group);
  explanation->setWordWrap(true);
  explanation->setGeometry(12, 20, 429, 36);
  fixed_port_box_ = new QCheckBox(QStringLiteral("Use fixed port for data packages:"), group);
  fixed_port_box_->setGeometry(12, 62, 262, 22);
  fixed_port_edit_ = new QLineEdit(QStringLiteral("14898"), group);
  fixed_port_edit_->setGeometry(280, 61, 81, 24);
  no_udp_box_ = new QCheckBox(QStringLiteral("Don't use UDP for data packages"), group);
  no_udp_box_->setGeometry(12, 92, 300, 22);
  close_button_ = new QPushButton(QStringLiteral("&Close"), this);
  close_button_->setGeometry(386, 142, 75, 26);
  connect(close_button_, &QPushButton::clicked, this, [this] { hide(); });

  InstallKeyPreview(*this);
  CentreOnScreen(*this);

  // A store that cannot be opened is skipped, as if it held nothing.
  if (user_settings_ != nullptr && user_settings_->status() == QSettings::NoError) {
    user_store_ = std::make_unique<QSettingsUserStore>(*user_settings_);
  }
  LoadConfiguration();
}

TMoreOptions::~TMoreOptions() = default;

void TMoreOptions::LoadConfiguration() {
  TPlayer& me = world_.LocalPlayer();
  // The player's current look is what a value missing from the file leaves in place.
  TakeLookFromPlayer(me, settings_);
  client::LoadConfiguration(config_directory_, user_store_.get(), settings_);
  PutLookIntoPlayer(settings_, me);
}

void TMoreOptions::SaveConfiguration() {
  TakeLookFromPlayer(world_.LocalPlayer(), settings_);
  // Every caller saves because the user closed a dialog or started: tell them it did not work.
  if (const auto saved = client::SaveConfiguration(config_directory_, user_store_.get(), settings_);
      !saved) {
    spdlog::warn("the options were not saved: {}", saved.error());
    QMessageBox::warning(
        parentWidget(), "Tarvo 3D",
        QString::fromStdString("The options could not be saved: " + saved.error()));
  }
}

void TMoreOptions::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // restored by the window system, not shown anew
  fixed_port_box_->setChecked(settings_.FixedPort);
  fixed_port_edit_->setText(QString::number(settings_.FixedUdpPort));
  no_udp_box_->setChecked(settings_.NoUdp);
}

void TMoreOptions::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (event->spontaneous()) return;  // minimized, not closed
  StoreAndApply();
}

void TMoreOptions::StoreAndApply() {
  settings_.FixedPort = fixed_port_box_->isChecked();
  // A number no port can have is refused like text that is no number.
  if (const auto port = ParseInteger(SettingText(fixed_port_edit_->text()));
      port.has_value() && *port <= 65535) {
    settings_.FixedUdpPort = *port;
  }
  settings_.NoUdp = no_udp_box_->isChecked();
  SaveConfiguration();
  if (PlayerSession* session = world_.CurrentSession()) session->ApplyUdpSettings();
}

bool TMoreOptions::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    hide();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tarvo::client
