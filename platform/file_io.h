// Whole-file access for small files (the settings file): a bounded read of
// a regular file, and a replacement that never leaves the old file
// truncated or half written.
#pragma once

#include <cstddef>
#include <string>

namespace torvane::platform {

enum class SmallFileRead {
  Ok,          // contents hold the whole file
  Missing,     // no such file (or a path component is missing)
  NotRegular,  // a directory, device, FIFO, ...
  TooLarge,    // larger than the bound
  Error,       // cannot be opened or read for another reason
};

// Reads the whole regular file at `path` (UTF-8) into `*contents` (cleared
// first), at most `max_size` bytes. Never blocks on FIFOs or devices. For
// Error, *os_error (when given) holds an errno value: EACCES when access was
// refused.
SmallFileRead ReadSmallFile(const std::string& path, size_t max_size, std::string* contents, int* os_error);

// Replaces the file at `path` (UTF-8) with `contents`: writes a temporary
// file in the same directory, flushes it to disk, then puts it in the old
// file's place in one step (rename; MoveFileEx with write-through on
// Windows). On Linux a symbolic link is followed so the link itself is
// kept, and the replaced file's permission bits are kept (a new file gets
// 0666 less the umask). A file the user made read-only (no write
// permission; the read-only attribute on Windows) is left as it is and
// refused. On failure the old file is left untouched, the temporary file is
// removed and false is returned (with a reason in `*error` when given).
bool ReplaceFileAtomically(const std::string& path, const std::string& contents, std::string* error = nullptr);

}  // namespace torvane::platform
