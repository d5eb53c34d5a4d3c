#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvo::base {
namespace {

void SetError(std::string* error, const std::string& what, const std::filesystem::path& path,
              int err) {
  if (error) *error = what + " " + path.string() + ": " + std::strerror(err);
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

bool WriteFileAtomically(const std::filesystem::path& file, std::string_view contents,
                         std::string* error, mode_t new_file_mode) {
  const std::filesystem::path temp =
      file.string() + ".tmp." + std::to_string(static_cast<long>(::getpid()));
  // Keep the permissions of the file being replaced.
  mode_t mode = new_file_mode;
  struct stat old_stat {};
  if (::stat(file.c_str(), &old_stat) == 0) mode = old_stat.st_mode & 07777;

  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    SetError(error, "cannot create", temp, errno);
    return false;
  }
  if (!WriteAll(fd, contents)) {
    SetError(error, "cannot write", temp, errno);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  if (::fsync(fd) != 0) {
    SetError(error, "cannot sync", temp, errno);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  if (::close(fd) != 0) {
    SetError(error, "cannot close", temp, errno);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    SetError(error, "cannot replace", file, errno);
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here no longer endangers either version.
  std::filesystem::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& contents, std::string* error,
                   bool* missing) {
  contents.clear();
  if (missing) *missing = false;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (missing) *missing = (errno == ENOENT);
    SetError(error, "cannot open", file, errno);
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      SetError(error, "cannot read", file, errno);
      ::close(fd);
      contents.clear();
      return false;
    }
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace tarvo::base
