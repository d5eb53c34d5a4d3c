#include "server/core/file_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <system_error>

#include "base/files.h"
#include "protocol/encoding.h"

namespace tarvo::server {
namespace fs = std::filesystem;
namespace {

// Deep enough for any sensible levels tree, and a guard against pathological ones.
constexpr int kMaxTreeDepth = 64;

bool IsRegularFile(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A regular file directly in `directory` whose name, in lower case, is `lower_name`; empty if
// none. Matching compares names byte for byte after lowering ASCII letters, so "*" and "?" are
// only ever themselves.
fs::path FindFileIn(const fs::path& directory, const std::string& lower_name) {
  fs::path exact = directory / lower_name;
  if (IsRegularFile(exact)) return exact;
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    if (BaseNameLower(path.filename().string()) == lower_name && IsRegularFile(path)) return path;
  }
  return {};
}

// Subdirectories of `directory` in enumeration order. Links to directories are not followed,
// so a link loop cannot trap a search.
std::vector<fs::path> SubdirectoriesOf(const fs::path& directory) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_directory(type_ec) && !it->is_symlink(type_ec)) out.push_back(it->path());
  }
  return out;
}

std::string SearchTreeAt(const fs::path& directory, const std::string& lower_name, int depth) {
  if (depth > kMaxTreeDepth) return {};
  if (fs::path found = FindFileIn(directory, lower_name); !found.empty()) return found.string();
  for (const fs::path& sub : SubdirectoriesOf(directory)) {
    std::string found = SearchTreeAt(sub, lower_name, depth + 1);
    if (!found.empty()) return found;
  }
  return {};
}

// The server's own data files are never handed out from the current directory, which is often
// the server directory: a level named like them would send passwords to a client.
bool IsServerDataFile(const std::string& lower_name) {
  for (std::string_view own : {"accounts.txt", "serverconfig.txt"}) {
    if (lower_name == own) return true;
    if (lower_name.size() > own.size() && lower_name.compare(0, own.size(), own) == 0 &&
        lower_name[own.size()] == '.')
      return true;
  }
  return false;
}

}  // namespace

std::string BaseNameLower(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string out(slash == std::string_view::npos ? path : path.substr(slash + 1));
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsAcceptableFileName(std::string_view base_name) {
  return !base_name.empty() && base_name != "." && base_name != ".." &&
         base_name.find('\0') == std::string_view::npos &&
         base_name.find_first_of("/\\") == std::string_view::npos;
}

std::uint32_t FileModifiedTime(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  if (st.st_mtime <= 0) return 0;
  // Days, hours and minutes are whole even numbers of seconds, so the DOS two-second rounding of
  // the clock is the rounding of the whole count.
  const auto seconds = static_cast<std::uint64_t>(st.st_mtime) & ~std::uint64_t{1};
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(seconds, std::numeric_limits<std::uint32_t>::max() - 1));
}

std::string ReadLine(std::string_view data, std::size_t& pos) {
  if (pos >= data.size()) return {};
  std::size_t end = data.find('\n', pos);
  const std::size_t next = (end == std::string_view::npos) ? data.size() : end + 1;
  if (end == std::string_view::npos) end = data.size();
  std::string line(data.substr(pos, end - pos));
  pos = next;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string JoinLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      out.push_back(' ');
    } else if (c == '\n') {
      while (!out.empty() && static_cast<unsigned char>(out.back()) <= 32) out.pop_back();
      out.push_back(protocol::kParagraphMark);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

FileStore::FileStore(fs::path server_directory, std::optional<fs::path> current_directory)
    : server_directory_(std::move(server_directory)),
      levels_directory_(server_directory_ / "levels"),
      current_directory_(std::move(current_directory)) {}

std::size_t FileStore::IndexLevelFiles() {
  const std::size_t before = index_.size();
  IndexTree(levels_directory_, 0);
  return index_.size() - before;
}

void FileStore::IndexTree(const fs::path& directory, int depth) {
  if (depth > kMaxTreeDepth) return;
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    const fs::path& path = it->path();
    if (it->is_directory(type_ec)) {
      // Links to directories are not followed, so a link loop cannot trap the walk.
      if (!it->is_symlink(type_ec)) IndexTree(path, depth + 1);
    } else if (it->is_regular_file(type_ec)) {
      index_.push_back({BaseNameLower(path.filename().string()), path.string()});
    }
  }
}

std::string FileStore::LocateFile(std::string_view name) {
  const std::string key = BaseNameLower(name);
  if (!IsAcceptableFileName(key)) return {};

  if (!IsServerDataFile(key)) {
    std::error_code ec;
    const fs::path current = current_directory_ ? *current_directory_ : fs::current_path(ec);
    if (!ec && !current.empty()) {
      if (fs::path found = FindFileIn(current, key); !found.empty())
        return fs::absolute(found, ec).string();
    }
  }

  for (;;) {
    const auto it = std::find_if(index_.begin(), index_.end(),
                                 [&key](const IndexEntry& e) { return e.key == key; });
    if (it == index_.end()) break;
    if (IsRegularFile(it->path)) return it->path;
    index_.erase(it);
  }

  std::string found = SearchTreeAt(levels_directory_, key, 0);
  if (!found.empty()) index_.push_back({BaseNameLower(found), found});
  return found;
}

bool FileStore::FileIsKnown(std::string_view name) {
  return !LocateFile(BaseNameLower(name)).empty();
}

std::string FileStore::SearchTree(const fs::path& directory, std::string_view name) const {
  const std::string key = BaseNameLower(name);
  if (!IsAcceptableFileName(key)) return {};
  return SearchTreeAt(directory, key, 0);
}

bool FileStore::IsGuildMember(std::string_view guild, std::string_view nickname,
                              std::string_view account) const {
  if (guild.empty()) return false;
  std::string file_name = "guild";
  for (char c : guild) file_name.push_back(c == ' ' ? '_' : c);
  file_name += ".txt";
  // The guild name comes from a player's nickname: it must stay a plain file name.
  if (!IsAcceptableFileName(file_name)) return false;
  const fs::path path = FindFileIn(server_directory_ / "guilds", BaseNameLower(file_name));
  if (path.empty()) return false;

  const base::Result<std::string> read = base::ReadWholeFile(path);
  if (!read) return false;
  const std::string& data = *read;
  std::string wanted(account);
  wanted += ':';
  wanted += nickname;
  std::size_t pos = 0;
  for (;;) {
    const std::string line = ReadLine(data, pos);
    if (line.empty()) return false;
    if (line == wanted) return true;
  }
}

}  // namespace tarvo::server
