#include "device/hidraw_report_io.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace torvane {

namespace {

using Clock = std::chrono::steady_clock;

int fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return -1;
}

int fail_errno(std::string* error, const char* what, int err) {
  if (err == EIO || err == ENODEV || err == EPIPE) {
    return fail(error, std::string(kHidrawDisconnectedText) + " (" + what + ": " + std::strerror(err) + ")");
  }
  return fail(error, std::string(what) + ": " + std::strerror(err));
}

// Milliseconds left until `deadline`, rounded up so a wait never ends early.
int ms_left(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

// True when the node reports a hang-up or an error right now.
bool node_hung_up(int fd) {
  pollfd p{};
  p.fd = fd;
  p.events = POLLIN;
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

int hidraw_read_report(int fd, uint8_t* buffer, size_t capacity, int timeout_ms, std::string* error) {
  if (buffer == nullptr || capacity == 0) return fail(error, "read without room for a report");
  if (fd < 0) return fail(error, "read on a device that is not open");
  capacity = std::min<size_t>(capacity, INT_MAX);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  for (;;) {
    // One poll at least, even for a zero time-out, to notice a hang-up.
    pollfd p{};
    p.fd = fd;
    p.events = POLLIN;
    const int ready = ::poll(&p, 1, timeout_ms < 0 ? -1 : ms_left(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return fail_errno(error, "poll", errno);
    }
    if (ready == 0) {
      if (timeout_ms >= 0 && ms_left(deadline) == 0) return 0;
      continue;  // the wait ended early
    }
    if (p.revents & POLLNVAL) return fail(error, "read on a device that is not open");
    const bool hung_up = (p.revents & (POLLHUP | POLLERR)) != 0;
    // Whatever is queued comes first, also once the node has hung up.
    const ssize_t n = ::read(fd, buffer, capacity);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      // A zero-length report reads as 0 bytes: nothing read. Only a node
      // that has hung up (a socket standing in for one) ends with 0 too.
      if (hung_up) return fail(error, std::string(kHidrawDisconnectedText) + " (end of file)");
      return 0;
    }
    const int err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN && err != EWOULDBLOCK) return fail_errno(error, "read", err);
    // Nothing queued. A node that has hung up will not queue anything more.
    if (hung_up) return fail(error, kHidrawDisconnectedText);
  }
}

int hidraw_discard_reports(int fd, int limit, std::string* error) {
  if (fd < 0) return fail(error, "read on a device that is not open");
  uint8_t scratch[4096];
  int dropped = 0;
  while (dropped < limit) {
    const ssize_t n = ::read(fd, scratch, sizeof scratch);
    if (n > 0 || (n == 0 && !node_hung_up(fd))) {
      ++dropped;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (dropped > 0) break;
    return n == 0 ? fail(error, kHidrawDisconnectedText) : fail_errno(error, "read", errno);
  }
  return dropped;
}

int hidraw_write_report(int fd, const uint8_t* data, size_t length, std::string* error) {
  if (data == nullptr || length == 0) return fail(error, "write of an empty report");
  if (fd < 0) return fail(error, "write on a device that is not open");
  if (length > INT_MAX) return fail(error, "write of an oversized report");
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kHidrawWriteWaitMs);
  for (;;) {
    const ssize_t n = ::write(fd, data, length);
    if (n >= 0) return static_cast<int>(n);
    const int err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN && err != EWOULDBLOCK) return fail_errno(error, "write", err);
    const int wait_ms = ms_left(deadline);
    if (wait_ms == 0) return fail(error, "write: the device takes no output report");
    pollfd p{};
    p.fd = fd;
    p.events = POLLOUT;
    const int ready = ::poll(&p, 1, wait_ms);
    if (ready < 0 && errno != EINTR) return fail_errno(error, "poll", errno);
    if (ready > 0 && (p.revents & POLLNVAL)) return fail(error, "write on a device that is not open");
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLOUT)) {
      return fail(error, kHidrawDisconnectedText);
    }
  }
}

}  // namespace torvane
