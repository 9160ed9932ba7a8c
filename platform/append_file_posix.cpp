// Linux: O_APPEND descriptor opened with O_NONBLOCK (then made blocking),
// flock for the lock, fsync to flush.
#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvane::platform {

namespace {

FileId IdOf(const struct stat& st) { return {S_ISREG(st.st_mode), st.st_dev, st.st_ino}; }

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

// stat follows links, so a link to a file is that file.
FileIdResult IdOfPath(const std::string& path, FileId* id, std::string* reason) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return FileIdResult::kMissing;
    *reason = std::strerror(errno);
    return FileIdResult::kFailed;
  }
  *id = IdOf(st);
  return FileIdResult::kOk;
}

// Read and write when allowed (to see a torn last line), else write only.
// O_NONBLOCK: a FIFO or device is opened without waiting for a peer (and
// refused after); a FIFO without a reader fails with ENXIO.
AppendFile::OpenResult AppendFile::Open(const std::string& path, std::string* reason) {
  Close();
  const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = open(path.c_str(), O_RDWR | flags, 0644);
  readable_ = fd >= 0;
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_WRONLY | flags, 0644);
  if (fd < 0) {
    const bool no_reader = errno == ENXIO;
    *reason = std::strerror(errno);
    return no_reader ? OpenResult::kNoReader : OpenResult::kFailed;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  handle_ = fd;
  return OpenResult::kOk;
}

bool FlushFolderOf(const std::string& path, std::string* reason) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    *reason = std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  return true;
}

bool AppendFile::Id(FileId* id, std::string* reason) const {
  struct stat st {};
  if (fstat(Fd(handle_), &st) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  *id = IdOf(st);
  return true;
}

bool AppendFile::Lock(std::string* reason) {
  while (flock(Fd(handle_), LOCK_EX) != 0) {
    if (errno != EINTR) {
      *reason = std::strerror(errno);
      return false;
    }
  }
  return true;
}

AppendFile::TryLockResult AppendFile::TryLock(std::string* reason) {
  while (flock(Fd(handle_), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return TryLockResult::kBusy;
    if (errno != EINTR) {
      *reason = std::strerror(errno);
      return TryLockResult::kFailed;
    }
  }
  return TryLockResult::kOk;
}

void AppendFile::Unlock() { flock(Fd(handle_), LOCK_UN); }

long long AppendFile::Size() const {
  struct stat st {};
  return fstat(Fd(handle_), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

int AppendFile::ByteAt(long long offset) const {
  unsigned char c = 0;
  if (offset < 0 || pread(Fd(handle_), &c, 1, offset) != 1) return -1;
  return c;
}

bool AppendFile::ReadAll(std::string* contents, std::string* reason) const {
  contents->clear();
  char chunk[1 << 16];
  for (long long at = 0;;) {
    const ssize_t n = pread(Fd(handle_), chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *reason = std::strerror(errno);
      return false;
    }
    if (n == 0) return true;
    contents->append(chunk, static_cast<size_t>(n));
    at += n;
  }
}

bool AppendFile::Append(const std::string& text, std::string* reason) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(Fd(handle_), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *reason = std::strerror(n == 0 ? ENOSPC : errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool AppendFile::CutBack(long long size) {
  while (ftruncate(Fd(handle_), size) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool AppendFile::Flush(std::string* reason) {
  if (fsync(Fd(handle_)) == 0) return true;
  *reason = std::strerror(errno);
  return false;
}

void AppendFile::Close() {
  if (handle_ != kClosed) close(Fd(handle_));
  handle_ = kClosed;
  readable_ = false;
}

}  // namespace torvane::platform
