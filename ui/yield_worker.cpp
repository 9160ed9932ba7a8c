#include "ui/yield_worker.h"

namespace torvane {

YieldWorker::YieldWorker() : thread_([this] { Run(); }) {}

YieldWorker::~YieldWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void YieldWorker::Submit(std::string lines) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = std::move(lines);
    pending_generation_ = ++generation_;
  }
  wake_.notify_all();
}

void YieldWorker::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  reset_generation_ = ++generation_;
  pending_.reset();
  ready_.reset();
}

bool YieldWorker::Take(YieldReport* report) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ready_) return false;
  *report = std::move(*ready_);
  ready_.reset();
  return true;
}

void YieldWorker::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
    if (stop_) return;
    const std::string lines = std::move(*pending_);
    const uint64_t generation = pending_generation_;
    pending_.reset();
    lock.unlock();
    YieldReport report = BuildYieldReport({{"run", lines}}, {});
    lock.lock();
    // A report of lines from before a reset, or older than one already
    // there, is dropped.
    if (generation > reset_generation_ && (!ready_ || generation > ready_generation_)) {
      ready_ = std::move(report);
      ready_generation_ = generation;
    }
  }
}

}  // namespace torvane
