// What the station window shows of a running station, gathered from the
// station's threads and handed to the UI thread in batches. Every observer
// call only updates the latest state of its unit's row under a mutex and
// marks the row changed; the window drains the changes on a timer, so a
// hundred progress steps of one device between two repaints cost one row
// update, and the UI thread's work is bounded by the repaint rate and the
// number of rows, never by the number of events. Qt-free.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "station/station_observer.h"

namespace torvane {

using StationClock = std::chrono::steady_clock;

// One row of the window's table: the unit plugged into one port.
struct StationRow {
  uint64_t unit = 0;
  std::string port;
  std::string slot;            // the job's name for the port; empty without a slot map
  std::string path;
  std::string serial;
  DeviceState kind = DS_NONE;
  std::string info;            // the bootloader's info text, when it answered
  UnitState state = UnitState::kIdle;
  std::string detail;
  std::string serial_number;   // the job's serial number the unit received; empty: none
  bool serial_number_kept = false;  // that number stays used by this unit (not given to the next)
  bool has_result = false;     // a flash ended; result holds its DownloadResult
  bool boot_update = false;    // that flash sent the boot update files
  int result = 0;
  int percent = -1;            // -1: no transfer yet
  double bytes_per_second = 0;
  StationClock::time_point flash_started{};
  double duration_s = -1;      // of the finished flash; -1 while none finished
  bool left = false;           // the device is off the bus
  bool left_while_busy = false;  // it left while being flashed or sent into its bootloader
  StationClock::time_point left_at{};
  // The table's own: the operator has seen this failure; and a failed row
  // the table keeps after the station let it go, until it is acknowledged.
  bool acknowledged = false;
  bool held = false;
};

// A failed row the operator has not acknowledged yet (a cancel is the
// operator's own doing and needs none).
bool AwaitsAcknowledgement(const StationRow& row);

// Running, entering the bootloader or waiting for it: the unit is being worked on.
bool IsBusyState(UnitState state);

struct StationBatch {
  std::vector<StationRow> changed;   // rows new or changed since the last drain
  std::vector<std::string> removed;  // ports whose rows are gone
  bool counters_changed = false;
  StationCounters counters;
  std::vector<std::string> record_lines;  // finished flashes since the last drain, oldest first (readable)
  std::vector<std::string> messages;      // station messages since the last drain
  std::vector<std::string> record_json;   // the same flashes' record lines (JSON), oldest first
  int failures = 0;                       // of those, the failed ones (cancels excluded)
};

class StationFeed final : public StationObserver {
 public:
  // A row goes when its device has been off the bus for `leave_grace`, so
  // a device restarting into its new firmware keeps its row; a failed
  // unit's row stays `failed_grace`, so a unit pulled mid-flash is seen.
  // A row whose unit is being worked on stays (its result is still to come).
  explicit StationFeed(std::chrono::milliseconds leave_grace = std::chrono::milliseconds(1500),
                       std::chrono::milliseconds failed_grace = std::chrono::seconds(10))
      : leave_grace_(leave_grace), failed_grace_(failed_grace) {}

  void OnUnitAppeared(const UnitView& unit) override;
  void OnUnitState(const UnitView& unit, UnitState state, const std::string& detail) override;
  void OnUnitProgress(const UnitProgress& progress) override;
  void OnUnitFinished(const UnitView& unit, const UnitResult& result) override;
  void OnCounters(const StationCounters& counters) override;
  void OnStationMessage(const std::string& text) override;
  void OnUnitInfo(const UnitView& unit, const std::string& info_text) override;

  // UI thread: everything that changed since the last call.
  StationBatch Drain(StationClock::time_point now = StationClock::now());

  // Observer calls received so far (a figure for the benchmark).
  uint64_t EventsReceived() const;

 private:
  StationRow& RowOf(const UnitView& unit);
  void Touch(const std::string& port) { dirty_.insert(port); }

  const std::chrono::milliseconds leave_grace_;
  const std::chrono::milliseconds failed_grace_;
  mutable std::mutex mutex_;
  std::map<std::string, StationRow> rows_;  // by port
  std::map<uint64_t, std::string> port_of_unit_;
  std::set<std::string> dirty_;
  StationCounters counters_;
  bool counters_changed_ = false;
  std::vector<std::string> record_lines_;
  std::vector<std::string> messages_;
  std::vector<std::string> record_json_;
  int failures_ = 0;
  uint64_t events_ = 0;
};

}  // namespace torvane
