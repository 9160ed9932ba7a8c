// The production station: watches hot-plug, keeps one session per attached
// unit (keyed by its port path, or its hidraw path when the port is unknown,
// and its serial number), and flashes every bootloader that appears on a
// worker thread of its own with its own handle, by the single-device rules:
// the same prepared image shared read-only, the checksum scheme by kind, the
// boot update files for an old bootloader or an advised update, and the
// transfer engine's busy, retry and cancel rules. Every finished flash is
// recorded. Qt-free; the command line hosts it, a window can host the same.
//
// Re-flash rules: a unit that was flashed is not flashed again while it
// stays. A bootloader that appears on a port whose unit passed was
// re-plugged (a good flash restarts into the application) and is flashed as
// a new unit. A unit that comes back as a bootloader after a failure is
// tried again while it has attempts left. A unit away for longer than
// `forget_after`, or one with another serial number on the same port, is a
// new unit.
//
// Threads: Start, RequestStop, CancelAll, WaitUntilDone, Stop, Counters and
// the destructor may be called from any one host thread; RequestStop and
// CancelAll also from an observer callback. See station_observer.h for the
// calls the station makes.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "download/load_address.h"
#include "monitor/hotplug_source.h"
#include "settings/settings_model.h"
#include "station/station_observer.h"

namespace torvane {

struct StationConfig {
  Settings settings;
  std::string image_path;
  std::string boot_update_image;   // absolute paths
  std::string boot_update_header;
  bool enter_boot = false;         // send application devices into their bootloader
  int count = 0;                   // stop after this many units; 0 = no limit
  int attempts = 1;                // flashes per unit, the first included
  std::string record_path;         // empty: no record file
  LoadAddressChoice load_address;  // as flash's --address
  // Longest wait of Stop for the workers; a worker still in an exchange then
  // is left to end by itself (it owns what it touches).
  std::chrono::milliseconds stop_deadline{5000};
  std::chrono::milliseconds forget_after{3000};
  // Pause after a busy answer (tests shorten it); null: the engine's own.
  std::function<void(int milliseconds)> busy_sleep;
};

enum class StationStartError { kNone, kImage, kRecord };

class StationCore {
 public:
  explicit StationCore(StationConfig config);
  ~StationCore();  // Stop()
  StationCore(const StationCore&) = delete;
  StationCore& operator=(const StationCore&) = delete;

  // Prepares the image and opens the record file; when either fails nothing
  // is started and *why says which (message in *error). Then starts the
  // watcher and the hot-plug source and looks at what is attached already.
  // The HID layer must be up.
  bool Start(StationObserver* observer, std::unique_ptr<HotplugSource> source, std::string* error,
             StationStartError* why);

  // No new unit is started; running ones go on. Idempotent.
  void RequestStop();
  // Cancels every running transfer between two frames (and stops new ones).
  void CancelAll();
  // True once the station is done: `count` units finished, or a stop was
  // requested and no unit is active. Waits at most `timeout` for it.
  bool WaitUntilDone(std::chrono::milliseconds timeout);
  // Stops watching, cancels what still runs and waits at most stop_deadline
  // for the workers. True when every thread ended; false when one was left.
  bool Stop();

  StationCounters Counters() const;
  // A record line could not be written (the station then stopped taking units).
  bool RecordFailed() const;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<HotplugSource> hotplug_;
  bool stopped_ = false;
  bool abandoned_ = false;
};

}  // namespace torvane
