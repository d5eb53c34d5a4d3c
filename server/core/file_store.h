#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::server {

/// The file-name part of a path (after the last "/" or "\"), ASCII letters in lower case.
std::string BaseNameLower(std::string_view path);

/// Last-write time of a file in seconds since 1970, rounded down to an even second as a DOS
/// time stores it; 0 when no file exists there (or it predates 1970).
std::uint32_t FileModifiedTime(const std::filesystem::path& path);

/// One line from `data` starting at `pos`: up to a line feed (consumed, not returned) or the end
/// of the data, without one final carriage return. `pos` moves past the line.
std::string ReadLine(std::string_view data, std::size_t& pos);

/// Joins the lines of a text with the paragraph mark: carriage returns become blanks, and the
/// blanks and control bytes at the end of each line ended by a line feed are removed.
std::string JoinLines(std::string_view text);

/// Finds level files and pictures anywhere below the levels directory by bare file name,
/// ignoring letter case, and keeps an index of the files it has seen. Names are always reduced
/// to their base name, so no request reaches outside the levels tree or the current directory.
class FileStore {
 public:
  /// `server_directory` holds "levels", "guilds" and the server's own files. Without
  /// `current_directory` the process's current directory is used at each lookup.
  explicit FileStore(std::filesystem::path server_directory,
                     std::optional<std::filesystem::path> current_directory = std::nullopt);

  const std::filesystem::path& server_directory() const { return server_directory_; }
  const std::filesystem::path& levels_directory() const { return levels_directory_; }

  /// Adds every file below the levels directory to the index; returns how many were added.
  std::size_t IndexLevelFiles();
  /// Full path of the file a name denotes (current directory first, then the index, then a
  /// search of the levels tree), or empty when there is none.
  std::string LocateFile(std::string_view name);
  /// Whether `LocateFile` finds the name.
  bool FileIsKnown(std::string_view name);
  /// Depth-first search below `directory` for a file named `name` (letter case ignored); a file
  /// directly in a directory wins over its subdirectories.
  std::string SearchTree(const std::filesystem::path& directory, std::string_view name) const;
  /// Whether the guild's member file lists "account:nickname" before its first empty line.
  bool IsGuildMember(std::string_view guild, std::string_view nickname,
                     std::string_view account) const;

  /// Number of index entries (for logs).
  std::size_t IndexSize() const { return index_.size(); }

 private:
  struct IndexEntry {
    std::string key;   // lower-case base name
    std::string path;  // full path
  };

  void IndexTree(const std::filesystem::path& directory, int depth);

  std::filesystem::path server_directory_;
  std::filesystem::path levels_directory_;
  std::optional<std::filesystem::path> current_directory_;
  std::vector<IndexEntry> index_;
};

/// Whether a reduced name may be looked up at all: not empty, not "." or "..", no NUL byte.
bool IsAcceptableFileName(std::string_view base_name);

}  // namespace tarvo::server
