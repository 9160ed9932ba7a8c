// File access for the settings file: a bounded read of a small regular
// file, and a replacement that never leaves the old file truncated or half
// written (platform/file_io.h does both for each system).
#pragma once

#include <cstddef>
#include <string>

#include "platform/file_io.h"

namespace torvane {

// A settings file is a few hundred bytes; anything beyond this bound is not
// one, and reading it would only cost time (the growing-buffer read is
// quadratic in the length of a value).
inline constexpr size_t kMaxSettingsFileSize = 1024 * 1024;

using SettingsFileRead = platform::SmallFileRead;
using platform::ReplaceFileAtomically;

// Reads the whole regular settings file at `path` into `*contents`; see
// platform::ReadSmallFile.
inline SettingsFileRead ReadSettingsFile(const std::string& path, std::string* contents, int* os_error = nullptr) {
  return platform::ReadSmallFile(path, kMaxSettingsFileSize, contents, os_error);
}

}  // namespace torvane
