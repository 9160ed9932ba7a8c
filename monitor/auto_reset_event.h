// An auto-reset event: set() wakes one waiter (or the next one to wait) and
// the event resets itself when a wait consumes it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace torvane {

class AutoResetEvent {
 public:
  void set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }

  // True when the event was set (and is now reset), false on time-out.
  bool wait_for(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
    signalled_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace torvane
