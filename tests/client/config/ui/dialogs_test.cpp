// The connect, options and edit-look dialogs under the offscreen platform, with real files, an
// INI file for the per-user values, and the real server core on a loopback port for sessions.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "client/config/configuration.h"
#include "client/config/ui/connect_frame.h"
#include "client/config/ui/edit_look.h"
#include "client/config/ui/jpeg_picture.h"
#include "client/config/ui/more_options.h"
#include "client/session/host_cache.h"
#include "protocol/properties.h"
#include "server/core/server_frame.h"
#include "server/temp_dir.h"

namespace tarvo::client {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "client_config_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = QApplication::instance() ? nullptr : new QApplication(argc, argv);
  (void)app;
}

// Stands in for the main window: records what Start and closing ask of it.
class RecordingHost : public ConnectHost, public SessionHost {
 public:
  explicit RecordingHost(fs::path levels) : levels_(std::move(levels)) {}
  fs::path AssetDirectory() override { return fs::path(TARVO_SOURCE_DIR) / "data" / "client"; }
  void ShowMainWindow() override { ++main_window_shown; }
  SessionHost& SessionHostForStart() override { return *this; }
  SessionOptions SessionOptionsForStart() override {
    SessionOptions options;
    options.level_directory = levels_;
    return options;
  }
  void AdoptSession(std::unique_ptr<TAdventureClient> adopted) override {
    session = std::move(adopted);
  }
  void EndProgram() override { ++program_ended; }
  void ShowMessage(std::string_view text, std::string_view) override {
    messages.emplace_back(text);
  }
  void LoadLevel(const fs::path&) override {}

  int main_window_shown = 0;
  int program_ended = 0;
  std::vector<std::string> messages;
  std::unique_ptr<TAdventureClient> session;

 private:
  fs::path levels_;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    ProcessHostCache().Clear();
  }
  void TearDown() override {
    connect_.reset();
    look_.reset();
    options_.reset();
    host_.session.reset();
  }

  // The server core on a copy of the bundled world; the configuration points at its port.
  void StartServer() {
    fs::copy(fs::path(TARVO_SOURCE_DIR) / "data" / "world", server_dir_.path(),
             fs::copy_options::recursive);
    fs::create_directories(server_dir_ / "cwd");
    server_ = std::make_unique<server::TServerFrame>(server_dir_.path(), nullptr, nullptr,
                                                     server_dir_ / "cwd");
    ASSERT_TRUE(server_->StartServer("0").ok());
    WriteConfig("serverport=" + std::to_string(server_->port()) + "\r\n");
  }

  void WriteConfig(const std::string& text) { WriteFile(config_ / kConfigurationFileName, text); }
  std::string SavedConfig() const { return ReadFile(config_ / kConfigurationFileName); }

  TMoreOptions& Options() {
    if (!options_) {
      auto user = std::make_unique<QSettings>(
          QString::fromStdString((config_ / "user.ini").string()), QSettings::IniFormat);
      options_ = std::make_unique<TMoreOptions>(world_, settings_, config_.path(), std::move(user));
    }
    return *options_;
  }
  TConnectFrame& ConnectDialog() {
    if (!connect_) connect_ = std::make_unique<TConnectFrame>(world_, settings_, Options(), host_);
    return *connect_;
  }
  TEditLook& LookDialog() {
    if (!look_) look_ = std::make_unique<TEditLook>(world_, Options());
    return *look_;
  }

  // Types `address` as the server and presses Start.
  void StartWith(const QString& address) {
    TConnectFrame& dialog = ConnectDialog();
    dialog.show();
    dialog.server_box()->lineEdit()->clear();
    QTest::keyClicks(dialog.server_box()->lineEdit(), address);
    QTest::mouseClick(dialog.start_button(), Qt::LeftButton);
  }

  QStringList HistoryShown() {
    QStringList items;
    for (int i = 0; i < ConnectDialog().server_box()->count(); ++i) {
      items << ConnectDialog().server_box()->itemText(i);
    }
    return items;
  }

  // The game loop's network steps and the server's tick, until `done` or five seconds.
  bool RunUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
      if (PlayerSession* session = world_.CurrentSession()) session->ReceiveTcp();
      if (PlayerSession* session = world_.CurrentSession()) session->ReceiveUdp();
      world_.LocalPlayer().ReportChanges();
      if (PlayerSession* session = world_.CurrentSession()) session->SendPending();
      server_->Tick();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // The server's session of our player once it plays, else null.
  const server::TServerPlayer* PlayerAtServer() const {
    for (const auto& player : server_->player_sessions()) {
      if (player->is_playing()) return player.get();
    }
    return nullptr;
  }

  // Starts a session from the connect dialog and waits until the server has its first report.
  void Play() {
    StartServer();
    StartWith("127.0.0.1");
    ASSERT_NE(host_.session, nullptr);
    ASSERT_TRUE(host_.session->Connected()) << ::testing::PrintToString(host_.messages);
    ASSERT_TRUE(RunUntil([&] {
      const auto* me = PlayerAtServer();
      return me != nullptr && me->udp_port() != 0;
    }));
  }

  TempDir config_;
  TempDir server_dir_;
  TempDir levels_;
  ClientWorld world_;
  ClientSettings settings_;
  RecordingHost host_{levels_.path()};
  std::unique_ptr<server::TServerFrame> server_;
  std::unique_ptr<TMoreOptions> options_;
  std::unique_ptr<TConnectFrame> connect_;
  std::unique_ptr<TEditLook> look_;
};

