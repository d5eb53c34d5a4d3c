// The main window and tray over a real core: the session count and tray tip, hiding, the
// Shutdown path from the tray and from SIGTERM, and ending the remote-control sessions.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <csignal>
#include <memory>

#include "gui_support.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "server/app/stop_signal_notifier.h"
#include "server/app/windowed_server.h"
#include "server/temp_dir.h"

namespace tarvo::server {
namespace {

namespace msg = protocol::msg;
using testing::ProtocolClient;
using testing::Received;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureApplication();
    testing::WriteFile(dir_ / "levels/startlevel.x", "start");
    AccountStore accounts;
    accounts.AddNewAccount({"admin", "a", 3, false, false});
    accounts.AddNewAccount({"bob", "b", 0, false, false});
    ASSERT_TRUE(accounts.SaveAccounts(dir_ / "accounts.txt").ok);
  }

  // Starts the windowed server from its start dialog on a port the system chooses.
  void Start(bool tray_available) {
    windows_ = std::make_unique<WindowedServer>(Options(tray_available));
    windows_->SetEndProgram([this](int status) { ended_.push_back(status); });
    windows_->Show();
    windows_->start_dialog().port_edit().setText("0");
    windows_->start_dialog().ok_button().click();
    ASSERT_TRUE(windows_->server().running());
  }

  ProtocolClient& Join(std::string_view name, std::string_view password, int kind = 0) {
    clients_.push_back(std::make_unique<ProtocolClient>());
    ProtocolClient& client = *clients_.back();
    EXPECT_TRUE(client.Connect(windows_->server().port()));
    client.Login(name, password, protocol::kVersionCurrent, kind);
    return client;
  }

  // Waits for the label and the tray tip to show `count` sessions.
  void ExpectCount(int count) {
    const QString label = QString("Current session count: %1").arg(count);
    const QString tip = QString("Tarvo: %1 player(s)").arg(count);
    MainWindow& window = windows_->main_window();
    EXPECT_TRUE(QTest::qWaitFor([&] {
      for (auto& c : clients_) c->Poll();
      return window.session_count_label().text() == label && window.tray_icon().toolTip() == tip;
    }));
    EXPECT_EQ(window.session_count_label().text(), label);
    EXPECT_EQ(window.tray_icon().toolTip(), tip);
  }

  using MainWindow = ServerMainWindow;
  WindowedOptions Options(bool tray_available) const {
    WindowedOptions options;
    options.directory = dir_.path();
    options.tray_available = tray_available;
    return options;
  }

  testing::TempDir dir_;
  std::unique_ptr<WindowedServer> windows_;
  std::vector<std::unique_ptr<ProtocolClient>> clients_;
  std::vector<int> ended_;
};

TEST_F(MainWindowTest, SessionCountAndTrayTipFollowLoginsDisconnectsAndRemoteLogins) {
  Start(/*tray_available=*/false);
  MainWindow& window = windows_->main_window();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(windows_->start_dialog().isVisible());
  EXPECT_EQ(window.tray_icon().toolTip(), "Tarvo3D: 0 player(s)");
  EXPECT_EQ(window.status_label().text(),
            QString("Server started at port %1").arg(windows_->server().port()));
  EXPECT_TRUE(window.server_name_label().text().startsWith("Server name: "));

  ProtocolClient& bob = Join("bob", "b");
  ASSERT_TRUE(testing::WaitForMessage(bob, msg::kOwnProperties));
  ExpectCount(1);
  Join("admin", "a", msg::kRemoteLogin);
  // Counted while it logs in, no longer once it is a remote-control session.
  ASSERT_TRUE(QTest::qWaitFor([this] { return windows_->server().remote_sessions().size() == 1; }));
  ExpectCount(1);
  bob.Close();
  ExpectCount(0);
}

TEST_F(MainWindowTest, ClosingOrEscapeHidesTheWindowAndTheServerKeepsServing) {
  Start(/*tray_available=*/true);
  MainWindow& window = windows_->main_window();
  EXPECT_FALSE(window.shutdown_button().isVisible());  // the tray menu offers it
  window.close();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(window.tray_icon().isVisible());
  window.show_action().trigger();
  EXPECT_TRUE(window.isVisible());
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  ProtocolClient& bob = Join("bob", "b");
  EXPECT_TRUE(testing::WaitForMessage(bob, msg::kOwnProperties));
  ExpectCount(1);
  EXPECT_TRUE(ended_.empty());
}

TEST_F(MainWindowTest, TrayShutdownSavesEveryAccountAndSaysGoodbye) {
  Start(/*tray_available=*/true);
  ProtocolClient& bob = Join("bob", "b");
  ASSERT_TRUE(testing::WaitForMessage(bob, msg::kOwnProperties));
  // A change the accounts file does not hold yet.
  std::string entry;
  protocol::PutEntry(entry, protocol::kPropNickname, 0, "Bobby");
  bob.Send(msg::kProperties, entry);
  QTest::qWait(200);
  windows_->main_window().shutdown_action().trigger();
  EXPECT_EQ(ended_, std::vector<int>{0});
  EXPECT_FALSE(windows_->main_window().tray_icon().isVisible());
  const auto goodbye = bob.WaitFor(msg::kDisconnectReason);
  ASSERT_TRUE(goodbye);
  EXPECT_EQ(goodbye->payload, "The server has been shut down.");
  EXPECT_NE(testing::ReadFile(dir_ / "accounts.txt").find("Bobby"), std::string::npos);
}

TEST_F(MainWindowTest, WithoutTrayTheWindowStaysAndSigtermShutsDown) {
  Start(/*tray_available=*/false);
  MainWindow& window = windows_->main_window();
  window.close();
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.shutdown_button().isVisible());
  StopSignalNotifier stop([this](int) { windows_->Stop(); });
  ProtocolClient& bob = Join("bob", "b");
  ASSERT_TRUE(testing::WaitForMessage(bob, msg::kOwnProperties));
  std::raise(SIGTERM);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !ended_.empty(); }));
  EXPECT_EQ(ended_, std::vector<int>{0});
  const auto goodbye = bob.WaitFor(msg::kDisconnectReason);
  ASSERT_TRUE(goodbye);
  EXPECT_EQ(goodbye->payload, "The server has been shut down.");
}

TEST_F(MainWindowTest, DisconnectAllRemoteControlsEndsOnlyThem) {
  Start(/*tray_available=*/false);
  ProtocolClient& bob = Join("bob", "b");
  ASSERT_TRUE(testing::WaitForMessage(bob, msg::kOwnProperties));
  ProtocolClient& admin = Join("admin", "a", msg::kRemoteLogin);
  ASSERT_TRUE(QTest::qWaitFor([this] { return windows_->server().remote_sessions().size() == 1; }));
  // Let the login's answers arrive first.
  (void)QTest::qWaitFor(
      [&] {
        admin.Poll();
        return false;
      },
      300);
  admin.inbox().clear();
  windows_->main_window().disconnect_remote_button().click();
  EXPECT_TRUE(windows_->server().remote_sessions().empty());
  EXPECT_TRUE(QTest::qWaitFor([&] {
    admin.Poll();
    return admin.closed();
  }));
  EXPECT_TRUE(admin.inbox().empty());  // nothing is sent to them
  bob.Poll();
  EXPECT_FALSE(bob.closed());
  EXPECT_EQ(windows_->server().player_sessions().size(), 1u);
}

}  // namespace
}  // namespace tarvo::server
