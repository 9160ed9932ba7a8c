// The run's yield report, rebuilt from its record lines on a thread of its
// own: a long shift's lines take tens of milliseconds to read, which the
// window's thread should not spend on each finished unit.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "station/yield_report.h"

namespace torvane {

class YieldWorker {
 public:
  YieldWorker();
  ~YieldWorker();  // waits for the report being built, if any
  YieldWorker(const YieldWorker&) = delete;
  YieldWorker& operator=(const YieldWorker&) = delete;

  // The lines so far (JSON, one a line); a text not yet taken up is replaced.
  void Submit(std::string lines);
  // Forgets what was submitted: a report of it is never taken.
  void Reset();
  // True with *report set when a report newer than the last one taken is there.
  bool Take(YieldReport* report);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  uint64_t generation_ = 0;       // of the latest Submit or Reset
  uint64_t reset_generation_ = 0;
  std::optional<std::string> pending_;
  uint64_t pending_generation_ = 0;
  std::optional<YieldReport> ready_;
  uint64_t ready_generation_ = 0;
  std::thread thread_;            // last: starts once the rest is there
};

}  // namespace torvane
