// The Debian packages of this build, unpacked into a scratch root: the files land where the
// programs and the systemd unit look for them, and the installed server serves a bot.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/kserver_process.h"

namespace {

namespace fs = std::filesystem;

bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; its exit status, with stdout and stderr in `output`.
int RunShell(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> buffer;
  output->clear();
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) *output += buffer.data();
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Packs this build once (the programs are already built) and unpacks both packages.
class Packages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!OnPath("dpkg") || !OnPath("dpkg-deb")) return;
    std::string pattern = (fs::temp_directory_path() / "tarvo-package-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    scratch_ = pattern;
    const fs::path build = fs::path(TARVO_BIN_DIR).parent_path();
    const std::string out = (scratch_ / "out").string();
    if (RunShell(std::string(TARVO_CPACK) + " -G DEB -B " + out + " --config " +
                     (build / "CPackConfig.cmake").string(),
                 &cpack_log_) != 0) {
      return;
    }
    std::string arch;
    if (RunShell("dpkg --print-architecture", &arch) != 0 || arch.empty()) return;
    arch.pop_back();  // the line feed
    for (const char* name : {"kserver", "tarvo3d"}) {
      const std::string deb = out + "/" + name + "_" + TARVO_VERSION + "_" + arch + ".deb";
      std::string log;
      if (RunShell("dpkg-deb -f " + deb + " Depends", &log) != 0) return;
      depends_[name] = log;
      if (RunShell("dpkg -x " + deb + " " + (scratch_ / "root").string(), &log) != 0) return;
    }
    root_ = scratch_ / "root";
  }
  static void TearDownTestSuite() {
    std::error_code error;
    if (!scratch_.empty()) fs::remove_all(scratch_, error);
  }
  void SetUp() override {
    if (!OnPath("dpkg") || !OnPath("dpkg-deb")) {
      GTEST_SKIP() << "dpkg is not installed: the Debian packages cannot be unpacked here";
    }
    ASSERT_FALSE(root_.empty()) << "packing or unpacking failed:\n" << cpack_log_;
  }

  static inline fs::path scratch_;
  static inline fs::path root_;
  static inline std::string cpack_log_;
  static inline std::map<std::string, std::string> depends_;
};

TEST_F(Packages, HoldTheProgramsDataAndUnitWithTheirDependencies) {
  for (const char* file :
       {"usr/bin/kserver", "usr/bin/kserverctl", "usr/bin/tarvo3d", "usr/bin/tarvo-bot",
        "usr/share/kserver/world/accounts.txt", "usr/share/kserver/world/serverconfig.txt",
        "usr/share/kserver/world/levels/startlevel.x", "usr/share/tarvo3d/body.x",
        "usr/share/tarvo3d/connect.jpg", "usr/lib/systemd/system/kserver@.service"}) {
    EXPECT_TRUE(fs::exists(root_ / file)) << file;
  }
  const std::string server = depends_["kserver"];
  const std::string client = depends_["tarvo3d"];
  for (const char* dependency : {"libc6", "libqt6core6", "zlib1g", "adduser", "qt6-qpa-plugins"}) {
    EXPECT_NE(server.find(dependency), std::string::npos) << dependency << " in " << server;
  }
  for (const char* dependency : {"libc6", "libassimp", "libqt6openglwidgets6", "libjpeg"}) {
    EXPECT_NE(client.find(dependency), std::string::npos) << dependency << " in " << client;
  }
}

TEST_F(Packages, InstalledServerOnACopyOfTheInstalledWorldServesABot) {
  tarvo::testing::KServerProcess server;
  tarvo::testing::KServerOptions options;
  options.program = root_ / "usr/bin/kserver";
  options.world = root_ / "usr/share/kserver/world";
  ASSERT_TRUE(server.Start(options)) << server.Log();

  std::string output;
  const int status =
      RunShell((root_ / "usr/bin/tarvo-bot").string() + " --port " + std::to_string(server.port()) +
                   " --count 1 --duration 2 --walk still",
               &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("logins:               1 of 1 bots (1 entered a level)"), std::string::npos)
      << output;
  EXPECT_EQ(server.Stop(), 0) << server.Log();
}

// Verified with the command pointed at the unpacked program: the checker wants it executable.
TEST_F(Packages, ServiceUnitVerifies) {
  if (!OnPath("systemd-analyze")) GTEST_SKIP() << "systemd-analyze is not installed";
  const std::string shipped = ReadAll(root_ / "usr/lib/systemd/system/kserver@.service");
  EXPECT_NE(shipped.find("ExecStart=/usr/bin/kserver --headless --dir %S/kserver/%i"),
            std::string::npos);
  EXPECT_NE(shipped.find("cp -R /usr/share/kserver/world/. ."), std::string::npos);
  std::string unit = shipped;
  const std::string program = "/usr/bin/kserver";
  unit.replace(unit.find(program), program.size(), (root_ / "usr/bin/kserver").string());
  const fs::path folder = scratch_ / "unit";
  fs::create_directories(folder);
  std::ofstream(folder / "kserver@.service") << unit;
  std::string output;
  EXPECT_EQ(RunShell("systemd-analyze verify " + (folder / "kserver@.service").string(), &output),
            0)
      << output;
  // Unknown or malformed settings are only warnings to the checker: they must not occur either.
  EXPECT_EQ(output, "");
}

// The unit's first-start step, run as systemd would in the world directory: an empty one gets the
// installed world, one that holds accounts keeps them.
TEST_F(Packages, ServiceMakesTheWorldOnFirstStartOnly) {
  const std::string unit = ReadAll(root_ / "usr/lib/systemd/system/kserver@.service");
  const std::string key = "ExecStartPre=/bin/sh -ec '";
  const std::size_t at = unit.find(key);
  ASSERT_NE(at, std::string::npos) << unit;
  std::string script =
      unit.substr(at + key.size(), unit.find('\'', at + key.size()) - at - key.size());
  const std::string world = "/usr/share/kserver/world";
  ASSERT_NE(script.find(world), std::string::npos) << script;
  script.replace(script.find(world), world.size(), (root_ / "usr/share/kserver/world").string());
  const fs::path state = scratch_ / "state";
  fs::create_directories(state);
  const std::string command = "cd " + state.string() + " && /bin/sh -ec '" + script + "'";
  std::string output;
  ASSERT_EQ(RunShell(command, &output), 0) << output;
  EXPECT_TRUE(fs::exists(state / "levels/startlevel.x"));
  EXPECT_EQ(ReadAll(state / "serverconfig.txt"),
            ReadAll(root_ / "usr/share/kserver/world/serverconfig.txt"));
  std::ofstream(state / "accounts.txt") << "operator's accounts";
  ASSERT_EQ(RunShell(command, &output), 0) << output;
  EXPECT_EQ(ReadAll(state / "accounts.txt"), "operator's accounts");
}

}  // namespace
