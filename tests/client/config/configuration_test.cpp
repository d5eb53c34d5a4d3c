#include "client/config/configuration.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "client/config/des_cipher.h"

namespace tarvo::client {
namespace {

namespace fs = std::filesystem;

// A private directory holding the configuration file and an INI file standing in for the
// user's settings.
class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("tarvo-config-test-" + std::to_string(random()));
    fs::create_directories(dir_);
    OpenStore();
  }
  void TearDown() override {
    store_.reset();
    settings_.reset();
    fs::remove_all(dir_);
  }

  // Reopens the user settings from disk, as a new run of the program would.
  void OpenStore() {
    store_.reset();
    if (settings_) settings_->sync();
    settings_ = std::make_unique<QSettings>(QString::fromStdString((dir_ / "user.ini").string()),
                                            QSettings::IniFormat);
    store_ = std::make_unique<QSettingsUserStore>(*settings_);
  }

  void WriteFile(const std::string& text) {
    std::ofstream(dir_ / kConfigurationFileName, std::ios::binary) << text;
  }

  std::string ReadFile() {
    std::ifstream file(dir_ / kConfigurationFileName, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

  ClientSettings Load() {
    ClientSettings settings;
    LoadConfiguration(dir_, store_.get(), settings);
    return settings;
  }

  fs::path dir_;
  std::unique_ptr<QSettings> settings_;
  std::unique_ptr<QSettingsUserStore> store_;
};

ClientSettings Unusual() {
  ClientSettings s;
  s.ServerHistory = "\"my host\",10.0.0.7";
  s.ServerPort = "0x3A35";
  s.AccountName = "Ann Lee";
  s.AccountPassword = "p=w\xA7rd";
  s.NoUdp = true;
  s.FixedPort = true;
  s.FixedUdpPort = 15000;
  s.Nickname =
      "N\xE4"
      "ckname";
  s.BodyMesh = "robot.x";
  s.HeadMesh = "dome.x";
  s.BodyTex = "steel.bmp";
  s.ArmColor = 0x0000FF;
  s.ShoeColor = 0x123456;
  s.HandColor = 0xABCDEF;
  return s;
}

TEST_F(ConfigurationTest, SaveThenLoadRestoresEverySetting) {
  const ClientSettings saved = Unusual();
  ASSERT_TRUE(SaveConfiguration(dir_, store_.get(), saved));
  OpenStore();
  ClientSettings loaded;
  // ServerAddress is not stored: the connect dialog takes it from the history.
  loaded.ServerAddress = saved.ServerAddress;
  ASSERT_TRUE(LoadConfiguration(dir_, store_.get(), loaded));
  EXPECT_EQ(loaded, saved);
}

TEST_F(ConfigurationTest, FileHoldsElevenLinesAndNoAccount) {
  ASSERT_TRUE(SaveConfiguration(dir_, store_.get(), ClientSettings()));
  EXPECT_EQ(ReadFile(),
            "serveraddr=\r\nserverport=14901\r\nfixedport=false\r\nfixedudpport=14898\r\n"
            "noudp=false\r\nbodyx=body.x\r\nheadx=head.x\r\nbodytex=body.bmp\r\n"
            "armcolor=0xFF0000\r\nshoecolor=0x800000\r\nhandcolor=0xFDCC47\r\n");
  // The account lives with the user's settings only, the password enciphered.
  EXPECT_EQ(store_->Read("accountname"), "guest");
  const std::optional<std::string> stored = store_->Read("password");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 48u);
  EXPECT_EQ(DecryptPasswordText(*stored, PasswordKey), "guest");
  // Nothing but the file itself is left in the directory.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1 + (fs::exists(dir_ / "user.ini") ? 1 : 0));
}

TEST_F(ConfigurationTest, SavingTwiceStoresDifferentTextsForOnePassword) {
  ASSERT_TRUE(SaveConfiguration(dir_, store_.get(), ClientSettings()));
  const std::string first = *store_->Read("password");
  ASSERT_TRUE(SaveConfiguration(dir_, store_.get(), ClientSettings()));
  const std::string second = *store_->Read("password");
  EXPECT_NE(first, second);
  EXPECT_EQ(DecryptPasswordText(first, PasswordKey), DecryptPasswordText(second, PasswordKey));
}

TEST_F(ConfigurationTest, KeysAndBooleansIgnoreCaseAndLineEndingsMayMix) {
  WriteFile("FIXEDPORT=TRUE\nNoUdp=True\rSERVERPORT=1234\r\nbodyx=a.x");
  const ClientSettings loaded = Load();
  EXPECT_TRUE(loaded.FixedPort);
  EXPECT_TRUE(loaded.NoUdp);
  EXPECT_EQ(loaded.ServerPort, "1234");
  EXPECT_EQ(loaded.BodyMesh, "a.x");  // The last line needs no line end.
}

TEST_F(ConfigurationTest, MalformedLinesAreIgnoredAndKeepTheValueBefore) {
  WriteFile(
      "fixedudpport=port\r\n"  // not a number
      "armcolor=red\r\n"       // not a number
      "shoecolor=\r\n"         // empty
      "serveraddr=\r\n"        // empty
      "serverport =99\r\n"     // blank before "=": another key
      "bodyx\r\n"              // no "="
      "headx=first.x\r\n"
      "headx=second.x\r\n"   // only the first line of a key counts
      "bodytex=a=b.bmp\r\n"  // the value is everything after the first "="
      "unknown=1\r\n"
      "handcolor=255\r\n");  // decimal is fine
  ClientSettings before;
  before.ServerHistory = "kept";
  ClientSettings loaded = before;
  ASSERT_TRUE(LoadConfiguration(dir_, store_.get(), loaded));
  EXPECT_EQ(loaded.FixedUdpPort, 14898);
  EXPECT_EQ(loaded.ArmColor, 0xFF0000u);
  EXPECT_EQ(loaded.ShoeColor, 0x800000u);
  EXPECT_EQ(loaded.ServerHistory, "kept");
  EXPECT_EQ(loaded.ServerPort, "14901");
  EXPECT_EQ(loaded.BodyMesh, "body.x");
  EXPECT_EQ(loaded.HeadMesh, "first.x");
  EXPECT_EQ(loaded.BodyTex, "a=b.bmp");
  EXPECT_EQ(loaded.HandColor, 0x0000FFu);

  // A decimal colour is written back in the hexadecimal form.
  ASSERT_TRUE(SaveConfiguration(dir_, store_.get(), loaded));
  EXPECT_NE(ReadFile().find("handcolor=0x0000FF\r\n"), std::string::npos);
}

TEST_F(ConfigurationTest, MissingBooleansReadAsFalse) {
  WriteFile("serverport=1\r\n");
  ClientSettings before;
  before.FixedPort = true;
  before.NoUdp = true;
  ClientSettings loaded = before;
  LoadConfiguration(dir_, store_.get(), loaded);
  EXPECT_FALSE(loaded.FixedPort);
  EXPECT_FALSE(loaded.NoUdp);
}

TEST_F(ConfigurationTest, UserValuesOverrideTheFileOnlyWhenTheFileExists) {
  store_->Write("nickname", "Zed");
  store_->Write("accountname", "zed");
  store_->Write("password", EncryptPasswordText("secret", PasswordKey));
  // No file: the user's values are not read either.
  ClientSettings loaded;
  EXPECT_FALSE(LoadConfiguration(dir_, store_.get(), loaded));
  EXPECT_EQ(loaded, ClientSettings());

  WriteFile("accountname=filed\r\npassword=plain\r\n");
  loaded = Load();
  EXPECT_EQ(loaded.Nickname, "Zed");
  EXPECT_EQ(loaded.AccountName, "zed");
  EXPECT_EQ(loaded.AccountPassword, "secret");

  // Without user values the file's plain account stands.
  settings_->clear();
  loaded = Load();
  EXPECT_EQ(loaded.Nickname, "");
  EXPECT_EQ(loaded.AccountName, "filed");
  EXPECT_EQ(loaded.AccountPassword, "plain");

  // Empty user values leave the settings alone; a damaged password text does not.
  store_->Write("nickname", "");
  store_->Write("password", "short");
  loaded = Load();
  EXPECT_EQ(loaded.Nickname, "");
  EXPECT_EQ(loaded.AccountPassword, "###");
}

TEST_F(ConfigurationTest, FailedFileWriteStillStoresUserValuesAndLeavesNoTraces) {
  ClientSettings settings;
  settings.Nickname = "Kim";
  EXPECT_FALSE(SaveConfiguration(dir_ / "missing", store_.get(), settings));
  EXPECT_EQ(store_->Read("nickname"), "Kim");
  EXPECT_FALSE(fs::exists(dir_ / "missing"));

  // Without a user store, only the file is written.
  EXPECT_TRUE(SaveConfiguration(dir_, nullptr, settings));
  ClientSettings loaded;
  EXPECT_TRUE(LoadConfiguration(dir_, nullptr, loaded));
  EXPECT_EQ(loaded.ServerPort, "14901");
}

TEST_F(ConfigurationTest, SaveReplacesTheWholeFile) {
  WriteFile(std::string(5000, 'x') + "\r\npassword=old\r\n");
  ASSERT_TRUE(SaveConfiguration(dir_, store_.get(), ClientSettings()));
  const std::string text = ReadFile();
  EXPECT_EQ(text.find("password"), std::string::npos);
  EXPECT_EQ(text.rfind("serveraddr=", 0), 0u);
}

TEST(ProgramDirectoryTest, IsTheDirectoryOfThisTestProgram) {
  const fs::path dir = ProgramDirectory();
  EXPECT_TRUE(fs::exists(dir / "client_config_test"));
}

}  // namespace
}  // namespace tarvo::client
