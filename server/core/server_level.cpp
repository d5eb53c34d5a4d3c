#include "server/core/server_level.h"

#include <algorithm>

#include "base/files.h"
#include "server/core/file_store.h"
#include "server/core/server_player.h"

namespace tarvo::server {

TServerLevel::TServerLevel(FileStore& files, std::string_view name)
    : files_(files), requested_(BaseNameLower(name)) {
  Load();
}

bool TServerLevel::Load() {
  path_ = files_.LocateFile(path_.empty() ? requested_ : path_);
  name_ = BaseNameLower(path_);
  if (path_.empty()) return false;
  file_time_ = FileModifiedTime(path_);
  base::Result<std::string> read = base::ReadWholeFile(path_);
  if (!read) return false;
  std::string data = std::move(read).value();
  // The text ends at the first zero byte: nothing after it could travel in a message.
  const std::size_t zero = data.find('\0');
  if (zero != std::string::npos) data.resize(zero);
  text_ = JoinLines(data);
  return true;
}

bool TServerLevel::RemovePlayer(const TServerPlayer* player) {
  const auto it = std::find(players_.begin(), players_.end(), player);
  if (it == players_.end()) return false;
  FlushRelay();
  players_.erase(it);  // the flush queues messages, it changes no list
  return true;
}

void TServerLevel::MarkCopy(const TServerPlayer& player) {
  if (!HasCopy(player)) copy_marks_.push_back({player.serial()});
}

bool TServerLevel::HasCopy(const TServerPlayer& player) const {
  return std::any_of(copy_marks_.begin(), copy_marks_.end(), [&](const TServerLevelModify& m) {
    return m.session_serial == player.serial();
  });
}

void TServerLevel::UnmarkCopy(const TServerPlayer& player) { UnmarkSerial(player.serial()); }

void TServerLevel::UnmarkSerial(std::uint64_t serial) {
  std::erase_if(copy_marks_,
                [serial](const TServerLevelModify& m) { return m.session_serial == serial; });
}

void TServerLevel::ClearCopyMarks() { copy_marks_.clear(); }

TServerLevel* LevelCache::FindLevel(std::string_view name, bool* loaded) {
  if (loaded) *loaded = false;
  const std::string key = BaseNameLower(name);
  if (key.empty()) return nullptr;
  if (TServerLevel* cached = FindCached(key)) return cached;
  auto level = std::make_unique<TServerLevel>(files_, key);
  if (level->path().empty()) return nullptr;
  if (loaded) *loaded = true;
  levels_.push_back(std::move(level));
  return levels_.back().get();
}

TServerLevel* LevelCache::FindCached(std::string_view name) const {
  if (name.empty()) return nullptr;  // a level whose file vanished has no name to be found by
  for (const auto& level : levels_) {
    if (level->name() == name) return level.get();
  }
  return nullptr;
}

void LevelCache::Remove(const TServerLevel* level) {
  std::erase_if(levels_, [level](const auto& l) { return l.get() == level; });
}

void LevelCache::UnmarkSerial(std::uint64_t serial) {
  for (auto& level : levels_) level->UnmarkSerial(serial);
}

}  // namespace tarvo::server
