#include "base/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tarvo::base {
namespace {

std::string ErrorText(const std::string& what, const std::filesystem::path& path, int err) {
  return what + " " + path.string() + ": " + std::strerror(err);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::filesystem::path TemporaryFileFor(const std::filesystem::path& file) {
  return file.string() + ".tmp";
}

int RemoveLeftoverTemporaries(const std::filesystem::path& file) {
  int removed = 0;
  std::error_code ec;
  if (std::filesystem::remove(TemporaryFileFor(file), ec)) ++removed;
  std::filesystem::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  const std::string prefix = file.filename().string() + ".tmp.";
  std::vector<std::filesystem::path> stale;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        name.find_first_not_of("0123456789", prefix.size()) == std::string::npos)
      stale.push_back(entry.path());
  }
  for (const auto& path : stale) {
    if (std::filesystem::remove(path, ec)) ++removed;
  }
  return removed;
}

Result<void> WriteFileAtomically(const std::filesystem::path& file, std::string_view contents,
                                 mode_t new_file_mode) {
  const std::filesystem::path temp = TemporaryFileFor(file);
  // Keep the permissions of the file being replaced.
  mode_t mode = new_file_mode;
  struct stat old_stat {};
  if (::stat(file.c_str(), &old_stat) == 0) mode = old_stat.st_mode & 07777;

  // Private while written: a crash may leave it behind until the next start removes it.
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Fail(ErrorText("cannot create", temp, errno));
  if (::fchmod(fd, 0600) != 0 || ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return Fail(ErrorText("cannot prepare", temp, err));
  }
  if (!WriteAll(fd, contents)) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return Fail(ErrorText("cannot write", temp, err));
  }
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return Fail(ErrorText("cannot sync", temp, err));
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return Fail(ErrorText("cannot close", temp, err));
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return Fail(ErrorText("cannot replace", file, err));
  }
  // Make the rename itself durable; a failure here no longer endangers either version.
  std::filesystem::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    (void)::fsync(dir_fd);
    ::close(dir_fd);
  }
  return Ok();
}

FileLock::FileLock(const std::filesystem::path& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    error_ = ErrorText("cannot open", path, errno);
    return;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    locked_ = true;
    return;
  }
  held_elsewhere_ = (errno == EWOULDBLOCK);
  error_ = ErrorText("cannot lock", path, errno);
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

bool IsReadOnlyOrSystemFolder(const std::filesystem::path& folder) {
  if (::access(folder.c_str(), W_OK) != 0) return true;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::weakly_canonical(folder, error);
  if (error) absolute = std::filesystem::absolute(folder, error).lexically_normal();
  const std::string text = absolute.string();
  for (const std::string system : {"/bin", "/sbin", "/usr", "/lib", "/lib64", "/etc"}) {
    if (text == system || text.rfind(system + "/", 0) == 0) return true;
  }
  return false;
}

Result<std::string> ReadWholeFile(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(ErrorText("cannot open", file, errno));
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return Fail(ErrorText("cannot read", file, err));
    }
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return contents;
}

bool IsMissing(const std::filesystem::path& file) {
  struct stat info {};
  return ::stat(file.c_str(), &info) != 0 && errno == ENOENT;
}

}  // namespace tarvo::base
