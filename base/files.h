#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tarvo::base {

/// Replaces `file` with `contents` so that a reader sees either the old or the new file, never a
/// half-written one: writes the temporary file `TemporaryFileFor(file)` (mode 0600 while it is
/// written), syncs it and renames it over the old one.
/// On failure the old file is untouched, no temporary file is left and the error says which step
/// failed and why. A replaced file keeps its permissions; a new one gets `new_file_mode` (files
/// holding passwords pass 0600).
Result<void> WriteFileAtomically(const std::filesystem::path& file, std::string_view contents,
                                 mode_t new_file_mode = 0644);

/// The one temporary file `WriteFileAtomically` uses for `file`.
std::filesystem::path TemporaryFileFor(const std::filesystem::path& file);

/// Removes the temporary files a crash during `WriteFileAtomically` may have left beside `file`
/// (also the per-process names of earlier versions); returns how many were removed.
int RemoveLeftoverTemporaries(const std::filesystem::path& file);

/// An exclusive `flock` on a lock file, held until destroyed (or the process ends, however it
/// ends). Not copyable.
class FileLock {
 public:
  /// Creates `path` when missing and tries to lock it without waiting; see `locked`.
  explicit FileLock(const std::filesystem::path& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  /// Whether this object holds the lock; when not, `error` says why (held by another, or the
  /// file could not be opened).
  bool locked() const { return locked_; }
  bool held_elsewhere() const { return held_elsewhere_; }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
  bool held_elsewhere_ = false;
  std::string error_;
};

/// Whether a program must not keep its data in `folder`: this user cannot write it, or it is one
/// of the system's program folders (/usr, /bin, /sbin, /lib, /etc and below), which only a
/// package may change even where root could write them.
bool IsReadOnlyOrSystemFolder(const std::filesystem::path& folder);

/// A whole file's bytes, or why it cannot be read.
Result<std::string> ReadWholeFile(const std::filesystem::path& file);

/// Whether nothing exists at `file` (a file that exists but cannot be read is not missing).
bool IsMissing(const std::filesystem::path& file);

}  // namespace tarvo::base
