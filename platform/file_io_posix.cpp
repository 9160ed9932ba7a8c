// Bounded read and atomic replacement of small files on Linux: open with
// O_NONBLOCK (a FIFO never blocks), fstat, read; replace through a temporary
// file, fsync, rename and fsync of the directory.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace torvane::platform {

namespace {

// Closes a descriptor on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }
  void Reset() { Close(); }

 private:
  int fd_;
};

void SetError(std::string* error, const std::string& what, int err) {
  if (error != nullptr) *error = what + ": " + std::strerror(err);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file the rename must replace: the end of a chain of symbolic links,
// so that the links survive, else the path itself. A link whose target
// does not exist yet (a dangling one) leads to that target: the file is
// created there, as the administrator's link intends. False with *error
// set for a loop or an unreadable link.
bool ResolveTarget(const std::string& path, std::string* target, std::string* error) {
  constexpr int kMaxLinks = 40;  // as the kernel allows
  std::string current = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      *target = current;
      return true;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<size_t>(n) >= link.size()) {
      SetError(error, "cannot read the link " + current, n < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    link.resize(static_cast<size_t>(n));
    current = link.front() == '/' ? link : DirectoryOf(current) + "/" + link;
  }
  SetError(error, "cannot follow " + path, ELOOP);
  return false;
}

// Whether this process may replace the file: its own write permission
// counts, for root too (a file made read-only is meant to stay as it is).
bool MayWrite(const std::string& path, const struct stat& info) {
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}


// Creates a new temporary file beside `target` with mode 0666 (the umask
// applies, as for any new file).
int CreateTemporaryBeside(const std::string& target, std::string* temp_path) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = target.rfind('/');
  const std::string dir_prefix = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_path = dir_prefix + "." + base + ".tmp" + std::to_string(::getpid()) + "." +
                 std::to_string(counter.fetch_add(1));
    const int fd = ::open(temp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

SmallFileRead ReadSmallFile(const std::string& path, size_t max_size, std::string* contents, int* os_error) {
  contents->clear();
  if (path.empty()) return SmallFileRead::Missing;
  auto failed = [os_error] {
    if (os_error != nullptr) *os_error = errno;
    return SmallFileRead::Error;
  };
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? SmallFileRead::Missing : failed();
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return failed();
  if (!S_ISREG(info.st_mode)) return SmallFileRead::NotRegular;
  if (static_cast<unsigned long long>(info.st_size) > max_size) return SmallFileRead::TooLarge;

  // Read to the end rather than trusting st_size: the file may change
  // between the two, and the bound must hold for what is actually read.
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      contents->clear();
      return failed();
    }
    if (n == 0) break;
    if (contents->size() + static_cast<size_t>(n) > max_size) {
      contents->clear();
      return SmallFileRead::TooLarge;
    }
    contents->append(chunk, static_cast<size_t>(n));
  }
  return SmallFileRead::Ok;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& contents, std::string* error) {
  if (path.empty()) {
    if (error != nullptr) *error = "empty file name";
    return false;
  }
  std::string target;
  if (!ResolveTarget(path, &target, error)) return false;

  struct stat existing {};
  const bool has_existing = ::stat(target.c_str(), &existing) == 0;
  if (has_existing && !S_ISREG(existing.st_mode)) {
    if (error != nullptr) *error = target + ": not a regular file";
    return false;
  }
  if (has_existing && !MayWrite(target, existing)) {
    if (error != nullptr) *error = target + ": the file is read-only";
    return false;
  }

  std::string temp_path;
  FileDescriptor fd(CreateTemporaryBeside(target, &temp_path));
  if (fd.get() < 0) {
    SetError(error, "cannot create a temporary file beside " + target, errno);
    return false;
  }

  bool ok = WriteAll(fd.get(), contents.data(), contents.size());
  int err = errno;
  if (ok && has_existing) {
    // Keep the replaced file's permission bits, and its owner where this
    // process may set it (running as root); a failed chown is harmless.
    if (::fchmod(fd.get(), existing.st_mode & 07777) != 0) {
      ok = false;
      err = errno;
    } else if (::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0) {
      errno = 0;
    }
  }
  if (ok && ::fsync(fd.get()) != 0) {
    ok = false;
    err = errno;
  }
  if (!fd.Close() && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp_path.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp_path.c_str());
    SetError(error, "cannot write " + target, err);
    return false;
  }

  // Make the rename itself durable; the file is already in place, so a
  // failure here is not reported.
  FileDescriptor dir(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

}  // namespace torvane::platform
