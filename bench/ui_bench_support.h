// What the UI-thread benchmarks share. TickGaps: a 1 ms timer on the UI
// thread and the gaps between its ticks: the longest gap is how long the event loop was kept from turning. Beside it the UI
// thread's CPU time inside that gap and the most it spent inside any one
// gap: a long gap with little CPU time is the scheduler's doing, a gap full
// of CPU time is the tool's.
#pragma once

#include <time.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace torvane::bench {

inline constexpr int kTickIntervalMs = 1;

inline int64_t ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A 1 ms timer on the UI thread and the gaps between its ticks.
class TickGaps {
 public:
  TickGaps() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTickIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  }
  void Start() {
    clock_.start();
    last_ns_ = 0;
    last_cpu_ns_ = ThreadCpuNs();
    timer_.start();
  }
  // The time since the last tick counts as a gap too: a stall at the very
  // end must not go unseen.
  void Stop() {
    Tick();
    timer_.stop();
  }

  int64_t ticks() const { return static_cast<int64_t>(gaps_ns_.size()); }
  double LongestMs() const { return longest_ns_ * 1e-6; }
  double LongestCpuMs() const { return longest_cpu_ns_ * 1e-6; }
  double BusiestMs() const { return busiest_cpu_ns_ * 1e-6; }
  double LongestAtMs() const { return longest_at_ns_ * 1e-6; }
  double ElapsedMs() const { return last_ns_ * 1e-6; }
  int64_t GapsOver(int64_t ms) const {
    return std::count_if(gaps_ns_.begin(), gaps_ns_.end(), [ms](int64_t gap) { return gap > ms * 1000000; });
  }
  double PercentileMs(double p) const {
    if (gaps_ns_.empty()) return 0;
    std::vector<int64_t> sorted = gaps_ns_;
    const size_t at = std::min(sorted.size() - 1, static_cast<size_t>(p * static_cast<double>(sorted.size())));
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at), sorted.end());
    return sorted[at] * 1e-6;
  }

 private:
  void Tick() {
    const int64_t now = clock_.nsecsElapsed();
    const int64_t cpu = ThreadCpuNs();
    const int64_t gap = now - last_ns_;
    const int64_t gap_cpu = cpu - last_cpu_ns_;
    gaps_ns_.push_back(gap);
    if (gap > longest_ns_) {
      longest_ns_ = gap;
      longest_at_ns_ = last_ns_;
      longest_cpu_ns_ = gap_cpu;
    }
    busiest_cpu_ns_ = std::max(busiest_cpu_ns_, gap_cpu);
    last_ns_ = now;
    last_cpu_ns_ = cpu;
  }

  QTimer timer_;
  QElapsedTimer clock_;
  int64_t last_ns_ = 0;
  int64_t longest_ns_ = 0;
  int64_t longest_at_ns_ = 0;
  int64_t longest_cpu_ns_ = 0;  // UI thread CPU time inside the longest gap
  int64_t busiest_cpu_ns_ = 0;  // most UI thread CPU time inside one gap
  int64_t last_cpu_ns_ = 0;
  std::vector<int64_t> gaps_ns_;
};

// Runs the event loop until pred() holds (checked every 10 ms) or the time
// is up; returns pred().
inline bool RunEventLoopUntil(const std::function<bool()>& pred, int timeout_ms) {
  if (pred()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (pred()) loop.quit();
  });
  poll.start(10);
  QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
  loop.exec();
  return pred();
}

// The main function of a benchmark that needs widgets: a QApplication
// (offscreen unless a platform is chosen), then the registered benchmarks.
inline int RunQtBenchmarks(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace torvane::bench
