// The production station: watches hot-plug, keeps one session per attached
// unit (keyed by its port path, or its hidraw path when the port is unknown),
// and flashes every bootloader that appears on a worker thread of its own
// with its own handle, by the single-device rules: the same prepared image
// shared read-only, the checksum scheme by kind, the boot update files for
// an old bootloader or an advised update, and the transfer engine's busy,
// retry and cancel rules.
//
// Every unit the station takes ends with exactly one final outcome, passed
// or failed, decided in one place that writes its record line and counts
// it; nothing keeps the station waiting on a unit that can no longer change:
// - an application sent into its bootloader has `boot_wait` to come back as
//   a bootloader on its port, else it fails ("enter-boot-failed"); a refused
//   or unanswerable ENTER_BOOT fails it at once (a silent application may
//   have reset at once, so it gets the wait);
// - a failed flash with attempts left waits for the unit's return; gone for
//   longer than `forget_after`, or the station stopping, ends it failed;
// - a stop lets units already sent into their bootloader finish (flashed
//   when they arrive within their wait); a cancel ends them failed.
//
// Re-plug rules. A unit that leaves within `restart_window` of its outcome
// restarted by itself, and so did one that passed and left during its flash
// (a good flash restarts it, often before its worker is done); any other
// departure, and any departure after a flash that failed before its last
// byte was acknowledged, is the operator unplugging it (or the unit dying
// mid-flash). What comes back on the port:
// - after a pass: its application is as it should be; a bootloader after an
//   unplug is a new unit; a bootloader after its own restart, without its
//   application in between, gets `forget_after` to start its application
//   and is then recorded failed ("no-application"), not flashed again;
// - after a failure with attempts left: the next attempt (a unit without a
//   serial number cannot be told from a newcomer), unless another serial
//   number shows or it was away longer than `forget_after`;
// - after a final failure: the same unit (no attempts left) when it
//   restarted by itself or shows the same serial number; after an unplug
//   any other device, a serial-less one included, is a new unit;
// - a unit away longer than `forget_after`, or another serial number of the
//   same kind, is a new unit.
// An interface whose port cannot be read is watched for `portless_settle`
// before it is taken for a unit: one gone by then was a departing interface
// (its port is the first thing to go), not a unit. Ports come from listings
// the bus agreed to twice (ListAttachedInterfacesSettled).
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

// job/production_job.h; declared only, so hosts that never run a job need
// not see its model.
struct ProductionJob;

struct StationConfig {
  Settings settings;
  std::string image_path;
  std::string boot_update_image;   // absolute paths
  std::string boot_update_header;
  bool enter_boot = false;         // send application devices into their bootloader
  int count = 0;                   // done after this many final outcomes; 0 = no limit
  int attempts = 1;                // flashes per unit, the first included
  std::string record_path;         // empty: no record file
  LoadAddressChoice load_address;  // as flash's --address
  // Longest wait of Stop for the workers; a worker still in an exchange then
  // is left to end by itself (it owns what it touches).
  std::chrono::milliseconds stop_deadline{5000};
  std::chrono::milliseconds forget_after{3000};
  std::chrono::milliseconds boot_wait{5000};       // an application's return as a bootloader
  std::chrono::milliseconds restart_window{1000};  // a departure this soon after an outcome is a restart
  std::chrono::milliseconds portless_settle{300};  // a port-less interface is a unit once it stayed this long
  // Pause after a busy answer (tests shorten it); null: the engine's own.
  std::function<void(int milliseconds)> busy_sleep;
  // The production job run, or null. Its slot map (when not empty) limits
  // the station to the ports it names; its SHA-256 pins the prepared image;
  // its serial plan gives each unit its own serial number, written into the
  // unit's copy of the image (see unit_flash.h). The fields above are what
  // the station runs by: the host fills them from the job.
  std::shared_ptr<const ProductionJob> job;
};

enum class StationStartError {
  kNone,
  kImage,
  kRecord,
  kPinnedImage,  // the prepared image's SHA-256 is not the job's
  kSerials,      // the job's serials: not inside the image, no count, the
                 // journal unusable, or fewer left than the count
};

class StationCore {
 public:
  explicit StationCore(StationConfig config);
  ~StationCore();  // Stop()
  StationCore(const StationCore&) = delete;
  StationCore& operator=(const StationCore&) = delete;

  // Prepares the image, checks it against the job (its SHA-256, where its
  // serial goes), opens the serial journal (refused with fewer serials left
  // than `count`) and the record file; when one fails nothing is started
  // and *why says which (message in *error). Then starts the
  // watcher and the hot-plug source and looks at what is attached already.
  // The HID layer must be up.
  bool Start(StationObserver* observer, std::unique_ptr<HotplugSource> source, std::string* error,
             StationStartError* why);

  // No new unit is started; running ones go on, and a unit sent into its
  // bootloader is flashed when it comes back within its wait. A unit waiting
  // for another attempt ends failed. Idempotent.
  void RequestStop();
  // RequestStop, and cancels every running transfer between two frames; a
  // unit waiting for its bootloader ends failed.
  void CancelAll();
  // True once the station is done: `count` units have a final outcome, or a
  // stop was requested and every unit taken has one. Waits at most
  // `timeout` for it.
  bool WaitUntilDone(std::chrono::milliseconds timeout);
  // Stops watching, cancels what still runs and waits at most stop_deadline
  // for the workers; a unit still waiting ends failed with its record. True
  // when every thread ended; false when one was left.
  bool Stop();

  StationCounters Counters() const;
  // A record line could not be written (the station then stopped taking units).
  bool RecordFailed() const;
  // The serial journal could not be written or had no serial left (the
  // station then stopped taking units).
  bool SerialJournalFailed() const;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<HotplugSource> hotplug_;
  bool stopped_ = false;
  bool abandoned_ = false;
};

}  // namespace torvane
