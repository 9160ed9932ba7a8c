#include "monitor/stream_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <map>
#include <mutex>
#include <string>

namespace torvane {

namespace {

std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

// A non-blocking description of the stream behind `fd`, opened once per
// descriptor; -1 where the stream is written directly (regular files) and
// -2 for a socket (sent with MSG_DONTWAIT instead).
int NonBlockingTwin(int fd) {
  static std::map<int, int> twins;
  const auto found = twins.find(fd);
  if (found != twins.end()) return found->second;
  int twin = -1;
  struct stat info {};
  if (::fstat(fd, &info) == 0) {
    if (S_ISSOCK(info.st_mode)) {
      twin = -2;
    } else if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) {
      const std::string path = "/proc/self/fd/" + std::to_string(fd);
      twin = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      // A pipe without a reader cannot be opened (ENXIO): nothing would
      // read the text, so every write is dropped.
      if (twin < 0) twin = errno == ENXIO ? -3 : -1;
    }
  }
  twins[fd] = twin;
  return twin;
}

}  // namespace

bool WriteWithoutBlocking(int fd, std::string_view text) {
  std::lock_guard<std::mutex> lock(WriteMutex());
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
      return false;  // EAGAIN (full), EPIPE (reader gone), ...: dropped
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace torvane
