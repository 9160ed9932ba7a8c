// What a station window is opened with, by the main window or by
// `torvane --station`, whatever toolkit draws it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "monitor/hotplug_source.h"
#include "settings/settings_model.h"

namespace torvane {

struct StationWindowSetup {
  Settings settings;          // as read from the settings file
  std::string settings_path;  // the settings file (the record file's default lives beside it)
  std::string image_path;     // the image to flash
  // A fresh hot-plug source for each start (the system's, or the simulated bus).
  std::function<std::unique_ptr<HotplugSource>()> make_hotplug_source;
};

// True once a station window had to leave a worker behind at its end (stuck
// in an exchange past the stop deadline): the HID layer must then stay up
// until the process ends.
bool AnyStationWorkerAbandoned();
void NoteStationWorkerAbandoned();

}  // namespace torvane
