// A front end without a window system: posted messages go into a queue that
// the owning thread drains, one at a time and in order, standing in for a
// window's message loop. The command-line tool and the tests use it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "monitor/device_controller.h"
#include "monitor/front_end.h"

namespace torvane {

class QueuedFrontEnd : public FrontEnd {
 public:
  // The controller whose handlers receive WM_ENUM_DONE and device changes.
  void SetController(DeviceController* controller) { controller_ = controller; }

  void PostLog(const std::string& text) override {
    Post([this, text] { AppendLog(text, false); });
  }
  void PostDownloadProgress(int kind, int value) override {
    Post([this, kind, value] { OnDownloadProgress(kind, value); });
  }
  void PostDownloadFailureReason(const std::string& reason) override {
    Post([this, reason] { OnDownloadFailureReason(reason); });
  }
  void PostEnumDone() override {
    Post([this] {
      ++enum_done_count_;
      if (controller_ != nullptr) controller_->OnEnumDone();
    });
  }
  void PostDeviceChange(unsigned event) override {
    Post([this, event] {
      if (controller_ != nullptr) controller_->OnDeviceChange(event);
    });
  }

  void PostPermissionDenied(const std::string& reason) override {
    Post([this, reason] { OnPermissionDenied(reason); });
  }
  virtual void OnPermissionDenied(const std::string& reason) { (void)reason; }

  virtual void OnDownloadFailureReason(const std::string& reason) { (void)reason; }

  // WM_DOWNLOAD_PROGRESS, on the draining thread.
  virtual void OnDownloadProgress(int kind, int value) = 0;

  // Runs queued messages until pred() holds or the time is up; true when
  // pred() held. pred is checked before and after every message.
  bool ProcessUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (pred()) return true;
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) return pred();
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
  }

  // Runs every message that arrives within the given quiet period.
  void ProcessFor(std::chrono::milliseconds period) {
    ProcessUntil([] { return false; }, period);
  }

  int EnumDoneCount() const { return enum_done_count_; }

 protected:
  void Post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(task));
    }
    cv_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  DeviceController* controller_ = nullptr;
  int enum_done_count_ = 0;
};

}  // namespace torvane
