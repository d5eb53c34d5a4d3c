#include "server/core/file_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "base/files.h"
#include "server/temp_dir.h"

namespace tarvo::server {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

const std::string kMark(1, static_cast<char>(167));

// The folders where a program keeps no data of its own: system program folders, even for root.
TEST(ProgramFolder, SystemAndReadOnlyFoldersAreOffLimits) {
  for (const char* folder : {"/usr/bin", "/usr/games", "/usr/local/bin", "/bin", "/sbin", "/etc",
                             "/usr", "/usr/bin/../lib"}) {
    EXPECT_TRUE(base::IsReadOnlyOrSystemFolder(folder)) << folder;
  }
  TempDir dir;
  EXPECT_FALSE(base::IsReadOnlyOrSystemFolder(dir.path()));
  EXPECT_TRUE(base::IsReadOnlyOrSystemFolder(dir / "missing"));
}

TEST(FileText, BaseNameLower) {
  EXPECT_EQ(BaseNameLower("C:\\Game\\Levels/Sub\\MixedCase.GIF"), "mixedcase.gif");
  EXPECT_EQ(BaseNameLower("StartLevel.X"), "startlevel.x");
  EXPECT_EQ(BaseNameLower("dir/"), "");
  EXPECT_EQ(BaseNameLower("\xC4pfel.x"), "\xC4pfel.x");  // only ASCII letters change
}

TEST(FileText, ReadLineDropsOneCarriageReturn) {
  const std::string data = "ab\r\nc\r\r\n\nlast";
  std::size_t pos = 0;
  EXPECT_EQ(ReadLine(data, pos), "ab");
  EXPECT_EQ(ReadLine(data, pos), "c\r");
  EXPECT_EQ(ReadLine(data, pos), "");
  EXPECT_EQ(ReadLine(data, pos), "last");
  EXPECT_EQ(pos, data.size());
  EXPECT_EQ(ReadLine(data, pos), "");
}

TEST(FileText, JoinLinesTrimsLineEndsOnly) {
  EXPECT_EQ(JoinLines("one  \r\ntwo\t\r\nthree  "), "one" + kMark + "two" + kMark + "three  ");
  EXPECT_EQ(JoinLines("  lead\n\nx\n"), "  lead" + kMark + kMark + "x" + kMark);
  EXPECT_EQ(JoinLines("a\rb"), "a b");
  EXPECT_EQ(JoinLines(""), "");
}

TEST(FileText, FileModifiedTimeRoundsDownToEvenSeconds) {
  TempDir dir;
  const fs::path file = dir / "level.x";
  WriteFile(file, "x");
  const timespec times[2] = {{1'000'001, 0}, {1'000'001, 500'000'000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  EXPECT_EQ(FileModifiedTime(file), 1'000'000u);
  const timespec even[2] = {{1'000'002, 0}, {1'000'002, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), even, 0), 0);
  EXPECT_EQ(FileModifiedTime(file), 1'000'002u);
  EXPECT_EQ(FileModifiedTime(dir / "missing.x"), 0u);
  EXPECT_EQ(FileModifiedTime(dir.path()), 0u);
}

// A server directory with a levels tree, and a separate current directory, side by side.
class FileStoreTest : public ::testing::Test {
 protected:
  FileStoreTest()
      : server_(root_ / "server"), current_(root_ / "current"), store_(server_, current_) {
    fs::create_directories(server_);
    fs::create_directories(current_);
  }

  fs::path Level(const std::string& relative) const { return server_ / "levels" / relative; }

  TempDir root_;
  fs::path server_;
  fs::path current_;
  FileStore store_;
};

TEST_F(FileStoreTest, FindsFilesWhateverTheirLetterCaseAndDirectory) {
  WriteFile(Level("Pictures/Deep/MixedCase.GIF"), "gif");
  WriteFile(Level("StartLevel.x"), "level");
  EXPECT_EQ(store_.IndexLevelFiles(), 2u);
  EXPECT_EQ(store_.LocateFile("some\\client/dir/mixedCASE.gif"),
            Level("Pictures/Deep/MixedCase.GIF").string());
  EXPECT_EQ(store_.LocateFile("startlevel.x"), Level("StartLevel.x").string());
  EXPECT_TRUE(store_.FileIsKnown("STARTLEVEL.X"));
  EXPECT_FALSE(store_.FileIsKnown("other.x"));
  EXPECT_EQ(store_.LocateFile(""), "");

  // Found after start by a search of the tree, then kept in the index.
  WriteFile(Level("new/Added.x"), "added");
  EXPECT_EQ(store_.LocateFile("added.x"), Level("new/Added.x").string());
  EXPECT_EQ(store_.IndexSize(), 3u);
  EXPECT_EQ(store_.LocateFile("added.x"), Level("new/Added.x").string());
  EXPECT_EQ(store_.IndexSize(), 3u);
}

TEST_F(FileStoreTest, DeletedFilesGiveWayToTheirNamesakes) {
  WriteFile(Level("a/same.x"), "a");
  WriteFile(Level("b/SAME.X"), "b");
  store_.IndexLevelFiles();
  const std::string first = store_.LocateFile("same.x");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(store_.LocateFile("same.x"), first);  // the first indexed wins while it exists
  fs::remove(first);
  const std::string second = store_.LocateFile("same.x");
  ASSERT_FALSE(second.empty());
  EXPECT_NE(second, first);
  fs::remove(second);
  EXPECT_EQ(store_.LocateFile("same.x"), "");
  EXPECT_EQ(store_.IndexSize(), 0u);
}

TEST_F(FileStoreTest, TreeSearchPrefersFilesOverSubdirectoriesAndSkipsDirectories) {
  fs::create_directories(Level("x/Level.x"));  // a directory of the requested name
  WriteFile(Level("x/y/level.x"), "deep");
  EXPECT_EQ(store_.SearchTree(Level(""), "level.x"), Level("x/y/level.x").string());
  WriteFile(Level("LEVEL.X"), "top");
  EXPECT_EQ(store_.SearchTree(Level(""), "Level.X"), Level("LEVEL.X").string());
  fs::remove_all(Level("x/y"));
  fs::remove(Level("LEVEL.X"));
  EXPECT_EQ(store_.LocateFile("level.x"), "");
}

TEST_F(FileStoreTest, CurrentDirectoryWinsButNeverHandsOutServerFiles) {
  WriteFile(Level("pic.gif"), "tree");
  WriteFile(current_ / "Pic.GIF", "current");
  store_.IndexLevelFiles();
  EXPECT_EQ(store_.LocateFile("pic.gif"), (current_ / "Pic.GIF").string());

  WriteFile(current_ / "accounts.txt", "passwords");
  WriteFile(current_ / "ServerConfig.txt", "serverport=1");
  WriteFile(current_ / "accounts.txt.tmp.12", "passwords");
  EXPECT_EQ(store_.LocateFile("accounts.txt"), "");
  EXPECT_EQ(store_.LocateFile("../ACCOUNTS.TXT"), "");
  EXPECT_EQ(store_.LocateFile("serverconfig.txt"), "");
  EXPECT_EQ(store_.LocateFile("accounts.txt.tmp.12"), "");
}

TEST_F(FileStoreTest, TheCurrentDirectoryIsSearchedByBaseNameWhateverTheCase) {
  WriteFile(current_ / "Pic.GIF", "current");
  WriteFile(current_.parent_path() / "beside.gif", "next to the directory");
  WriteFile(server_.parent_path() / "beside-server.gif", "next to the server directory");
  store_.IndexLevelFiles();
  EXPECT_EQ(store_.LocateFile("PIC.gif"), (current_ / "Pic.GIF").string());
  EXPECT_EQ(store_.LocateFile("../beside.gif"), "");
  EXPECT_EQ(store_.LocateFile("../beside-server.gif"), "");
}

TEST_F(FileStoreTest, WildcardsMatchOnlyThemselves) {
  WriteFile(Level("a.x"), "a");
  WriteFile(Level("b.gif"), "b");
  store_.IndexLevelFiles();
  for (const char* pattern : {"*.x", "?.x", "*", "*.*", "[ab].x", "a.?"})
    EXPECT_EQ(store_.LocateFile(pattern), "") << pattern;
  WriteFile(Level("sub/*.x"), "star");
  EXPECT_EQ(store_.LocateFile("*.X"), Level("sub/*.x").string());
}

TEST_F(FileStoreTest, NamesNeverLeaveTheirDirectories) {
  WriteFile(server_ / "secret.x", "outside the levels tree");
  WriteFile(root_ / "escape-probe.x", "far outside");
  WriteFile(Level("inner/real.x"), "real");
  store_.IndexLevelFiles();
  for (const char* name : {"../secret.x", "..\\secret.x", "/secret.x", "levels/../secret.x", "..",
                           ".", "../../escape-probe.x", "..\\..\\escape-probe.x"}) {
    EXPECT_EQ(store_.LocateFile(name), "") << name;
  }
  EXPECT_EQ(store_.LocateFile(std::string("real.x\0.gif", 11)), "");
  EXPECT_EQ(store_.SearchTree(Level(""), ".."), "");
  // A directory part is ignored, not followed.
  EXPECT_EQ(store_.LocateFile("../../etc/real.x"), Level("inner/real.x").string());
}

TEST_F(FileStoreTest, LinkLoopsAndMissingLevelsDirectoryAreHarmless) {
  FileStore bare(server_ / "nowhere", current_);
  EXPECT_EQ(bare.IndexLevelFiles(), 0u);
  EXPECT_EQ(bare.LocateFile("any.x"), "");

  WriteFile(Level("loop/file.x"), "f");
  fs::create_directory_symlink(Level("loop"), Level("loop/again"));
  EXPECT_EQ(store_.IndexLevelFiles(), 1u);
  EXPECT_EQ(store_.LocateFile("nothing.x"), "");
}

TEST_F(FileStoreTest, GuildMembership) {
  WriteFile(server_ / "guilds" / "GUILDRed_Dragons.txt",
            "ann:Annie\r\nbob:Bobby\r\n\r\ncarl:Carl\r\n");
  EXPECT_TRUE(store_.IsGuildMember("Red Dragons", "Annie", "ann"));
  EXPECT_TRUE(store_.IsGuildMember("red dragons", "Bobby", "bob"));
  EXPECT_FALSE(store_.IsGuildMember("Red Dragons", "annie", "ann"));  // lines are exact
  EXPECT_FALSE(store_.IsGuildMember("Red Dragons", "Annie", "bob"));
  EXPECT_FALSE(store_.IsGuildMember("Red Dragons", "Carl", "carl"));  // after the empty line
  EXPECT_FALSE(store_.IsGuildMember("", "Annie", "ann"));
  EXPECT_FALSE(store_.IsGuildMember("Blue", "Annie", "ann"));
  EXPECT_FALSE(store_.IsGuildMember("Red*", "Annie", "ann"));

  // Guild names come from nicknames: they must not reach other files.
  WriteFile(server_ / "guildx.txt", "ann:Annie");
  WriteFile(server_ / "guilds" / "guildz" / "x.txt", "ann:Annie");
  EXPECT_FALSE(store_.IsGuildMember("/../../guildx", "Annie", "ann"));
  EXPECT_FALSE(store_.IsGuildMember("z/x", "Annie", "ann"));
  EXPECT_FALSE(store_.IsGuildMember("z\\x", "Annie", "ann"));
}

}  // namespace
}  // namespace tarvo::server
