#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/level_relay.h"

namespace tarvo::server {

class FileStore;
class TServerPlayer;

/// The mark that one session's client holds the current text of a level. Sessions are named by
/// their serial number, which no later session ever reuses, so a mark can never be taken for
/// a session that merely got the same player id.
struct TServerLevelModify {
  std::uint64_t session_serial = 0;
};

/// One cached level: its file, its text in wire form, the players in it (not owned) and the
/// copy marks of the clients that hold its current text.
class TServerLevel {
 public:
  /// Resolves `name` with the file store and reads the file; `path()` is empty when none exists.
  TServerLevel(FileStore& files, std::string_view name);

  /// Reads the file again (resolving the stored path anew). When no file is found the path
  /// becomes empty and the old text stays. Returns whether a file was read.
  bool Load();

  /// Full path of the level file, or empty.
  const std::string& path() const { return path_; }
  /// The lower-case file-name part of the path (empty without a path).
  const std::string& name() const { return name_; }
  /// The file's last-write time when it was read.
  std::uint32_t file_time() const { return file_time_; }
  /// The level text with its lines joined by the paragraph mark.
  const std::string& text() const { return text_; }

  /// Players in order of entry; the first is told so.
  std::vector<TServerPlayer*>& players() { return players_; }
  const std::vector<TServerPlayer*>& players() const { return players_; }
  /// Removes a player from the list; returns whether it was there. The movement collected so
  /// far reaches the players' batches first, the leaver's included.
  bool RemovePlayer(const TServerPlayer* player);
  /// The movement relayed in this level during the current tick.
  LevelRelay& relay() { return relay_; }
  /// Queues the collected movement into the players' batches: before anything that must follow
  /// it (see `LevelRelay`).
  void FlushRelay() { relay_.FlushToBatches(players_); }

  void MarkCopy(const TServerPlayer& player);
  bool HasCopy(const TServerPlayer& player) const;
  void UnmarkCopy(const TServerPlayer& player);
  /// Drops the mark of a session that has ended.
  void UnmarkSerial(std::uint64_t serial);
  void ClearCopyMarks();
  std::size_t CopyMarkCount() const { return copy_marks_.size(); }

 private:
  FileStore& files_;
  std::string requested_;
  std::string path_;
  std::string name_;
  std::uint32_t file_time_ = 0;
  std::string text_;
  std::vector<TServerPlayer*> players_;
  std::vector<TServerLevelModify> copy_marks_;
  LevelRelay relay_;
};

/// The level cache: levels in the order they were first entered.
class LevelCache {
 public:
  explicit LevelCache(FileStore& files) : files_(files) {}

  /// The cached level whose file-name part equals the lower-case file-name part of `name`,
  /// loading it when it is not cached; nullptr when no file exists. `loaded` (when given) tells
  /// whether the call read a file.
  TServerLevel* FindLevel(std::string_view name, bool* loaded = nullptr);
  /// The cached level whose file-name part equals `name` exactly, without loading.
  TServerLevel* FindCached(std::string_view name) const;
  /// Removes and frees a level.
  void Remove(const TServerLevel* level);
  /// Drops every mark a departed session held.
  void UnmarkSerial(std::uint64_t serial);
  void Clear() { levels_.clear(); }

  const std::vector<std::unique_ptr<TServerLevel>>& levels() const { return levels_; }

 private:
  FileStore& files_;
  std::vector<std::unique_ptr<TServerLevel>> levels_;
};

}  // namespace tarvo::server
