#include "station/record_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvane {

namespace {

// The operating system's part, kept together: identity of a file, a
// non-blocking open for appending, the advisory lock, and the append itself.
struct FileId {
  bool regular = false;
  unsigned long long device = 0, inode = 0;
  bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

FileId IdOf(const struct stat& st) { return {S_ISREG(st.st_mode), st.st_dev, st.st_ino}; }

// stat follows links, so a link to a file is that file.
bool IdOfPath(const std::string& path, FileId* id) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  *id = IdOf(st);
  return true;
}

bool IdOfFd(int fd, FileId* id) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  *id = IdOf(st);
  return true;
}

// Read and write when allowed (to see a torn last line), else write only.
// O_NONBLOCK: a FIFO or device is opened without waiting for a peer (and
// refused after); a FIFO without a reader fails with ENXIO.
int OpenForAppend(const std::string& path, bool* readable) {
  const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = open(path.c_str(), O_RDWR | flags, 0644);
  *readable = fd >= 0;
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_WRONLY | flags, 0644);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool LockFile(int fd) {
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void UnlockFile(int fd) { flock(fd, LOCK_UN); }

long long FileSize(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The last byte, or -1 when the file is empty or cannot be read.
int LastByte(int fd, long long size) {
  unsigned char c = 0;
  if (size <= 0 || pread(fd, &c, 1, size - 1) != 1) return -1;
  return c;
}

// Writes all of `text`; false with errno set when a write fails.
bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool CutBack(int fd, long long size) {
  while (ftruncate(fd, size) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

std::string SystemError(const std::string& path, const char* what = nullptr) {
  return path + ": " + (what ? std::string(what) + ": " : std::string()) + std::strerror(errno);
}

RecordPathProblem Refuse(RecordPathProblem problem, const std::string& path, const char* text, std::string* error) {
  *error = path + ": " + text;
  return problem;
}

// The problem of a record file that is `id`.
RecordPathProblem CheckId(const FileId& id, const std::string& path, const std::vector<std::string>& flashed,
                          std::string* error) {
  if (!id.regular) return Refuse(RecordPathProblem::kNotRegularFile, path, kRecordNotRegularText, error);
  for (const std::string& file : flashed) {
    FileId other;
    if (!file.empty() && IdOfPath(file, &other) && other == id) {
      return Refuse(RecordPathProblem::kInputFile, path, kRecordInputFileText, error);
    }
  }
  return RecordPathProblem::kNone;
}

}  // namespace

RecordPathProblem CheckRecordPath(const std::string& path, const std::vector<std::string>& flashed,
                                  std::string* error) {
  if (path.empty()) {
    *error = "the record file name is empty";
    return RecordPathProblem::kEmpty;
  }
  FileId id;
  if (!IdOfPath(path, &id)) {
    if (errno == ENOENT) return RecordPathProblem::kNone;  // created on open (a missing folder fails there)
    *error = SystemError(path);
    return RecordPathProblem::kSystem;
  }
  return CheckId(id, path, flashed, error);
}

RecordFile::~RecordFile() {
  if (fd_ >= 0) close(fd_);
}

bool RecordFile::Open(const std::string& path, std::string* error, const std::vector<std::string>& flashed) {
  // Looked at first so that a FIFO or device is never opened at all; the
  // opened file is looked at again, in case the path changed in between.
  if (CheckRecordPath(path, flashed, error) != RecordPathProblem::kNone) return false;
  bool readable = false;
  const int fd = OpenForAppend(path, &readable);
  if (fd < 0) {
    if (errno == ENXIO) {
      Refuse(RecordPathProblem::kNotRegularFile, path, kRecordNotRegularText, error);
    } else {
      *error = SystemError(path);
    }
    return false;
  }
  FileId id;
  if (!IdOfFd(fd, &id)) {
    *error = SystemError(path);
    close(fd);
    return false;
  }
  if (CheckId(id, path, flashed, error) != RecordPathProblem::kNone) {
    close(fd);
    return false;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  readable_ = readable;
  path_ = path;
  return true;
}

bool RecordFile::Append(const std::string& line, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0) {
    *error = "no record file is open";
    return false;
  }
  if (!LockFile(fd_)) {
    *error = SystemError(path_, "lock");
    return false;
  }
  // Under the lock no other station appends, so the size is where this line goes.
  const long long size = FileSize(fd_);
  const bool torn = readable_ && size > 0 && LastByte(fd_, size) != '\n';
  const std::string whole = (torn ? "\n" : "") + line + "\n";
  bool ok = WriteAll(fd_, whole);
  if (!ok) {
    const int write_errno = errno;
    const bool cut = size >= 0 && CutBack(fd_, size);
    errno = write_errno;
    *error = path_ + ": " + (cut ? kRecordCutBackText : kRecordNotCutBackText) + " (" + std::strerror(errno) + ")";
  } else if (fsync(fd_) != 0) {
    *error = SystemError(path_, "fsync");
    ok = false;
  }
  UnlockFile(fd_);
  return ok;
}

}  // namespace torvane
