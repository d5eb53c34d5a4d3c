// The Debian packages of this build, unpacked into a scratch root: the files land where the
// programs and the systemd unit look for them, and the installed server serves a bot.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    for (const char* name : {"kserver", "kserver-gui", "tarvo3d"}) {
      const std::string deb = out + "/" + name + "_" + TARVO_VERSION + "_" + arch + ".deb";
      debs_ += " " + deb;
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
  static inline std::string debs_;
};

TEST_F(Packages, HoldTheProgramsDataAndUnitWithTheirDependencies) {
  for (const char* file :
       {"usr/bin/kserver", "usr/bin/kserver-gui", "usr/bin/kserverctl", "usr/games/tarvo3d",
        "usr/games/tarvo-bot", "usr/share/kserver/world/accounts.txt",
        "usr/share/kserver/world/serverconfig.txt", "usr/share/kserver/world/levels/startlevel.x",
        "usr/share/tarvo3d/body.x", "usr/share/tarvo3d/connect.jpg",
        "usr/lib/systemd/system/kserver@.service", "usr/share/applications/tarvo3d.desktop",
        "usr/share/icons/hicolor/256x256/apps/tarvo3d.png",
        "usr/share/metainfo/org.tarvo3d.Tarvo3D.metainfo.xml", "usr/share/man/man1/kserver.1.gz",
        "usr/share/man/man1/kserver-gui.1.gz", "usr/share/man/man1/kserverctl.1.gz",
        "usr/share/man/man6/tarvo3d.6.gz", "usr/share/man/man6/tarvo-bot.6.gz"}) {
    EXPECT_TRUE(fs::exists(root_ / file)) << file;
  }
  for (const char* package : {"kserver", "kserver-gui", "tarvo3d"}) {
    for (const char* doc : {"copyright", "changelog.Debian.gz"}) {
      const fs::path file = root_ / "usr/share/doc" / package / doc;
      EXPECT_TRUE(fs::exists(file)) << file;
    }
  }
  // The service's package brings no desktop: no Qt Gui or Widgets, no OpenGL, no X.
  const std::string server = depends_["kserver"];
  for (const char* dependency : {"libc6", "zlib1g", "adduser"}) {
    EXPECT_NE(server.find(dependency), std::string::npos) << dependency << " in " << server;
  }
  for (const char* desktop : {"libqt6", "qt6-qpa", "libgl", "libegl", "libx", "libopengl"}) {
    EXPECT_EQ(server.find(desktop), std::string::npos) << desktop << " in " << server;
  }
  const std::string gui = depends_["kserver-gui"];
  for (const char* dependency : {"kserver (= " TARVO_VERSION ")", "libqt6widgets6"}) {
    EXPECT_NE(gui.find(dependency), std::string::npos) << dependency << " in " << gui;
  }
  const std::string client = depends_["tarvo3d"];
  for (const char* dependency : {"libc6", "libassimp", "libqt6openglwidgets6", "libjpeg"}) {
    EXPECT_NE(client.find(dependency), std::string::npos) << dependency << " in " << client;
  }
}

// What a distribution's checker says about the packages: nothing but its own notes. Overrides
// are shipped in the packages with their reasons.
TEST_F(Packages, LintianFindsNoErrorsOrWarnings) {
  if (!OnPath("lintian")) GTEST_SKIP() << "lintian is not installed";
  std::string output;
  RunShell("lintian --fail-on none" + debs_ + " | grep -E '^(E|W): ' || true", &output);
  EXPECT_EQ(output, "");
}

TEST_F(Packages, ClientDesktopEntryAndMetadataValidate) {
  if (OnPath("desktop-file-validate")) {
    std::string output;
    EXPECT_EQ(RunShell("desktop-file-validate " +
                           (root_ / "usr/share/applications/tarvo3d.desktop").string(),
                       &output),
              0)
        << output;
    EXPECT_EQ(output, "");
  }
  if (OnPath("appstreamcli")) {
    std::string output;
    EXPECT_EQ(RunShell("appstreamcli validate --no-net " +
                           (root_ / "usr/share/metainfo/org.tarvo3d.Tarvo3D.metainfo.xml").string(),
                       &output),
              0)
        << output;
  }
  // The PNG header's width and height, big-endian at bytes 16 and 20.
  const std::string icon = ReadAll(root_ / "usr/share/icons/hicolor/256x256/apps/tarvo3d.png");
  ASSERT_GT(icon.size(), 24u);
  EXPECT_EQ(icon.substr(1, 3), "PNG");
  EXPECT_EQ(icon.substr(16, 8), std::string("\0\0\x01\0\0\0\x01\0", 8));
}

TEST_F(Packages, InstalledServerOnACopyOfTheInstalledWorldServesABot) {
  tarvo::testing::KServerProcess server;
  tarvo::testing::KServerOptions options;
  options.program = root_ / "usr/bin/kserver";
  options.world = root_ / "usr/share/kserver/world";
  ASSERT_TRUE(server.Start(options)) << server.Log();

  std::string output;
  const int status =
      RunShell((root_ / "usr/games/tarvo-bot").string() + " --port " +
                   std::to_string(server.port()) + " --count 1 --duration 2 --walk still",
               &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("logins:               1 of 1 bots (1 entered a level)"), std::string::npos)
      << output;
  EXPECT_EQ(server.Stop(), 0) << server.Log();
  struct stat lock {};
  ASSERT_EQ(::stat((server.directory() / "kserver.lock").c_str(), &lock), 0);
  EXPECT_EQ(lock.st_mode & 0777, 0600u);
}

