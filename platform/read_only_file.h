// A file opened for reading its bytes exactly as stored: no text-mode
// translation on any system (Windows text mode would turn CR LF into LF and
// stop at 0x1A, changing firmware bytes), and an open that never waits on a
// FIFO or device. Reasons are the system's own text for the failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane::platform {

enum class FileKind { Regular, Directory, Other };

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // `path` is UTF-8. False with the reason in *reason.
  bool Open(const std::string& path, std::string* reason);
  // What the open file is, and its length in bytes.
  bool Info(FileKind* kind, uint64_t* size, std::string* reason) const;
  // Reads up to `capacity` bytes at `offset` without moving any shared
  // position: bytes read, 0 at the end, -1 with *reason on failure.
  int64_t ReadAt(void* dest, size_t capacity, uint64_t offset, std::string* reason) const;
  void Close();
  bool is_open() const { return handle_ != kClosed; }
  // The descriptor (Linux) or HANDLE (Windows), for mapping the file.
  intptr_t native() const { return handle_; }

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
};

}  // namespace torvane::platform
