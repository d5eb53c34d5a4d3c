// The update levels dialog: splitting the names field, filling it from the file dialog, and
// reloading cached levels of a running server.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "gui_support.h"
#include "protocol/messages.h"
#include "server/app/windowed_server.h"
#include "server/temp_dir.h"

namespace tarvo::server {
namespace {

namespace msg = protocol::msg;
using testing::ProtocolClient;

TEST(SplitLevelNamesTest, TrimsBlanksAndLeavesOutEmptyNames) {
  EXPECT_EQ(SplitLevelNames(" a , ,b,"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(SplitLevelNames(" , ,, ").empty());
}

class ReloadCounter final : public QuietObserver {
 public:
  void LevelLoaded(const TServerLevel&, bool reload) override { reloads += reload ? 1 : 0; }
  int reloads = 0;
};

class UpdateLevelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureApplication();
    testing::WriteFile(dir_ / "levels/startlevel.x", "first text");
    AccountStore accounts;
    accounts.AddNewAccount({"bob", "b", 0, false, false});
    ASSERT_TRUE(accounts.SaveAccounts(dir_ / "accounts.txt").ok);
    WindowedOptions options = Options(false);
    options.port_text = "0";
    options.choose_level_files = [this](QWidget*, const LevelFileRequest& request) {
      requests_.push_back(request);
      return chosen_;
    };
    windows_ = std::make_unique<WindowedServer>(std::move(options),
                                                std::vector<ServerObserver*>{&counter_});
    windows_->SetEndProgram([](int) {});
    windows_->Show();
    windows_->start_dialog().ok_button().click();
    ASSERT_TRUE(windows_->server().running());
    windows_->main_window().update_levels_button().click();
    ASSERT_TRUE(dialog().isVisible());
  }

  TUpdateLevels& dialog() { return windows_->update_levels_dialog(); }

  WindowedOptions Options(bool tray_available) const {
    WindowedOptions options;
    options.directory = dir_.path();
    options.tray_available = tray_available;
    return options;
  }

  testing::TempDir dir_;
  ReloadCounter counter_;
  QStringList chosen_;
  std::vector<LevelFileRequest> requests_;
  std::unique_ptr<WindowedServer> windows_;
};

TEST_F(UpdateLevelsTest, BrowseFillsLowerCaseBaseNamesAndCancelKeepsTheField) {
  const QString levels = QString::fromStdString((dir_ / "levels").string());
  chosen_ = {levels + "/one/First.TARVO", levels + "/two/second.vesko"};
  dialog().browse_button().click();
  EXPECT_EQ(dialog().names_edit().text(), "first.tarvo, second.vesko");
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].directory, levels);
  EXPECT_TRUE(requests_[0].filter.startsWith("Tarvo levels (*.tarvo *.vesko)"));
  chosen_.clear();
  dialog().browse_button().click();
  EXPECT_EQ(dialog().names_edit().text(), "first.tarvo, second.vesko");
}

TEST_F(UpdateLevelsTest, UpdateTwiceReloadsTwiceAndStaysOpen) {
  ProtocolClient bob;
  ASSERT_TRUE(bob.Connect(windows_->server().port()));
  bob.Login("bob", "b");
  ASSERT_TRUE(testing::WaitForMessage(bob, msg::kLevelData));
  testing::WriteFile(dir_ / "levels/startlevel.x", "second text");
  dialog().names_edit().setText(" startlevel.x , unknown.x,");
  dialog().update_button().click();
  dialog().update_button().click();
  EXPECT_EQ(counter_.reloads, 2);
  EXPECT_TRUE(dialog().isVisible());
  const auto is_new = [](const testing::Received& r) {
    return r.payload.find("second text") != std::string::npos;
  };
  EXPECT_TRUE(testing::WaitForMessage(bob, msg::kLevelData, is_new));
  EXPECT_TRUE(testing::WaitForMessage(bob, msg::kLevelData, is_new));
  // Shown again, the field starts empty.
  dialog().cancel_button().click();
  EXPECT_FALSE(dialog().isVisible());
  windows_->main_window().update_levels_button().click();
  EXPECT_TRUE(dialog().names_edit().text().isEmpty());
}

}  // namespace
}  // namespace tarvo::server
