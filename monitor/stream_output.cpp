#include "monitor/stream_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace torvane {

namespace {

std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

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

// Writes `text` through the non-blocking description; false when not all
// of it went (EAGAIN: full, EPIPE: reader gone, ...). Under WriteMutex.
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

// Writes all of `text` through the stream's own description, waiting for
// room; 0, or the errno that ended it.
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

// Text waiting for its stream behind a result line, and the thread writing
// it; the thread runs while text waits and ends when none is left. Other
// text queued behind a result keeps its place and is still written without
// waiting (dropped if the stream is full then); beyond kMaxDroppable bytes
// of it waiting, more is dropped at once.
constexpr size_t kMaxDroppable = 64 * 1024;

struct Queued {
  int fd;
  std::string text;
  bool result;
};

struct OutputQueue {
  std::mutex mutex;
  std::condition_variable idle;
  std::deque<Queued> queue;
  std::map<int, int> pending;  // by descriptor: queued or being written
  size_t droppable_bytes = 0;
  std::thread writer;
  bool writing = false;
  int error = 0;

  // The write lock is made first, so it outlives the queue's last flush.
  OutputQueue() { WriteMutex(); }
  ~OutputQueue() { Flush(); }
  bool Flush() {
    std::unique_lock<std::mutex> lock(mutex);
    idle.wait(lock, [this] { return !writing; });
    if (writer.joinable()) writer.join();
    return error == 0;
  }
  void Push(Queued item);  // under mutex
  void WriteQueued();
};

OutputQueue& Output() {
  static OutputQueue queue;
  return queue;
}

void OutputQueue::Push(Queued item) {
  ++pending[item.fd];
  if (!item.result) droppable_bytes += item.text.size();
  queue.push_back(std::move(item));
  if (writing) return;
  // The last writer has left its loop (writing was cleared as its last act).
  if (writer.joinable()) writer.join();
  writing = true;
  writer = std::thread([this] { WriteQueued(); });
}

void OutputQueue::WriteQueued() {
  for (;;) {
    Queued item;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (queue.empty()) {
        writing = false;
        idle.notify_all();
        return;
      }
      item = std::move(queue.front());
      queue.pop_front();
    }
    int failed = 0;
    if (item.result) {
      // A text being written directly when this one was queued ends first;
      // later ones queue behind it.
      { std::lock_guard<std::mutex> barrier(WriteMutex()); }
      failed = WriteWaiting(item.fd, item.text);
    } else {
      std::lock_guard<std::mutex> lock(WriteMutex());
      WriteNowOrDrop(item.fd, item.text);
    }
    std::lock_guard<std::mutex> lock(mutex);
    --pending[item.fd];
    if (!item.result) droppable_bytes -= item.text.size();
    if (failed != 0 && error == 0) error = failed;
  }
}

}  // namespace

void WriteResult(int fd, std::string text) {
  OutputQueue& q = Output();
  std::lock_guard<std::mutex> lock(q.mutex);
  q.Push({fd, std::move(text), true});
}

bool FlushResults() { return Output().Flush(); }

int ResultWriteError() {
  OutputQueue& q = Output();
  std::lock_guard<std::mutex> lock(q.mutex);
  return q.error;
}

bool WriteWithoutBlocking(int fd, std::string_view text) {
  std::lock_guard<std::mutex> lock(WriteMutex());
  {
    // Behind a waiting result line: queued in order, or dropped when much
    // is queued already.
    OutputQueue& q = Output();
    std::lock_guard<std::mutex> queue_lock(q.mutex);
    const auto it = q.pending.find(fd);
    if (it != q.pending.end() && it->second > 0) {
      if (q.droppable_bytes + text.size() > kMaxDroppable) return false;
      q.Push({fd, std::string(text), false});
      return true;
    }
  }
  return WriteNowOrDrop(fd, text);
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace torvane