TEST_F(DialogTest, ConnectDialogShowsTheLoadedSettingsAndServerAddressWithoutHistory) {
  WriteConfig("serverport=15000\r\n");
  QSettings user(QString::fromStdString((config_ / "user.ini").string()), QSettings::IniFormat);
  user.setValue("Client/nickname", "Ann");
  user.sync();

  TConnectFrame& dialog = ConnectDialog();
  EXPECT_EQ(dialog.server_box()->count(), 0);
  EXPECT_EQ(dialog.server_box()->currentText(), "127.0.0.1");
  EXPECT_EQ(dialog.nickname_edit()->text(), "Ann");
  for (const char* typed : {"\u0416", "\u00E9"}) {  // settings are 8-bit
    QTest::sendKeyEvent(QTest::Click, dialog.nickname_edit(), Qt::Key_A, QString::fromUtf8(typed),
                        Qt::NoModifier);
  }
  EXPECT_EQ(dialog.nickname_edit()->text(), QString::fromUtf8("Ann\u00E9"));
  EXPECT_EQ(dialog.port_edit()->text(), "15000");
  EXPECT_EQ(dialog.account_edit()->text(), "guest");
  EXPECT_EQ(dialog.password_edit()->displayText(), "*****");
  EXPECT_EQ(dialog.server_box()->geometry(), QRect(114, 135, 185, 24));
  EXPECT_EQ(dialog.password_edit()->palette().color(QPalette::Base), QColor(64, 0, 0));
}

