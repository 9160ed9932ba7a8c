#include "device/hidraw_report_io.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

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

struct HidrawWriter::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  int fd = -1;                  // the thread's own duplicate
  std::vector<uint8_t> report;  // the report to write
  bool requested = false;       // a report waits for the thread
  bool busy = false;            // the thread is in the kernel with one
  bool finished = false;        // the result below is fresh
  bool stop = false;
  int result = -1;
  std::string error;
  Clock::time_point busy_since{};
};

HidrawWriter::HidrawWriter(int fd, int budget_ms) : shared_(std::make_shared<Shared>()), budget_ms_(budget_ms) {
  shared_->fd = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
  if (shared_->fd < 0) return;  // writes fail with the reason below
  thread_ = std::thread([shared = shared_] {
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
      shared->changed.wait(lock, [&] { return shared->requested || shared->stop; });
      if (!shared->requested) break;
      shared->requested = false;
      shared->busy = true;
      std::vector<uint8_t> report = std::move(shared->report);
      lock.unlock();
      std::string error;
      const int result = hidraw_write_report(shared->fd, report.data(), report.size(), &error);
      lock.lock();
      shared->busy = false;
      shared->result = result;
      shared->error = std::move(error);
      shared->finished = true;
      shared->changed.notify_all();
    }
    ::close(shared->fd);
  });
}

HidrawWriter::~HidrawWriter() {
  if (!thread_.joinable()) return;
  bool stuck;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stop = true;
    stuck = shared_->busy || shared_->requested;
  }
  shared_->changed.notify_all();
  // An idle thread ends at once; one stuck in the kernel owns what it uses.
  if (stuck) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

int HidrawWriter::write(const uint8_t* data, size_t length, std::string* error, bool straight) {
  if (data == nullptr || length == 0) return fail(error, "write of an empty report");
  if (!thread_.joinable()) return fail(error, "write on a device that is not open");
  std::unique_lock<std::mutex> lock(shared_->mutex);
  if (shared_->busy || shared_->requested) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - shared_->busy_since).count();
    return fail(error, "write: the device takes no output report (the previous one is still waiting after " +
                           std::to_string(ms) + " ms)");
  }
  if (straight) {
    // The thread is idle and stays so: nothing else hands it work.
    lock.unlock();
    return hidraw_write_report(shared_->fd, data, length, error);
  }
  shared_->report.assign(data, data + length);
  shared_->requested = true;
  shared_->finished = false;
  shared_->busy_since = Clock::now();
  shared_->changed.notify_all();
  if (!shared_->changed.wait_for(lock, std::chrono::milliseconds(budget_ms_), [&] { return shared_->finished; })) {
    return fail(error, "write: the device takes no output report (nothing taken in " + std::to_string(budget_ms_) +
                           " ms)");
  }
  shared_->finished = false;
  if (shared_->result < 0 && error != nullptr) *error = shared_->error;
  return shared_->result;
}

}  // namespace torvane
