// Linux: pipes, FIFOs and terminals are written through a non-blocking
// description of their own (opened through /proc/self/fd, so the shared
// one, which the parent shell also uses, keeps its flags); sockets with
// MSG_DONTWAIT; regular files as usual. SIGPIPE is ignored.
#include "platform/stream_write.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <map>
#include <string>

namespace torvane::platform {

namespace {

struct Twin {
  dev_t device = 0;
  ino_t inode = 0;
  int fd = -1;
};

// A non-blocking description of the stream behind `fd`, opened once per
// stream (a descriptor that now names another file gets a new one); -1
// where the stream is written directly (regular files), -2 for a socket
// (sent with MSG_DONTWAIT instead), -3 for a pipe without a reader.
int NonBlockingTwin(int fd) {
  static std::map<int, Twin> twins;
  struct stat info {};
  if (::fstat(fd, &info) != 0) return -1;
  const auto found = twins.find(fd);
  if (found != twins.end()) {
    if (found->second.device == info.st_dev && found->second.inode == info.st_ino) return found->second.fd;
    if (found->second.fd >= 0) ::close(found->second.fd);
    twins.erase(found);
  }
  int twin = -1;
  if (S_ISSOCK(info.st_mode)) {
    twin = -2;
  } else if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) {
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    twin = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    // A pipe without a reader cannot be opened (ENXIO): nothing would read
    // the text, so every write is dropped.
    if (twin < 0) twin = errno == ENXIO ? -3 : -1;
  }
  twins[fd] = Twin{info.st_dev, info.st_ino, twin};
  return twin;
}

}  // namespace

bool WriteNowOrDrop(int fd, std::string_view text) {
  const int twin = NonBlockingTwin(fd);
  if (twin == -3) return false;
  while (!text.empty()) {
    ssize_t n;
    if (twin == -2) {
      n = ::send(fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    } else {
      n = ::write(twin >= 0 ? twin : fd, text.data(), text.size());
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

int WriteWaiting(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 1000);
      continue;
    }
    if (n <= 0) return n < 0 ? errno : EIO;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace torvane::platform