TEST_F(DialogTest, StartKeepsAKnownAddressOnceOnTopAsNewlyTyped) {
  StartServer();
  WriteConfig("serveraddr=10.0.0.1,localhost,10.0.0.2\r\nserverport=" +
              std::to_string(server_->port()) + "\r\n");
  EXPECT_EQ(ConnectDialog().server_box()->currentText(), "10.0.0.1");

  StartWith("LocalHost");
  EXPECT_EQ(HistoryShown(), QStringList({"LocalHost", "10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(settings_.ServerAddress, "LocalHost");
  EXPECT_EQ(SavedConfig().rfind("serveraddr=LocalHost,10.0.0.1,10.0.0.2\r\n", 0), 0u);
}

TEST_F(DialogTest, StartWithASixthAddressPushesTheOldestOut) {
  StartServer();
  WriteConfig("serveraddr=127.0.0.1,127.0.0.2,127.0.0.3,127.0.0.4,127.0.0.5\r\nserverport=" +
              std::to_string(server_->port()) + "\r\n");
  StartWith("127.0.0.6");
  EXPECT_EQ(HistoryShown(),
            QStringList({"127.0.0.6", "127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"}));
}

TEST_F(DialogTest, EscapeOrClosingWithoutStartEndsTheProgram) {
  TConnectFrame& dialog = ConnectDialog();
  dialog.show();
  QTest::keyClick(dialog.port_edit(), Qt::Key_Escape);
  EXPECT_EQ(host_.program_ended, 1);

  connect_.reset();
  TConnectFrame& second = ConnectDialog();
  second.show();
  second.close();
  EXPECT_EQ(host_.program_ended, 2);
  EXPECT_EQ(host_.main_window_shown, 0);
  EXPECT_EQ(host_.session, nullptr);
}

TEST_F(DialogTest, StartOpensTheSessionAndDoesNotEndTheProgram) {
  StartServer();
  QTest::keyClicks(ConnectDialog().nickname_edit(), "Bea");
  StartWith("127.0.0.1");
  EXPECT_TRUE(ConnectDialog().Started());
  EXPECT_FALSE(ConnectDialog().isVisible());
  EXPECT_EQ(host_.program_ended, 0);
  EXPECT_EQ(host_.main_window_shown, 1);
  ASSERT_NE(host_.session, nullptr);
  EXPECT_EQ(world_.CurrentSession(), host_.session.get());
  ASSERT_TRUE(RunUntil([&] {
    const auto* me = PlayerAtServer();
    return me != nullptr && me->values().Text(protocol::kPropNickname) == "Bea";
  }));
  QSettings user(QString::fromStdString((config_ / "user.ini").string()), QSettings::IniFormat);
  EXPECT_EQ(user.value("Client/nickname").toString(), "Bea");
}

TEST_F(DialogTest, LettersOrANumberAbovePortRangeAsTheFixedPortKeepThePreviousPort) {
  TMoreOptions& options = Options();
  options.show();
  EXPECT_EQ(options.fixed_port_edit()->text(), "14898");
  options.fixed_port_box()->setChecked(true);
  options.fixed_port_edit()->setText("abc");
  QTest::mouseClick(options.close_button(), Qt::LeftButton);
  EXPECT_FALSE(options.isVisible());
  EXPECT_TRUE(settings_.FixedPort);
  EXPECT_EQ(settings_.FixedUdpPort, 14898);
  EXPECT_NE(SavedConfig().find("fixedport=true\r\nfixedudpport=14898\r\n"), std::string::npos);

  options.show();
  EXPECT_EQ(options.fixed_port_edit()->text(), "14898");
  options.fixed_port_edit()->setText("65536");
  options.hide();
  EXPECT_EQ(settings_.FixedUdpPort, 14898);
  options.show();
  options.fixed_port_edit()->setText("$FFFF");
  options.hide();
  EXPECT_EQ(settings_.FixedUdpPort, 65535);
}

TEST_F(DialogTest, NoUdpOnALiveSessionClosesTheChannelAndTheNextReportSaysPortZero) {
  ASSERT_NO_FATAL_FAILURE(Play());
  ASSERT_NE(host_.session->UdpPort(), 0);
  TMoreOptions& options = Options();
  options.show();
  options.no_udp_box()->setChecked(true);
  QTest::keyClick(options.no_udp_box(), Qt::Key_Escape);
  EXPECT_FALSE(options.isVisible());
  EXPECT_TRUE(settings_.NoUdp);
  EXPECT_EQ(host_.session->UdpPort(), 0);
  EXPECT_TRUE(RunUntil([&] { return PlayerAtServer()->udp_port() == 0; }));
}

TEST_F(DialogTest, AnArmColourThatIsNotANumberGoesBackToItsDefault) {
  TPlayer& me = world_.LocalPlayer();
  me.ArmColor = 0x00AB12;
  me.ShoeColor = 0x1;
  TEditLook& look = LookDialog();
  look.show();
  EXPECT_EQ(look.arm_colour_edit()->text(), "0x00AB12");
  EXPECT_EQ(look.shoe_colour_edit()->text(), "0x000001");
  EXPECT_EQ(look.body_mesh_edit()->text(), "body.x");
  look.arm_colour_edit()->setText("red");
  QTest::mouseClick(look.apply_button(), Qt::LeftButton);
  EXPECT_EQ(me.ArmColor, 0xFF0000u);
  EXPECT_EQ(me.ShoeColor, 0x1u);
  EXPECT_EQ(SavedConfig(), "");  // Apply does not save; hiding does
  QTest::mouseClick(look.close_button(), Qt::LeftButton);
  EXPECT_NE(SavedConfig().find("armcolor=0xFF0000\r\nshoecolor=0x000001\r\n"), std::string::npos);
}

TEST_F(DialogTest, ApplySendsTheLookWithTheNextReport) {
  ASSERT_NO_FATAL_FAILURE(Play());
  TEditLook& look = LookDialog();
  look.show();
  look.hand_colour_edit()->setText("$00FF00");
  look.body_texture_edit()->setText("wood.bmp");
  QTest::mouseClick(look.apply_button(), Qt::LeftButton);
  EXPECT_TRUE(RunUntil([&] {
    const auto& values = PlayerAtServer()->values();
    return values.Number(protocol::kPropHandColour) == 0x00FF00 &&
           values.Text(protocol::kPropBodyTexture) == "wood.bmp";
  }));
}

TEST(JpegPictureTest, DecodesTheConnectPictureAndRefusesABrokenOneWithoutEndingTheProgram) {
  const QImage picture =
      ReadJpegFile(fs::path(TARVO_SOURCE_DIR) / "data" / "client" / "connect.jpg");
  EXPECT_EQ(picture.size(), QSize(433, 321));

  TempDir dir;
  WriteFile(dir / "broken.jpg", std::string("\xFF\xD8\xFF\xC0\x00\x11garbage", 14));
  EXPECT_TRUE(ReadJpegFile(dir / "broken.jpg").isNull());
  EXPECT_TRUE(ReadJpegFile(dir / "missing.jpg").isNull());
}

}  // namespace
}  // namespace tarvo::client
