// The start dialog: the port it offers from serverconfig.txt, what it writes, and how refused
// port texts and a port that cannot be bound end.
#include "server/admin/start_frame.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "gui_support.h"
#include "net/tcp_listener.h"
#include "server/app/windowed_server.h"
#include "server/temp_dir.h"

namespace tarvo::server {
namespace {

using testing::ReadFile;
using testing::WriteFile;

class StartFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::EnsureApplication(); }

  // A dialog whose start only records the port text it was given.
  std::unique_ptr<TStartFrame> MakeDialog() {
    auto dialog = std::make_unique<TStartFrame>(config_, [this](const std::string& port_text) {
      started_.push_back(port_text);
      return StartOutcome{StartOutcome::Kind::kStarted, {}};
    });
    dialog->SetEndProgram([this](int status) { ended_.push_back(status); });
    dialog->show();
    return dialog;
  }

  // The whole program over a real core; the main window's tray is not available.
  std::unique_ptr<WindowedServer> MakeServer() {
    auto windows = std::make_unique<WindowedServer>(Options(false));
    windows->SetEndProgram([this](int status) { ended_.push_back(status); });
    windows->Show();
    return windows;
  }

  WindowedOptions Options(bool tray_available) const {
    WindowedOptions options;
    options.directory = dir_.path();
    options.tray_available = tray_available;
    return options;
  }

  testing::TempDir dir_;
  const std::filesystem::path config_ = dir_ / "serverconfig.txt";
  std::vector<std::string> started_;
  std::vector<int> ended_;
};

TEST_F(StartFrameTest, WithoutFileOffersDefaultAndEnterWritesTheOneLine) {
  auto dialog = MakeDialog();
  EXPECT_EQ(dialog->windowTitle(), "Start Tarvo3D Server");
  EXPECT_EQ(dialog->port_edit().text(), "14901");
  QTest::keyClick(&dialog->port_edit(), Qt::Key_Return);
  EXPECT_EQ(ReadFile(config_), "serverport=14901\r\n");
  EXPECT_EQ(started_, std::vector<std::string>{"14901"});
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(ended_.empty());
}

TEST_F(StartFrameTest, KeyInCapitalsAmongOtherLinesIsOfferedAndOnlyItsLineIsKept) {
  WriteFile(config_, "title=x\r\nSERVERPORT=15123\r\nserverport=999\r\n");
  auto dialog = MakeDialog();
  EXPECT_EQ(dialog->port_edit().text(), "15123");
  dialog->ok_button().click();
  EXPECT_EQ(ReadFile(config_), "serverport=15123\r\n");
}

TEST_F(StartFrameTest, EmptyValueOffersDefault) {
  WriteFile(config_, "serverport=\r\n");
  EXPECT_EQ(MakeDialog()->port_edit().text(), "14901");
}

TEST_F(StartFrameTest, CancelAndCloseEndTheProgramWithNothingWritten) {
  auto dialog = MakeDialog();
  dialog->port_edit().setText("15000");
  dialog->cancel_button().click();
  auto second = MakeDialog();
  second->close();
  EXPECT_EQ(ended_, (std::vector<int>{0, 0}));
  EXPECT_TRUE(started_.empty());
  EXPECT_FALSE(std::filesystem::exists(config_));
}

TEST_F(StartFrameTest, NonIntegerOrOutOfRangePortShowsAnErrorAndTheDialogStays) {
  auto windows = MakeServer();
  testing::MessageBoxCloser boxes;
  windows->start_dialog().port_edit().setText("12x");
  windows->start_dialog().ok_button().click();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "'12x' is not a valid integer value");
  EXPECT_TRUE(windows->start_dialog().isVisible());
  EXPECT_FALSE(windows->server().running());
  EXPECT_TRUE(ended_.empty());
  // Written before the start, so the next program start offers it again.
  EXPECT_EQ(ReadFile(config_), "serverport=12x\r\n");
  // A number no port has is refused too, rather than cut to its low 16 bits.
  windows->start_dialog().port_edit().setText("80001");
  windows->start_dialog().ok_button().click();
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_TRUE(boxes.boxes[1].text.contains("80001"));
  EXPECT_TRUE(windows->start_dialog().isVisible());
  EXPECT_FALSE(windows->server().running());
}

TEST_F(StartFrameTest, PortInUseWarnsAndEndsTheProgram) {
  auto taken = net::TcpListener::Listen(0);
  ASSERT_TRUE(taken);
  auto windows = MakeServer();
  testing::MessageBoxCloser boxes;
  windows->start_dialog().port_edit().setText(QString::number(taken.value().LocalPort()));
  windows->start_dialog().ok_button().click();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].caption, "Warning");
  EXPECT_EQ(boxes.boxes[0].text, "The server could not be started!");
  EXPECT_EQ(ended_, std::vector<int>{1});
  EXPECT_FALSE(windows->main_window().isVisible());
}

}  // namespace
}  // namespace tarvo::server
