// One flash of one unit, on the worker thread that owns it: open the
// interface by its identity's usage, ask its info, pick the image or the
// boot update files, run the transfer, and fill the unit's record and
// result. Knows nothing of sessions, counts or the record file.
//
// With a serial journal, a unit given the image (not the boot update files,
// which have no place for a serial) reserves its serial just before its
// transfer, on disk before the device sees a byte, and gets its own copy of
// the image with the serial written in; its record's size and digests are of
// that copy. The serial is committed when the unit passed, and also when it
// failed on its last block (the device may hold the serial); otherwise it is
// released for the next unit. A journal that cannot be
// written fails the unit.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "station/attached_interfaces.h"
#include "station/prepared_image_cache.h"
#include "station/station_core.h"
#include "station/unit_record.h"

namespace torvane {

class SerialJournal;

struct UnitFlashContext {
  const StationConfig* config = nullptr;
  PreparedImageCache* images = nullptr;
  const std::atomic<int32_t>* cancel = nullptr;
  const std::atomic<int32_t>* stop = nullptr;
  std::function<void(const std::string& info_text)> on_info;
  std::function<void(const UnitProgress& progress)> on_progress;
  // Null: no serial numbers. Else where each unit's serial goes in the
  // prepared image's buffer, and who hears that the journal failed (the
  // station takes no further unit).
  SerialJournal* journal = nullptr;
  uint32_t serial_offset = 0;
  std::function<void(const std::string& error)> on_journal_failure;
};

// Flashes `target` as unit `view`. `event_time` dates the arrival, for the
// arrival-to-start figure. Fills every field of *record but unit and final,
// and *result but recorded and record_line.
void FlashUnit(const UnitFlashContext& context, const UnitView& view, const AttachedInterface& target,
               std::chrono::steady_clock::time_point event_time, UnitRecord* record, UnitResult* result);

}  // namespace torvane
