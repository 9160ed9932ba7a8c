#include "monitor/stream_output.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/stream_write.h"

namespace torvane {

namespace {

std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
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
      failed = platform::WriteWaiting(item.fd, item.text);
    } else {
      std::lock_guard<std::mutex> lock(WriteMutex());
      platform::WriteNowOrDrop(item.fd, item.text);
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
  return platform::WriteNowOrDrop(fd, text);
}

void IgnoreBrokenPipes() { platform::IgnoreBrokenPipes(); }

}  // namespace torvane
