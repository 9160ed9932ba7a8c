// One flash of one unit, on the worker thread that owns it: open the
// interface by its identity's usage, ask its info, pick the image or the
// boot update files, run the transfer, and fill the unit's record and
// result. Knows nothing of sessions, counts or the record file.
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

struct UnitFlashContext {
  const StationConfig* config = nullptr;
  PreparedImageCache* images = nullptr;
  const std::atomic<int32_t>* cancel = nullptr;
  const std::atomic<int32_t>* stop = nullptr;
  std::function<void(const std::string& info_text)> on_info;
  std::function<void(const UnitProgress& progress)> on_progress;
};

// Flashes `target` as unit `view`. `event_time` dates the arrival, for the
// arrival-to-start figure. Fills every field of *record but unit and final,
// and *result but recorded and record_line.
void FlashUnit(const UnitFlashContext& context, const UnitView& view, const AttachedInterface& target,
               std::chrono::steady_clock::time_point event_time, UnitRecord* record, UnitResult* result);

}  // namespace torvane
