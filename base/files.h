#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvo::base {

/// Replaces `file` with `contents` so that a reader sees either the old or the new file, never a
/// half-written one: writes a temporary file beside it, syncs it and renames it over the old one.
/// On failure the old file is untouched, no temporary file is left and `error` (when given)
/// says which step failed and why. A replaced file keeps its permissions; a new one gets
/// `new_file_mode` (files holding passwords pass 0600).
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view contents,
                         std::string* error = nullptr, mode_t new_file_mode = 0644);

/// Reads a whole file. Returns false (with the reason in `error`) when it cannot be read;
/// `missing` (when given) tells a file that does not exist apart from one that cannot be read.
bool ReadWholeFile(const std::filesystem::path& file, std::string& contents,
                   std::string* error = nullptr, bool* missing = nullptr);

}  // namespace tarvo::base
