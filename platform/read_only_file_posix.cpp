// Read-only files on Linux: open(O_NONBLOCK) so a FIFO does not block, fstat,
// pread.
#include "platform/read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvane::platform {

bool ReadOnlyFile::Open(const std::string& path, std::string* reason) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  handle_ = fd;
  return true;
}

bool ReadOnlyFile::Info(FileKind* kind, uint64_t* size, std::string* reason) const {
  struct stat info {};
  if (::fstat(static_cast<int>(handle_), &info) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  *kind = S_ISREG(info.st_mode) ? FileKind::Regular : S_ISDIR(info.st_mode) ? FileKind::Directory : FileKind::Other;
  *size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
  return true;
}

int64_t ReadOnlyFile::ReadAt(void* dest, size_t capacity, uint64_t offset, std::string* reason) const {
  for (;;) {
    const ssize_t n = ::pread(static_cast<int>(handle_), dest, capacity, static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno != EINTR) {
      *reason = std::strerror(errno);
      return -1;
    }
  }
}

void ReadOnlyFile::Close() {
  if (handle_ != kClosed) ::close(static_cast<int>(handle_));
  handle_ = kClosed;
}

}  // namespace torvane::platform
