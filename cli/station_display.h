// How torvane-cli shows a running station. On a terminal: one line per unit
// (port, kind, bar, percent, rate, state), redrawn in place, and a summary
// line (passed, failed, units flashing now, units per hour once it means
// something). Each line is cut to the terminal's width, so the redraw holds
// on a narrow terminal; with more units than rows the units at work and
// those finished last are shown. Otherwise one plain line per event
// (progress every 10 percent), for logs.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <cstdint>
#include <string>

#include "station/station_observer.h"

namespace torvane::cli {

// A terminal's size in characters; 0 where unknown.
struct TerminalSize {
  int columns = 0;
  int rows = 0;
};

class StationDisplay final : public StationObserver {
 public:
  // `size`: the terminal's; left 0, it is asked for at each redraw.
  StationDisplay(std::FILE* out, bool terminal, TerminalSize size = {})
      : out_(out), terminal_(terminal), fixed_size_(size) {}

  // The units to finish; the summary then shows "17 / 100". Before Start.
  void SetCount(int count) { count_ = count; }

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
    uint64_t finished_order = 0;  // when it last finished (0: not yet)
  };
  // The unit lines and the summary, in place of the previous ones.
  void Redraw(bool force);
  std::string RowText(const Row& row) const;
  std::string SummaryText() const;
  TerminalSize Size() const;
  void Plain(const std::string& line);
  void SayLocked(const std::string& text);
  // Progress: false when the text did not get through whole.
  bool Write(const std::string& text);
  // A result line: arrives whole, waiting for a slow reader.
  void Result(const std::string& text);

  std::mutex mutex_;
  std::FILE* out_;
  bool terminal_;
  const TerminalSize fixed_size_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  uint64_t finishes_ = 0;
  int count_ = 0;
  std::map<uint64_t, Row> rows_;
  StationCounters counters_;
  int lines_drawn_ = 0;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace torvane::cli