// The installed program in its system folder needs --dir: it writes nothing beside itself.
// Unpacked, the folder is no system folder; that nobody may write it stands in. Root writes
// anywhere, so root runs it as nobody.
TEST_F(Packages, InstalledServerWithoutDirRefusesItsProgramFolder) {
  const fs::path bin = root_ / "usr/bin";
  const auto writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(bin, writable, fs::perm_options::remove);
  fs::permissions(scratch_, fs::perms::group_exec | fs::perms::others_exec, fs::perm_options::add);
  const std::string as =
      ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  std::string output;
  EXPECT_EQ(RunShell("cd / && " + as + (bin / "kserver").string() + " --headless", &output), 2);
  fs::permissions(bin, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_NE(output.find("--dir"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(root_ / "usr/bin/kserver.lock"));
  EXPECT_FALSE(fs::exists(root_ / "usr/bin/accounts.txt"));
}
// Verified with the command pointed at the unpacked program: the checker wants it executable.
TEST_F(Packages, ServiceUnitVerifiesAndIsHardened) {
  if (!OnPath("systemd-analyze")) GTEST_SKIP() << "systemd-analyze is not installed";
  const std::string shipped = ReadAll(root_ / "usr/lib/systemd/system/kserver@.service");
  EXPECT_NE(shipped.find("ExecStart=/usr/bin/kserver --headless --dir %S/kserver/%i"),
            std::string::npos);
  for (const char* setting : {"UMask=0077", "StateDirectoryMode=0750", "CapabilityBoundingSet=\n",
                              "Documentation=man:kserver(1)"}) {
    EXPECT_NE(shipped.find(setting), std::string::npos) << setting;
  }
  std::string unit = shipped;
  const std::string program = "/usr/bin/kserver";
  unit.replace(unit.find(program), program.size(), (root_ / "usr/bin/kserver").string());
  const fs::path folder = scratch_ / "unit";
  fs::create_directories(folder);
  const std::string file = (folder / "kserver@.service").string();
  std::ofstream(file) << unit;
  std::string output;
  // The manual page is in the scratch root, not where man looks.
  EXPECT_EQ(RunShell("systemd-analyze verify --man=no " + file, &output), 0) << output;
  // Unknown or malformed settings are only warnings to the checker: they must not occur either.
  EXPECT_EQ(output, "");
  // Exposure 2.5 or lower (the threshold counts tenths).
  EXPECT_EQ(RunShell("systemd-analyze security --offline=yes --threshold=25 " + file, &output), 0)
      << output;
  EXPECT_NE(output.find("Overall exposure level for kserver@"), std::string::npos) << output;
}

// The unit's first-start step, run as systemd would in the world directory (with the unit's
// umask): a world without levels gets the installed world, files that exist are kept.
TEST_F(Packages, ServiceMakesTheWorldWhenItHasNoLevels) {
  const std::string unit = ReadAll(root_ / "usr/lib/systemd/system/kserver@.service");
  const std::string key = "ExecStartPre=/bin/sh -ec '";
  const std::size_t at = unit.find(key);
  ASSERT_NE(at, std::string::npos) << unit;
  std::string script =
      unit.substr(at + key.size(), unit.find('\'', at + key.size()) - at - key.size());
  // systemd writes a shell's $ as $$; the world is named where the package put it.
  for (std::size_t dollar = script.find("$$"); dollar != std::string::npos;
       dollar = script.find("$$", dollar + 1)) {
    script.erase(dollar, 1);
  }
  const std::string world = "/usr/share/kserver/world";
  const std::string installed = (root_ / "usr/share/kserver/world").string();
  ASSERT_NE(script.find(world), std::string::npos) << script;
  for (std::size_t found = script.find(world); found != std::string::npos;
       found = script.find(world, found + installed.size())) {
    script.replace(found, world.size(), installed);
  }
  const auto first_start = [&script](const fs::path& state) {
    fs::create_directories(state);
    std::string output;
    EXPECT_EQ(
        RunShell("cd " + state.string() + " && umask 077 && /bin/sh -ec '" + script + "'", &output),
        0)
        << output;
  };

  const fs::path fresh = scratch_ / "fresh";
  first_start(fresh);
  EXPECT_TRUE(fs::exists(fresh / "levels/startlevel.x"));
  EXPECT_EQ(ReadAll(fresh / "serverconfig.txt"),
            ReadAll(root_ / "usr/share/kserver/world/serverconfig.txt"));
  struct stat accounts {};
  ASSERT_EQ(::stat((fresh / "accounts.txt").c_str(), &accounts), 0);
  EXPECT_EQ(accounts.st_mode & 0777, 0600u);

  // An administrator added before the first start: the world comes, the account stays.
  const fs::path prepared = scratch_ / "prepared";
  fs::create_directories(prepared);
  std::ofstream(prepared / "accounts.txt") << "operator's accounts";
  first_start(prepared);
  EXPECT_TRUE(fs::exists(prepared / "levels/startlevel.x"));
  EXPECT_EQ(ReadAll(prepared / "accounts.txt"), "operator's accounts");

  // A world with levels is left as it is.
  fs::remove(fresh / "serverconfig.txt");
  first_start(fresh);
  EXPECT_FALSE(fs::exists(fresh / "serverconfig.txt"));
}

}  // namespace
