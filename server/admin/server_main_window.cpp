#include "server/admin/server_main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include "server/core/server_config.h"
#include "server/core/server_frame.h"

namespace tarvo::server {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The tray needs an icon; the program ships none, so it draws one.
QIcon ServerIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0x2e, 0x6d, 0xb4));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(1, 1, 30, 30);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(20);
  painter.setFont(font);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, "K");
  return QIcon(pixmap);
}

}  // namespace

ServerMainWindow::ServerMainWindow(TServerFrame& server, bool tray_available, QWidget* parent)
    : QWidget(parent),
      server_(server),
      tray_available_(tray_available),
      end_program_([](int status) { QCoreApplication::exit(status); }) {
  setWindowTitle("KServer");
  setWindowIcon(ServerIcon());
  status_label_ = new QLabel("Starting server...", this);
  session_count_label_ = new QLabel("Current session count: 0", this);
  server_name_label_ = new QLabel("Server name: ", this);
  tray_note_label_ = new QLabel(
      "This server runs as a system tray application. Right-click on the icon and select "
      "'Shutdown' to end the program.",
      this);
  tray_note_label_->setWordWrap(true);
  view_players_button_ = new QPushButton("&View players", this);
  edit_accounts_button_ = new QPushButton("&Edit accounts", this);
  update_levels_button_ = new QPushButton("&Update levels", this);
  disconnect_remote_button_ = new QPushButton("&Disconnect all RCs", this);
  shutdown_button_ = new QPushButton("&Shutdown", this);
  // Without a tray the window is the only way to stop the server.
  shutdown_button_->setVisible(!tray_available_);
  for (QPushButton* button : {view_players_button_, edit_accounts_button_, update_levels_button_})
    button->setEnabled(false);

  auto* layout = new QVBoxLayout(this);
  for (QLabel* label : {status_label_, session_count_label_, server_name_label_, tray_note_label_})
    layout->addWidget(label);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {view_players_button_, edit_accounts_button_, update_levels_button_,
                              disconnect_remote_button_, shutdown_button_})
    buttons->addWidget(button);
  layout->addLayout(buttons);

  connect(view_players_button_, &QPushButton::clicked, this, [this] {
    if (view_players_hook_) view_players_hook_();
  });
  connect(edit_accounts_button_, &QPushButton::clicked, this, [this] {
    if (edit_accounts_hook_) edit_accounts_hook_();
  });
  connect(update_levels_button_, &QPushButton::clicked, this, [this] {
    if (update_levels_hook_) update_levels_hook_();
  });
  connect(disconnect_remote_button_, &QPushButton::clicked, this,
          [this] { DisconnectRemoteSessions(); });
  connect(shutdown_button_, &QPushButton::clicked, this, [this] { Shutdown(); });

  tick_timer_ = new QTimer(this);
  tick_timer_->setInterval(kTickMilliseconds);
  connect(tick_timer_, &QTimer::timeout, this, [this] { Tick(); });
  save_timer_ = new QTimer(this);
  save_timer_->setInterval(kSaveTickMilliseconds);
  connect(save_timer_, &QTimer::timeout, this, [this] { SaveCountdown(); });

  tray_menu_ = new QMenu(this);
  show_action_ = tray_menu_->addAction("Show KServer");
  shutdown_action_ = tray_menu_->addAction("Shutdown");
  tray_menu_->setDefaultAction(show_action_);
  connect(show_action_, &QAction::triggered, this, [this] { ShowWindow(); });
  connect(shutdown_action_, &QAction::triggered, this, [this] { Shutdown(); });
  tray_icon_ = new QSystemTrayIcon(windowIcon(), this);
  tray_icon_->setContextMenu(tray_menu_);
  connect(tray_icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) ShowWindow();
          });
}

ServerMainWindow::~ServerMainWindow() = default;

StartOutcome ServerMainWindow::StartServer(const std::string& port_text) {
  if (const auto port = ParsePortText(port_text); !port)
    return {StartOutcome::Kind::kInvalidPort, port.error()};
  // Only the close button: the window lives in the tray rather than the task bar.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  tray_icon_->setToolTip("Tarvo3D: 0 player(s)");
  if (tray_available_) tray_icon_->show();
  if (const auto started = server_.StartServer(port_text); !started) {
    tray_icon_->hide();
    return {StartOutcome::Kind::kFailed, started.error()};
  }
  ShowWindow();
  tick_timer_->start();
  save_timer_->start();
  return {StartOutcome::Kind::kStarted, {}};
}

void ServerMainWindow::ServerStarted(const ServerStartInfo& info) {
  // "0" lets the system choose: the operator needs the port clients must use.
  const auto asked = ParsePortText(info.port_text);
  const std::string port = asked && *asked == 0 ? std::to_string(info.port) : info.port_text;
  // A server bound to one address says which, so the operator knows where clients must connect.
  const std::string where =
      info.address.empty() || info.address == "0.0.0.0" ? std::string() : " on " + info.address;
  status_label_->setText(Text("Server started at port " + port + where));
  server_name_label_->setText(Text("Server name: " + info.host_name));
}

void ServerMainWindow::SessionCountChanged(int count) {
  session_count_label_->setText(QString("Current session count: %1").arg(count));
  tray_icon_->setToolTip(QString("Tarvo: %1 player(s)").arg(count));
}

void ServerMainWindow::Tick() { server_.Tick(); }

void ServerMainWindow::SaveCountdown() { server_.SaveCountdownTick(); }

void ServerMainWindow::DisconnectRemoteSessions() { server_.DestroyRemoteSessions(); }

void ServerMainWindow::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  tick_timer_->stop();
  save_timer_->stop();
  // The save's failure is logged by the observers; the exit status tells systemd and scripts.
  const bool saved = server_.Shutdown();
  tray_icon_->hide();
  end_program_(saved ? 0 : 1);
}

void ServerMainWindow::ShowWindow() {
  show();
  raise();
  activateWindow();
}

void ServerMainWindow::SetHook(QPushButton& button, std::function<void()>& slot,
                               std::function<void()> hook) {
  slot = std::move(hook);
  button.setEnabled(static_cast<bool>(slot));
}

void ServerMainWindow::SetViewPlayersHook(std::function<void()> hook) {
  SetHook(*view_players_button_, view_players_hook_, std::move(hook));
}

void ServerMainWindow::SetEditAccountsHook(std::function<void()> hook) {
  SetHook(*edit_accounts_button_, edit_accounts_hook_, std::move(hook));
}

void ServerMainWindow::SetUpdateLevelsHook(std::function<void()> hook) {
  SetHook(*update_levels_button_, update_levels_hook_, std::move(hook));
}

void ServerMainWindow::SetEndProgram(std::function<void(int status)> end_program) {
  end_program_ = std::move(end_program);
}

void ServerMainWindow::closeEvent(QCloseEvent* event) {
  // The server keeps running; the tray brings the window back. Without a tray, hiding would
  // leave no way to reach it.
  if (shut_down_) return;
  event->ignore();
  if (tray_available_) hide();
}

void ServerMainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (tray_available_) hide();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace tarvo::server
