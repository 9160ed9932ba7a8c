// How torvane-cli shows a running station. On a terminal: one line per unit
// (port, kind, bar, percent, rate, state), redrawn in place, and a summary
// line (passed, failed, units per hour). Otherwise one plain line per event
// (progress every 10 percent), for logs.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "station/station_observer.h"

namespace torvane::cli {

class StationDisplay final : public StationObserver {
 public:
  StationDisplay(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

  void OnUnitAppeared(const UnitView& unit) override;
  void OnUnitState(const UnitView& unit, UnitState state, const std::string& detail) override;
  void OnUnitProgress(const UnitProgress& progress) override;
  void OnUnitFinished(const UnitView& unit, const UnitResult& result) override;
  void OnCounters(const StationCounters& counters) override;
  void OnStationMessage(const std::string& text) override;

  // A message of the host's own, kept clear of the redrawn lines. Any
  // thread: the display has a lock of its own, as the host's thread and the
  // station's threads both write.
  void Say(const std::string& text);

 private:
  struct Row {
    UnitView unit;
    UnitState state = UnitState::kIdle;
    std::string detail;
    int percent = -1;
    double rate = 0;
  };
  // The unit lines and the summary, in place of the previous ones.
  void Redraw(bool force);
  std::string RowText(const Row& row) const;
  std::string SummaryText() const;
  void Plain(const std::string& line);
  void SayLocked(const std::string& text);
  // Progress: false when the text did not get through whole.
  bool Write(const std::string& text);
  // A result line: arrives whole, waiting for a slow reader.
  void Result(const std::string& text);

  std::mutex mutex_;
  std::FILE* out_;
  bool terminal_;
  std::map<uint64_t, Row> rows_;
  StationCounters counters_;
  int lines_drawn_ = 0;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace torvane::cli
