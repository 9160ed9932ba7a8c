// The end of a worker thread as its owner sees it. The thread calls
// MarkFinished() as its last act; the owner's JoinOrDetach() joins it when
// that happens within the deadline and otherwise detaches it, so a stop
// never waits unbounded. A detached thread must co-own everything it
// touches, this object included (keep it in the state shared with the
// thread).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace torvane {

class ThreadFinish {
 public:
  // Before the thread is started.
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = false;
  }

  // On the thread, as its last act.
  void MarkFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    cv_.notify_all();
  }

  // Joins `thread` once it has finished, waiting at most `timeout`; a
  // thread that has not finished by then is detached. True when joined.
  bool JoinOrDetach(std::thread& thread, std::chrono::milliseconds timeout) {
    bool ended;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ended = cv_.wait_for(lock, timeout, [this] { return finished_; });
    }
    if (ended) {
      thread.join();
    } else {
      thread.detach();
    }
    return ended;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool finished_ = false;
};

}  // namespace torvane
