// The process-wide HID context behind the hid_link_* functions. Exposed for
// the device layer's own files and for tests that check the lifecycle.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "device/hid_backend.h"
#include "device/hid_link.h"
#include "device/report_descriptor.h"

namespace torvane {

struct HidLink {
  // The platform library is up (its backend initialised).
  std::atomic<bool> entry_points_loaded{false};
  // list_lock exists; every list and open operation returns null otherwise.
  std::atomic<bool> lock_initialised{false};
  // Cached list of all present interfaces; null until built. Guarded by list_lock.
  HidDeviceInfo* device_list = nullptr;
  // Re-entrant: hid_link_open holds it while hid_link_find takes it again.
  std::unique_ptr<std::recursive_mutex> list_lock;
  // Why the last hid_link_init found the library unusable; empty otherwise.
  // Written and read on the thread that runs init and exit.
  std::string init_error;
};

HidLink& hid_link_context();

// The backend chosen at hid_link_init, or null before init, after exit and
// when the library could not be initialised.
std::shared_ptr<HidBackend> hid_link_backend();

// Opens `path` for the collection listed with `usage` (nullopt: by path
// alone, see hid_link_open_path).
HidDevice* hid_link_open_collection(const std::string& path, std::optional<HidUsagePair> usage);

// Records the reason of a failed open for hid_link_last_open_error (this
// thread only); an empty text clears it.
void hid_link_set_last_open_error(std::string reason);

}  // namespace torvane
