// File access for the settings file: a bounded read of a small regular
// file, and a replacement that never leaves the old file truncated or half
// written (temporary file beside it, fsync, rename).
#pragma once

#include <cstddef>
#include <string>

namespace torvane {

// A settings file is a few hundred bytes; anything beyond this bound is not
// one, and reading it would only cost time (the growing-buffer read is
// quadratic in the length of a value).
inline constexpr size_t kMaxSettingsFileSize = 1024 * 1024;

enum class SettingsFileRead {
  Ok,          // contents hold the whole file
  Missing,     // no such file (or a path component is missing)
  NotRegular,  // a directory, device, FIFO, ...
  TooLarge,    // larger than kMaxSettingsFileSize
  Error,       // cannot be opened or read for another reason
};

// Reads the whole regular file at `path` into `*contents` (cleared first).
// Never blocks on FIFOs or devices. For Error, *os_error (when given) holds
// the errno of the failed call.
SettingsFileRead ReadSettingsFile(const std::string& path, std::string* contents, int* os_error = nullptr);

// Replaces the file at `path` with `contents`: writes a temporary file in
// the same directory, flushes it to disk, then renames it over `path`. A
// symbolic link is followed so the link itself is kept. The replaced file's
// permission bits are kept; a new file gets 0666 less the umask. On failure
// the old file is left untouched, the temporary file is removed and false
// is returned (with a reason in `*error` when given).
bool ReplaceFileAtomically(const std::string& path, const std::string& contents,
                           std::string* error = nullptr);

}  // namespace torvane
