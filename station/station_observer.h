// What the station tells its host (the command line's display, a window):
// units appearing, changing state, making progress and finishing, and the
// running totals.
//
// Threads: the station calls its observer from its own threads (the
// watcher and one worker per unit), never two calls at once: every call is
// made under one station-wide lock, so an observer needs no lock of its own
// for state only these calls touch, and the calls about one unit arrive in
// the order they happened. A call must return quickly (a window posts the
// event to its UI thread and returns) and must not call StationCore::Stop or
// the destructor (they wait for the threads that make the calls);
// RequestStop and CancelAll may be called from a callback. No call is made
// once Stop has returned.
#pragma once

#include <cstdint>
#include <string>

#include "download/download_result.h"
#include "monitor/device_state.h"

namespace torvane {

enum class UnitState {
  kIdle,          // attached, nothing to do (an application without --enter-boot, or done)
  kEnteringBoot,  // the application is being sent into its bootloader
  kWaitingBoot,   // sent; waiting for the bootloader to appear on the same port
  kFlashing,      // the transfer runs
  kPassed,        // flashed, the device acknowledged every byte
  kFailed,        // the flash or the enter-boot command failed
  kGone,          // left the bus
  kSkipped,       // its port is not in the job's slot map: never flashed, never counted
};

// A short English name of the state ("flashing"), for plain output.
const char* UnitStateName(UnitState state);

// One unit as the station knows it. `unit` numbers the station's units from
// 1; it stays with the port while the same unit is plugged there.
struct UnitView {
  uint64_t unit = 0;
  std::string port;    // port path, or the hidraw path when the port is unknown
  std::string path;    // hidraw path of its current interface
  std::string serial;  // UTF-8, may be empty
  DeviceState kind = DS_NONE;
  int attempt = 0;     // flashes started on this unit so far
  std::string slot{};  // the job's name for its port; empty without a slot map
};

struct UnitProgress {
  uint64_t unit = 0;
  int percent = 0;
  uint32_t bytes_acknowledged = 0;
  uint32_t total_bytes = 0;
  double bytes_per_second = 0;
  std::string serial_number;   // the job's serial number going into the unit; empty: none
};

struct UnitResult {
  int result = DL_OK;          // DownloadResult
  bool boot_update = false;    // the boot update files were sent instead of the image
  uint32_t bytes_acknowledged = 0;
  uint32_t total_bytes = 0;
  uint32_t busy_answers = 0;
  double duration_s = 0;
  double arrival_to_start_ms = -1;  // hot-plug event to start command; -1 when unknown
  bool final = true;           // the unit's final outcome; false: a failed flash with attempts left
  bool flashed = true;         // false: the unit ended without a flash (enter-boot failed, stopped, ...)
  std::string serial_number;   // the job's serial number written into the unit; empty: none
  bool serial_number_kept = false;  // used up by this unit (it passed, or may hold it); false: given back
  bool recorded = false;       // its record line is on disk (or no record was asked for)
  std::string record_line;     // the JSON line, also when no record file is kept
};

struct StationCounters {
  int passed = 0;
  int failed = 0;
  int active = 0;              // units being flashed or sent into their bootloader
  double units_per_hour = 0;   // finished units per hour since the start
};

class StationObserver {
 public:
  virtual ~StationObserver() = default;
  virtual void OnUnitAppeared(const UnitView& unit) { (void)unit; }
  // `detail` says more where there is more to say (why a unit failed or is
  // left alone); may be empty.
  virtual void OnUnitState(const UnitView& unit, UnitState state, const std::string& detail) {
    (void)unit, (void)state, (void)detail;
  }
  // After each block whose percentage differs from the last one told.
  virtual void OnUnitProgress(const UnitProgress& progress) { (void)progress; }
  // Once per record line, after it is on disk: every finished flash, and a
  // unit's end without one (it never came back, enter-boot failed, the
  // station stopped); followed by OnUnitState(kPassed or kFailed).
  virtual void OnUnitFinished(const UnitView& unit, const UnitResult& result) { (void)unit, (void)result; }
  // The info text a bootloader answered with, before its flash starts.
  virtual void OnUnitInfo(const UnitView& unit, const std::string& info_text) { (void)unit, (void)info_text; }
  virtual void OnCounters(const StationCounters& counters) { (void)counters; }
  // Something about the station as a whole (a record that could not be
  // written, a hot-plug source that would not start).
  virtual void OnStationMessage(const std::string& text) { (void)text; }
};

}  // namespace torvane
