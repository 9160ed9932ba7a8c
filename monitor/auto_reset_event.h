// An auto-reset event: set() wakes one waiter (or the next one to wait) and
// the event resets itself when a wait consumes it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
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

// Lowers a request counter by one, only when it is non-zero (the workers'
// side of the request-counter handshake).
inline void LowerRequestCounter(std::atomic<int32_t>& counter) {
  int32_t value = counter.load();
  while (value != 0 && !counter.compare_exchange_weak(value, value - 1)) {
  }
}

}  // namespace torvane
