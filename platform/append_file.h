// A file that lines are appended to by several writers (stations sharing a
// record file): each append is made under an exclusive lock on the whole
// file (flock on Linux, LockFileEx on Windows, where two appending handles
// tear each other's lines without it), at the end as found under the lock,
// then flushed to disk.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace torvane::platform {

// Which file a name or handle is, to tell two names of one file apart.
struct FileId {
  bool regular = false;
  unsigned long long device = 0, inode = 0;
  bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

enum class FileIdResult { kOk, kMissing, kFailed };

// The identity of the file `path` (UTF-8) names, links followed.
FileIdResult IdOfPath(const std::string& path, FileId* id, std::string* reason);

// Flushes to disk the folder entry of `path` (a file just created there),
// so the file itself survives a power loss; nothing to do on Windows, whose
// file system records a new name with the file.
bool FlushFolderOf(const std::string& path, std::string* reason);

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile() { Close(); }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  enum class OpenResult { kOk, kNoReader, kFailed };
  // Opens `path` (UTF-8) for appending, creating it when missing, never
  // waiting on a FIFO or device (a FIFO without a reader: kNoReader). Read
  // access is taken too where allowed, to see a torn last line.
  OpenResult Open(const std::string& path, std::string* reason);
  bool IsOpen() const { return handle_ != kClosed; }
  bool readable() const { return readable_; }
  bool Id(FileId* id, std::string* reason) const;

  // The exclusive lock on the whole file, waited for.
  bool Lock(std::string* reason);
  // The same lock, not waited for: kBusy when another handle (in this or
  // another process) holds it.
  enum class TryLockResult { kOk, kBusy, kFailed };
  TryLockResult TryLock(std::string* reason);
  void Unlock();
  // Length in bytes, or -1.
  long long Size() const;
  // The byte at `offset`, or -1 when it cannot be read.
  int ByteAt(long long offset) const;
  // The whole file's bytes (opened readable only); false with the reason
  // when a read fails.
  bool ReadAll(std::string* contents, std::string* reason) const;
  // Writes all of `text` at the end of the file (call under the lock);
  // false with the reason when a write fails or the disk is full.
  bool Append(const std::string& text, std::string* reason);
  // Cuts the file back to `size` bytes.
  bool CutBack(long long size);
  // Flushes the written bytes to disk.
  bool Flush(std::string* reason);
  void Close();
  void Swap(AppendFile& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(readable_, other.readable_);
  }

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
  bool readable_ = false;
};

}  // namespace torvane::platform
