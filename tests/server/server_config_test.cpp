#include "server/core/server_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "server/temp_dir.h"

namespace tarvo::server {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ServerConfig, ReadsTheFirstServerPortLine) {
  EXPECT_EQ(ParseServerConfig(""), "14901");
  EXPECT_EQ(ParseServerConfig("name=x\r\nSERVERPORT=15000\r\nserverport=16000\r\n"), "15000");
  EXPECT_EQ(ParseServerConfig("serverport=\r\n"), "14901");
  EXPECT_EQ(ParseServerConfig("serverport\nserverport = 1\nServerPort= 42 x"), " 42 x");
  EXPECT_EQ(ParseServerConfig("serverport=a=b"), "a=b");

  TempDir dir;
  EXPECT_EQ(ReadServerConfig(dir / "serverconfig.txt"), "14901");
}

TEST(ServerConfig, WritesOneLineAtomically) {
  TempDir dir;
  const auto file = dir / "serverconfig.txt";
  WriteFile(file, "other=1\r\nserverport=1\r\n");
  const base::Result<void> written = WriteServerConfig(file, "14902");
  ASSERT_TRUE(written) << written.error();
  EXPECT_EQ(ReadFile(file), "serverport=14902\r\n");
  EXPECT_EQ(ReadServerConfig(file), "14902");
  EXPECT_EQ(FormatServerConfig(" 7\r\n8"), "serverport= 78\r\n");

  WriteFile(dir / "file", "x");
  const base::Result<void> refused = WriteServerConfig(dir / "file" / "serverconfig.txt", "1");
  EXPECT_FALSE(refused);
  EXPECT_FALSE(refused.error().empty());
  EXPECT_EQ(ReadFile(file), "serverport=14902\r\n");
}

TEST(ServerConfig, NewFileIsForItsOwnerOnly) {
  TempDir dir;
  const auto file = dir / "serverconfig.txt";
  ASSERT_TRUE(WriteServerConfig(file, "14902"));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(ServerConfig, PortTexts) {
  const auto port = [](std::string_view text) {
    const auto parsed = ParsePortText(text);
    return parsed ? static_cast<int>(*parsed) : -1;
  };
  EXPECT_EQ(port("14901"), 14901);
  EXPECT_EQ(port("  80"), 80);
  EXPECT_EQ(port("+0"), 0);
  EXPECT_EQ(port("65535"), 65535);
  EXPECT_EQ(ParsePortText("abc").error(), "'abc' is not a valid integer value");
  EXPECT_EQ(port("$3A35"), 14901);  // the shared integer notation takes hexadecimal
  for (const char* bad : {"", " ", "12 ", "1x", "0x", "-"}) EXPECT_FALSE(ParsePortText(bad)) << bad;
  const auto too_large = ParsePortText("65536");
  EXPECT_FALSE(too_large);
  EXPECT_NE(too_large.error().find("65536"), std::string::npos);
  EXPECT_FALSE(ParsePortText("-1"));
  EXPECT_FALSE(ParsePortText("99999999999999999999"));
}

}  // namespace
}  // namespace tarvo::server
