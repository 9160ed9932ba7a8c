#include "station/station_core.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "device/boot_protocol.h"
#include "device/hid_link.h"
#include "download/load_address.h"
#include "job/job_file.h"
#include "job/production_job.h"
#include "job/serial_journal.h"
#include "station/attached_interfaces.h"
#include "station/prepared_image_cache.h"
#include "station/record_file.h"
#include "station/unit_flash.h"
#include "station/unit_record.h"

namespace torvane {

using SteadyClock = std::chrono::steady_clock;

const char* UnitStateName(UnitState state) {
  switch (state) {
    case UnitState::kIdle: return "idle";
    case UnitState::kEnteringBoot: return "entering-boot";
    case UnitState::kWaitingBoot: return "waiting-boot";
    case UnitState::kFlashing: return "flashing";
    case UnitState::kPassed: return "passed";
    case UnitState::kFailed: return "failed";
    case UnitState::kGone: return "gone";
    case UnitState::kSkipped: return "skipped";
  }
  return "?";
}

namespace {

enum class Phase {
  kIdle,          // not taken: an application without --enter-boot, or no new units wanted
  kEnteringBoot,  // a worker sends ENTER_BOOT
  kWaitingBoot,   // sent; its bootloader is awaited until `deadline`
  kFlashing,      // a worker flashes it
  kAwaitRetry,    // its flash failed with attempts left: awaits its return
  kDone,          // final outcome recorded and counted
  kAwaitApp,      // passed, back in its bootloader by itself: its application is awaited until `deadline`
};

bool WorkerPhase(Phase p) { return p == Phase::kEnteringBoot || p == Phase::kFlashing; }
// A unit taken in one of these has no final outcome yet.
bool OpenPhase(Phase p) { return WorkerPhase(p) || p == Phase::kWaitingBoot || p == Phase::kAwaitRetry; }

enum class Outcome { kNone, kPassed, kFailed };

// One session: the unit plugged into one port. Replaced by a new one only
// while no worker runs for it.
struct UnitSession {
  UnitView view;
  Phase phase = Phase::kIdle;
  Outcome outcome = Outcome::kNone;  // once final
  bool taken = false;                // counts towards --count
  std::chrono::system_clock::time_point taken_at;
  bool present = false;
  AttachedInterface current;         // what the port shows (while present)
  SteadyClock::time_point event_time;
  bool arrival_pending = false;      // the port changed while a worker ran
  SteadyClock::time_point absent_since;
  SteadyClock::time_point finished_at;  // its last outcome (a worker's end)
  // Its last departure: during a worker's run, or soon after its outcome
  // (a restart rather than an unplug).
  bool left_during_worker = false;
  bool left_soon_after = false;
  bool app_seen = false;             // shown as its application since its last outcome
  SteadyClock::time_point deadline;  // kWaitingBoot, kAwaitApp
  UnitRecord last;                   // its last record line, for a closing one
  bool has_last = false;
};

struct Worker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

// A port-less interface not yet taken for a unit.
struct HeldInterface {
  AttachedInterface entry;
  SteadyClock::time_point since;
};

std::string Seconds(std::chrono::milliseconds ms) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g s", static_cast<double>(ms.count()) / 1000.0);
  return text;
}

}  // namespace

struct StationCore::Shared {
  explicit Shared(StationConfig c) : config(std::move(c)) {}

  const StationConfig config;
  PreparedImageCache images;
  RecordFile record;
  // The job's serials (set up by Start, before any worker): null without a
  // serial plan.
  std::unique_ptr<SerialJournal> journal;
  uint32_t serial_offset = 0;
  const SteadyClock::time_point started = SteadyClock::now();

  // The observer; every call is made under observer_mutex, and Detach ends them.
  std::mutex observer_mutex;
  StationObserver* observer = nullptr;
  template <typename F>
  void Tell(F&& call) {
    std::lock_guard<std::mutex> lock(observer_mutex);
    if (observer != nullptr) call(*observer);
  }
  void Detach() {
    std::lock_guard<std::mutex> lock(observer_mutex);
    observer = nullptr;
  }

  std::atomic<int32_t> cancel{0};     // cancels running transfers
  std::atomic<int32_t> shutdown{0};   // the transfer's stop flag
  std::atomic<bool> stopping{false};  // no new units
  std::atomic<bool> record_failed{false};
  std::atomic<bool> journal_failed{false};

  // Units, counters and the watcher's wake-up, under one lock (taken before
  // the observer's and the record file's).
  mutable std::mutex mutex;
  std::condition_variable changed;    // events, stops and finished workers
  std::map<std::string, UnitSession> units;
  uint64_t next_unit = 1;
  int started_units = 0;
  int passed = 0;
  int failed = 0;
  int active = 0;                     // workers running for units
  bool event_pending = true;          // look at what is attached at once
  SteadyClock::time_point last_event = SteadyClock::now();
  bool quit = false;

  std::mutex workers_mutex;
  std::vector<Worker> workers;

  StationCounters CountersLocked() const {
    StationCounters c;
    c.passed = passed;
    c.failed = failed;
    c.active = active;
    const double hours = std::chrono::duration<double>(SteadyClock::now() - started).count() / 3600.0;
    c.units_per_hour = hours > 0 ? (passed + failed) / hours : 0;
    return c;
  }
  bool DoneLocked() const {
    if (active > 0) return false;
    for (const auto& [key, u] : units) {
      if (u.taken && OpenPhase(u.phase)) return false;
    }
    const bool count_reached = config.count > 0 && passed + failed >= config.count;
    return count_reached || stopping.load();
  }
  bool MayStartNewUnitLocked() const {
    return !stopping.load() && (config.count <= 0 || started_units < config.count);
  }
};

namespace {

using Shared = StationCore::Shared;

void Launch(const std::shared_ptr<Shared>& shared, std::function<void()> body) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard<std::mutex> lock(shared->workers_mutex);
  shared->workers.push_back({std::thread([shared, done, body = std::move(body)] {
                               body();
                               std::lock_guard<std::mutex> state(shared->mutex);
                               done->store(true);
                               shared->changed.notify_all();
                             }),
                             done});
}

void ReapFinishedWorkers(Shared& shared) {
  std::vector<Worker> finished;
  {
    std::lock_guard<std::mutex> lock(shared.workers_mutex);
    auto split = std::stable_partition(shared.workers.begin(), shared.workers.end(),
                                       [](const Worker& w) { return !w.done->load(); });
    std::move(split, shared.workers.end(), std::back_inserter(finished));
    shared.workers.erase(split, shared.workers.end());
  }
  for (Worker& w : finished) w.thread.join();
}

// Appends a record line (when a record file is kept) and fills the result's
// line and whether it is on disk. A line that cannot be written stops the
// station: flashing on without a record would lose what the record is for.
void WriteRecord(Shared& shared, const UnitRecord& record, UnitResult* result) {
  result->record_line = UnitRecordLine(record);
  result->recorded = true;
  if (!shared.record.IsOpen()) return;
  std::string error;
  result->recorded = shared.record.Append(result->record_line, &error);
  if (!result->recorded) {
    shared.record_failed = true;
    shared.stopping = true;
    shared.Tell([&](StationObserver& o) { o.OnStationMessage("record not written, station stops: " + error); });
  }
}

// The one place a unit's final outcome is set and counted (under
// shared.mutex). A pass found wanting later (its application never started)
// moves from the passed count to the failed one.
void SetFinal(Shared& sh, UnitSession& u, bool passed) {
  if (u.outcome == Outcome::kPassed && !passed) --sh.passed;
  if (u.outcome == Outcome::kNone || (u.outcome == Outcome::kPassed && !passed)) ++(passed ? sh.passed : sh.failed);
  u.outcome = passed ? Outcome::kPassed : Outcome::kFailed;
  u.phase = Phase::kDone;
  const StationCounters counters = sh.CountersLocked();
  sh.Tell([&](StationObserver& o) { o.OnCounters(counters); });
  sh.changed.notify_all();
}

// A record of the unit as it stands, for a line without a flash.
UnitRecord RecordOf(const Shared& sh, const UnitSession& u) {
  UnitRecord r;
  if (u.has_last) {
    r = u.last;
  } else {
    r.port = u.view.port;
    r.path = u.view.path;
    r.serial = u.view.serial;
    r.vendor_id = u.current.vendor_id;
    r.product_id = u.current.product_id;
    r.kind = u.view.kind;
    r.image_path = sh.config.image_path;
  }
  r.slot = u.view.slot;
  r.unit = u.view.unit;
  r.attempt = u.view.attempt;
  // A line without a flash spans the unit's time with the station.
  r.start = u.has_last ? u.last.end : u.taken_at;
  r.end = std::chrono::system_clock::now();
  r.duration_s = std::chrono::duration<double>(r.end - r.start).count();
  return r;
}

// Ends a unit failed without a flash: its record line, its count, and what
// the observer is told (under shared.mutex).
void FailUnit(Shared& sh, UnitSession& u, int result, const std::string& name, const std::string& detail) {
  UnitRecord r = RecordOf(sh, u);
  r.result = result;
  r.result_name = name;
  r.detail = detail;
  r.final = true;
  UnitResult res;
  res.result = result;
  res.final = true;
  res.flashed = false;
  res.bytes_acknowledged = r.bytes_acknowledged;
  res.total_bytes = r.size;
  WriteRecord(sh, r, &res);
  u.last = r;
  u.has_last = true;
  SetFinal(sh, u, false);
  const UnitView v = u.view;
  sh.Tell([&](StationObserver& o) {
    o.OnUnitFinished(v, res);
    o.OnUnitState(v, UnitState::kFailed, detail);
  });
}

// A failed unit with attempts left that gets no further one.
void EndRetries(Shared& sh, UnitSession& u, const std::string& why) {
  FailUnit(sh, u, u.last.result, u.last.result_name, why + "; no attempt " + std::to_string(u.view.attempt + 1));
}

void FlashWorker(const std::shared_ptr<Shared>& shared, std::string key, UnitView view, AttachedInterface target,
                 SteadyClock::time_point event_time);
void EnterBootWorker(const std::shared_ptr<Shared>& shared, std::string key, AttachedInterface target);

void TellState(Shared& sh, const UnitSession& u, UnitState state, const std::string& detail) {
  const UnitView v = u.view;
  sh.Tell([&](StationObserver& o) { o.OnUnitState(v, state, detail); });
}

void StartFlash(const std::shared_ptr<Shared>& shared, const std::string& key, UnitSession& u) {
  u.phase = Phase::kFlashing;
  ++u.view.attempt;
  ++shared->active;
  TellState(*shared, u, UnitState::kFlashing, "");
  Launch(shared, [shared, key, v = u.view, t = u.current, when = u.event_time] {
    FlashWorker(shared, key, v, t, when);
  });
}

void StartEnterBoot(const std::shared_ptr<Shared>& shared, const std::string& key, UnitSession& u) {
  u.phase = Phase::kEnteringBoot;
  ++shared->active;
  TellState(*shared, u, UnitState::kEnteringBoot, "");
  Launch(shared, [shared, key, t = u.current] { EnterBootWorker(shared, key, t); });
}

// Why the job's slot map leaves this interface alone, or empty when it does
// not (no map, or its port is in it). An interface whose port cannot be read
// matches no slot.
std::string OutsideSlotMap(const StationConfig& config, const AttachedInterface& i) {
  if (!config.job || config.job->slot_map.empty()) return "";
  if (i.port.empty()) return "no port path (" + i.path + "): matches no slot of the job";
  if (config.job->slot_map.count(i.port) != 0) return "";
  return "port " + i.port + " is not in the job's slot map";
}

// A unit not taken yet: take it when the station wants new units and there
// is something to do with it. A unit outside the slot map is never taken.
void Take(const std::shared_ptr<Shared>& shared, const std::string& key, UnitSession& u) {
  Shared& sh = *shared;
  u.phase = Phase::kIdle;
  const std::string outside = OutsideSlotMap(sh.config, u.current);
  if (!outside.empty()) return TellState(sh, u, UnitState::kSkipped, outside);
  if (!sh.MayStartNewUnitLocked()) {
    return TellState(sh, u, UnitState::kIdle, sh.stopping ? "station stopping" : "count reached");
  }
  if (u.current.kind == DS_APP && !sh.config.enter_boot) {
    return TellState(sh, u, UnitState::kIdle, "application (no --enter-boot)");
  }
  u.taken = true;
  u.taken_at = std::chrono::system_clock::now();
  ++sh.started_units;
  if (u.current.kind == DS_APP) return StartEnterBoot(shared, key, u);
  StartFlash(shared, key, u);
}

// A fresh session for whatever the port shows now.
UnitSession& Renew(Shared& sh, const std::string& key) {
  UnitSession& u = sh.units[key];
  const AttachedInterface current = u.current;
  const SteadyClock::time_point when = u.event_time;
  u = UnitSession{};
  u.view.unit = sh.next_unit++;
  u.present = true;
  u.current = current;
  u.event_time = when;
  u.view.port = current.port.empty() ? current.path : current.port;
  u.view.path = current.path;
  u.view.serial = current.serial;
  u.view.kind = current.kind;
  if (sh.config.job && !current.port.empty()) {
    const auto slot = sh.config.job->slot_map.find(current.port);
    if (slot != sh.config.job->slot_map.end()) u.view.slot = slot->second;
  }
  const UnitView v = u.view;
  sh.Tell([&](StationObserver& o) { o.OnUnitAppeared(v); });
  return u;
}

// What to do with the interface a session's port now shows (under
// shared.mutex, no worker running for it). `away` is how long the port was
// empty before.
void Decide(const std::shared_ptr<Shared>& shared, const std::string& key, std::chrono::nanoseconds away) {
  Shared& sh = *shared;
  UnitSession& u = sh.units.at(key);
  const AttachedInterface i = u.current;
  // Serial numbers are compared within one kind only: a bootloader may
  // report another serial than the application of the same unit.
  const bool same_kind = u.view.kind == i.kind;
  const bool other_serial = same_kind && !u.view.serial.empty() && !i.serial.empty() && u.view.serial != i.serial;
  const bool same_serial = same_kind && !u.view.serial.empty() && u.view.serial == i.serial;
  const bool long_away = away > sh.config.forget_after;
  const bool boot = IsBootloaderKind(i.kind);
  auto show = [&] {
    u.view.path = i.path;
    u.view.kind = i.kind;
    if (!i.serial.empty()) u.view.serial = i.serial;
    const UnitView v = u.view;
    sh.Tell([&](StationObserver& o) { o.OnUnitAppeared(v); });
  };
  auto renew_and_take = [&] { Take(shared, key, Renew(sh, key)); };

  switch (u.phase) {
    case Phase::kEnteringBoot:
    case Phase::kFlashing:
      u.arrival_pending = true;
      return;
    case Phase::kIdle:
      if (other_serial || long_away) return renew_and_take();
      show();
      return Take(shared, key, u);
    case Phase::kWaitingBoot:
      show();
      if (boot) return StartFlash(shared, key, u);
      return TellState(sh, u, UnitState::kWaitingBoot, "");
    case Phase::kAwaitRetry:
      if (other_serial || long_away) {
        EndRetries(sh, u,
                   other_serial ? "another unit took its port"
                                : "away for longer than " + Seconds(sh.config.forget_after));
        return renew_and_take();
      }
      show();
      if (boot) return StartFlash(shared, key, u);
      if (sh.config.enter_boot) return StartEnterBoot(shared, key, u);
      return EndRetries(sh, u, "back as its application (no --enter-boot)");
    case Phase::kAwaitApp:
      if (!boot) {
        u.phase = Phase::kDone;
        u.app_seen = true;
        show();
        return TellState(sh, u, UnitState::kPassed, "");
      }
      return show();
    case Phase::kDone:
      break;
  }
  if (other_serial || long_away) return renew_and_take();
  if (u.outcome == Outcome::kPassed) {
    if (!boot) {
      u.app_seen = true;
      show();
      return TellState(sh, u, UnitState::kPassed, "");
    }
    // A pass restarts the unit, often before its worker is done.
    if (u.app_seen || !(u.left_during_worker || u.left_soon_after)) return renew_and_take();
    u.phase = Phase::kAwaitApp;
    u.deadline = SteadyClock::now() + sh.config.forget_after;
    show();
    return TellState(sh, u, UnitState::kPassed, "back in its bootloader; waiting for its application");
  }
  // Failed for good: the same unit when it restarted by itself or shows its
  // serial number again; after an unplug anything else is a new unit.
  // (A unit leaving during its failing flash was pulled or died: not a restart.)
  if (u.left_soon_after || same_serial) {
    show();
    return TellState(sh, u, UnitState::kFailed, boot ? "no attempts left" : "");
  }
  renew_and_take();
}

// The port now shows `i` (under shared.mutex).
void OnArrival(const std::shared_ptr<Shared>& shared, const std::string& key, const AttachedInterface& i,
               SteadyClock::time_point event_time) {
  Shared& sh = *shared;
  const SteadyClock::time_point now = SteadyClock::now();
  auto found = sh.units.find(key);
  if (found == sh.units.end()) {
    UnitSession& u = sh.units[key];
    u.current = i;
    u.event_time = event_time;
    return Take(shared, key, Renew(sh, key));
  }
  UnitSession& u = found->second;
  const std::chrono::nanoseconds away = u.present ? std::chrono::nanoseconds(0) : now - u.absent_since;
  u.present = true;
  u.current = i;
  u.event_time = event_time;
  Decide(shared, key, away);
}

// The port's unit left (under shared.mutex).
void OnDeparture(Shared& sh, UnitSession& u) {
  const SteadyClock::time_point now = SteadyClock::now();
  u.present = false;
  u.absent_since = now;
  u.left_during_worker = WorkerPhase(u.phase);
  // A bootloader restarts by itself only once it holds the whole image, so a
  // unit leaving after a flash that failed short of its last byte was pulled
  // or died, however soon after: its worker often ends before the departure
  // is seen.
  const bool cut_short = u.has_last && u.last.size > 0 && u.last.result != DL_OK &&
                         u.last.bytes_acknowledged < u.last.size;
  u.left_soon_after = !u.left_during_worker && !cut_short && u.finished_at != SteadyClock::time_point{} &&
                      now - u.finished_at <= sh.config.restart_window;
  if (u.phase != Phase::kWaitingBoot) TellState(sh, u, UnitState::kGone, "");
}

// A worker's unit is free again: its arrival parked meanwhile is looked at
// (under shared.mutex).
void WorkerEnded(const std::shared_ptr<Shared>& shared, const std::string& key) {
  Shared& sh = *shared;
  --sh.active;
  UnitSession& u = sh.units.at(key);
  u.finished_at = SteadyClock::now();
  const bool look_again = u.arrival_pending && u.present && !WorkerPhase(u.phase);
  u.arrival_pending = false;
  if (look_again) Decide(shared, key, std::chrono::nanoseconds(0));
  const StationCounters counters = sh.CountersLocked();
  sh.Tell([&](StationObserver& o) { o.OnCounters(counters); });
  sh.changed.notify_all();
}

void EnterBootWorker(const std::shared_ptr<Shared>& shared, std::string key, AttachedInterface target) {
  HidDevice* device = OpenAttachedInterface(shared->config.settings, target);
  int status = BOOT_STATUS_NONE;
  const std::string open_error = device == nullptr ? hid_link_last_open_error() : std::string();
  if (device != nullptr) {
    boot_send_command(device, BOOT_CMD_ENTER_BOOT, nullptr, 0, &status);
    hid_link_close(device);
  }
  Shared& sh = *shared;
  std::lock_guard<std::mutex> lock(sh.mutex);
  UnitSession& u = sh.units.at(key);
  const bool refused = device == nullptr || (status != BOOT_STATUS_NONE && status != 0 && status != 4);
  if (refused) {
    FailUnit(sh, u, DL_PROTOCOL_ERROR, "enter-boot-failed",
             device == nullptr ? "cannot open: " + open_error : "enter-boot answered status " + std::to_string(status));
  } else if (sh.cancel.load() != 0) {
    FailUnit(sh, u, DL_CANCELLED, "cancelled", "cancelled before its bootloader appeared");
  } else {
    // A silent application may have reset at once: it gets the same wait.
    u.phase = Phase::kWaitingBoot;
    u.deadline = SteadyClock::now() + sh.config.boot_wait;
    TellState(sh, u, UnitState::kWaitingBoot,
              status == BOOT_STATUS_NONE ? "no answer to enter-boot; waiting for its bootloader" : "");
  }
  WorkerEnded(shared, key);
}

void FlashWorker(const std::shared_ptr<Shared>& shared, std::string key, UnitView view, AttachedInterface target,
                 SteadyClock::time_point event_time) {
  Shared& sh = *shared;
  UnitFlashContext context;
  context.config = &sh.config;
  context.images = &sh.images;
  context.cancel = &sh.cancel;
  context.stop = &sh.shutdown;
  context.on_info = [&](const std::string& text) { sh.Tell([&](StationObserver& o) { o.OnUnitInfo(view, text); }); };
  context.on_progress = [&](const UnitProgress& p) { sh.Tell([&](StationObserver& o) { o.OnUnitProgress(p); }); };
  context.journal = sh.journal.get();
  context.serial_offset = sh.serial_offset;
  // As for a record line: units flashed on without a journal could get a
  // serial twice.
  context.on_journal_failure = [&](const std::string& error) {
    sh.journal_failed = true;
    sh.stopping = true;
    sh.Tell([&](StationObserver& o) { o.OnStationMessage(error + "; station stops"); });
  };
  UnitRecord record;
  UnitResult result;
  FlashUnit(context, view, target, event_time, &record, &result);
  const bool passed = result.result == DL_OK;
  record.unit = view.unit;
  // A failure is final when no attempt is left or no further one will be
  // made; a stop that comes later ends the wait for the next one instead.
  record.final = passed || view.attempt >= sh.config.attempts || sh.stopping.load() || sh.cancel.load() != 0;
  result.final = record.final;
  WriteRecord(sh, record, &result);

  std::lock_guard<std::mutex> lock(sh.mutex);
  UnitSession& u = sh.units.at(key);
  u.last = record;
  u.has_last = true;
  u.app_seen = false;
  if (record.final) {
    SetFinal(sh, u, passed);
  } else {
    u.phase = Phase::kAwaitRetry;
  }
  sh.Tell([&](StationObserver& o) {
    o.OnUnitFinished(view, result);
    o.OnUnitState(view, passed ? UnitState::kPassed : UnitState::kFailed,
                  record.final ? record.detail
                               : record.detail + (record.detail.empty() ? "" : "; ") + "attempt " +
                                     std::to_string(view.attempt + 1) + " when it comes back");
  });
  // A stop that came during the record's write ends the wait at once.
  if (u.phase == Phase::kAwaitRetry && sh.stopping.load()) EndRetries(sh, u, "station stopped");
  WorkerEnded(shared, key);
}

// Ends what time or a stop has decided (under shared.mutex); the earliest
// time anything else falls due.
SteadyClock::time_point Tick(Shared& sh) {
  const SteadyClock::time_point now = SteadyClock::now();
  SteadyClock::time_point next = SteadyClock::time_point::max();
  const bool cancelled = sh.cancel.load() != 0;
  for (auto& [key, u] : sh.units) {
    switch (u.phase) {
      case Phase::kWaitingBoot:
        if (cancelled) {
          FailUnit(sh, u, DL_CANCELLED, "cancelled", "cancelled while waiting for its bootloader");
        } else if (now >= u.deadline) {
          FailUnit(sh, u, DL_PROTOCOL_ERROR, "enter-boot-failed",
                   "no bootloader appeared on its port within " + Seconds(sh.config.boot_wait));
        } else {
          next = std::min(next, u.deadline);
        }
        break;
      case Phase::kAwaitRetry:
        if (sh.stopping.load()) {
          EndRetries(sh, u, "station stopped");
        } else if (!u.present) {
          const SteadyClock::time_point due = u.absent_since + sh.config.forget_after;
          if (now > due) {
            EndRetries(sh, u, "not back within " + Seconds(sh.config.forget_after));
          } else {
            next = std::min(next, due + std::chrono::milliseconds(1));
          }
        }
        break;
      case Phase::kAwaitApp:
        if (now < u.deadline) {
          next = std::min(next, u.deadline);
        } else if (u.present && IsBootloaderKind(u.current.kind)) {
          FailUnit(sh, u, DL_PROTOCOL_ERROR, "no-application",
                   "passed, then came back as a bootloader without starting its application");
        } else {
          u.phase = Phase::kDone;
        }
        break;
      default:
        break;
    }
  }
  return next;
}

std::string KeyOf(const AttachedInterface& i) { return i.port.empty() ? "path:" + i.path : "port:" + i.port; }

// Another serial number on the same path is another interface: a unit
// unplugged and another plugged in between two looks may get the same path.
bool SameInterface(const AttachedInterface& a, const AttachedInterface& b) {
  return a.path == b.path && a.kind == b.kind && a.vendor_id == b.vendor_id && a.product_id == b.product_id &&
         a.serial == b.serial;
}

// One look at the bus: arrivals and departures since the last look. A
// port-less interface new to the station is held for portless_settle first;
// *held_due is when the next one settles, or when to look again after a
// listing that would not settle.
void Scan(const std::shared_ptr<Shared>& shared, std::map<std::string, AttachedInterface>* present,
          std::map<std::string, HeldInterface>* held, SteadyClock::time_point event_time,
          SteadyClock::time_point* held_due) {
  const Settings& s = shared->config.settings;
  const SteadyClock::time_point now_time = SteadyClock::now();
  std::map<std::string, AttachedInterface> now;
  std::map<std::string, HeldInterface> still_held;
  std::vector<AttachedInterface> listed;
  if (!ListAttachedInterfacesSettled(s, &listed)) {
    *held_due = now_time + std::chrono::milliseconds(20);
    return;
  }
  *held_due = SteadyClock::time_point::max();
  for (const AttachedInterface& i : listed) {
    if (!HasIdentityUsage(s, i)) continue;
    const std::string key = KeyOf(i);
    if (!i.port.empty() || now.count(key)) {
      now.emplace(key, i);
      continue;
    }
    auto known = present->find(key);
    if (known != present->end() && SameInterface(known->second, i)) {
      now.emplace(key, i);
      continue;
    }
    auto h = held->find(i.path);
    const SteadyClock::time_point since =
        h != held->end() && SameInterface(h->second.entry, i) ? h->second.since : now_time;
    if (now_time - since >= shared->config.portless_settle) {
      now.emplace(key, i);
    } else {
      still_held[i.path] = {i, since};
      *held_due = std::min(*held_due, since + shared->config.portless_settle);
    }
  }
  *held = std::move(still_held);

  std::lock_guard<std::mutex> lock(shared->mutex);
  for (const auto& [key, old] : *present) {
    auto it = now.find(key);
    if (it != now.end() && SameInterface(it->second, old)) continue;
    auto unit = shared->units.find(key);
    if (unit != shared->units.end() && unit->second.present) OnDeparture(*shared, unit->second);
  }
  for (const auto& [key, i] : now) {
    auto old = present->find(key);
    if (old != present->end() && SameInterface(old->second, i)) continue;
    OnArrival(shared, key, i, event_time);
  }
  *present = std::move(now);
}

void WatcherLoop(const std::shared_ptr<Shared>& shared) {
  constexpr auto kLookPeriod = std::chrono::seconds(2);      // catches an event the source missed
  constexpr auto kStopLook = std::chrono::milliseconds(250);  // RequestStop wakes without the lock
  std::map<std::string, AttachedInterface> present;
  std::map<std::string, HeldInterface> held;
  SteadyClock::time_point held_due = SteadyClock::time_point::max();
  SteadyClock::time_point last_look = SteadyClock::now();
  SteadyClock::time_point next_due = SteadyClock::time_point::max();
  for (;;) {
    SteadyClock::time_point event_time;
    bool look = false;
    {
      std::unique_lock<std::mutex> lock(shared->mutex);
      const SteadyClock::time_point wake =
          std::min({last_look + kLookPeriod, held_due, next_due, SteadyClock::now() + kStopLook});
      shared->changed.wait_until(lock, wake, [&] { return shared->quit || shared->event_pending; });
      if (shared->quit) return;
      const SteadyClock::time_point now = SteadyClock::now();
      look = shared->event_pending || now >= last_look + kLookPeriod || now >= held_due;
      if (look) {
        if (!shared->event_pending) shared->last_event = now;
        shared->event_pending = false;
        event_time = shared->last_event;
        last_look = now;
      }
    }
    ReapFinishedWorkers(*shared);
    if (look) Scan(shared, &present, &held, event_time, &held_due);
    std::lock_guard<std::mutex> lock(shared->mutex);
    next_due = Tick(*shared);
  }
}

// The job against the prepared image, before any unit: the bytes as flashed
// must be the pinned ones (another build of the image under the same name is
// refused), and a serial plan needs its place in the image, a count and a
// journal with that many serials left.
bool CheckJob(Shared& sh, const PreparedImage& image, uint32_t address, std::string* error, StationStartError* why) {
  const ProductionJob& job = *sh.config.job;
  std::vector<JobProblem> problems;
  if (!CheckJobImage(job, image, address, &sh.serial_offset, &problems)) {
    const bool pin =
        std::any_of(problems.begin(), problems.end(), [](const JobProblem& p) { return p.key == "job.sha256"; });
    *why = pin ? StationStartError::kPinnedImage : StationStartError::kSerials;
    error->clear();
    for (const JobProblem& p : problems) *error += (error->empty() ? "" : "\n") + JobProblemText(job.path, p);
    return false;
  }
  if (!job.serial) return true;
  *why = StationStartError::kSerials;
  if (sh.config.count <= 0) {
    *error = "a job with serial numbers needs a count of units";
    return false;
  }
  sh.journal = SerialJournal::Open(*job.serial, error);
  if (!sh.journal) return false;
  const uint64_t left = sh.journal->Left();
  if (left < static_cast<uint64_t>(sh.config.count)) {
    *error = job.serial->journal_path + ": " + std::to_string(left) + " serial numbers left, " +
             std::to_string(sh.config.count) + " units to flash";
    sh.journal.reset();
    return false;
  }
  *why = StationStartError::kNone;
  return true;
}

}  // namespace

StationCore::StationCore(StationConfig config) : shared_(std::make_shared<Shared>(std::move(config))) {}

StationCore::~StationCore() { Stop(); }

bool StationCore::Start(StationObserver* observer, std::unique_ptr<HotplugSource> source, std::string* error,
                        StationStartError* why) {
  *why = StationStartError::kNone;
  const StationConfig& config = shared_->config;
  // A HEX or S-record image must name App Address, as for a single flash.
  const auto image = shared_->images.Get({config.image_path, ""}, CHECKSUM_CRC16, error);
  uint32_t address = 0;
  if (!image || !ResolveLoadAddress(config.load_address, config.settings.app_address, image->image.file_load_address,
                                    image->image.image_length, &address, error)) {
    *why = StationStartError::kImage;
    return false;
  }
  if (config.job && !CheckJob(*shared_, image->image, address, error, why)) return false;
  // The record must never be written into a file that is flashed.
  const std::vector<std::string> flashed = {config.image_path, config.boot_update_image, config.boot_update_header};
  if (!config.record_path.empty() && !shared_->record.Open(config.record_path, error, flashed)) {
    *why = StationStartError::kRecord;
    return false;
  }
  shared_->observer = observer;
  std::shared_ptr<Shared> shared = shared_;
  if (source && source->Start([shared](unsigned) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        // The first event of a burst dates the arrivals the next look finds.
        if (!shared->event_pending) shared->last_event = SteadyClock::now();
        shared->event_pending = true;
        shared->changed.notify_all();
      })) {
    hotplug_ = std::move(source);
  } else {
    shared_->Tell([](StationObserver& o) { o.OnStationMessage("hot-plug events unavailable; looking every 2 s"); });
  }
  Launch(shared_, [shared] { WatcherLoop(shared); });
  return true;
}

// Takes no lock, so an observer callback (made under the station's locks)
// may call it; the watcher and WaitUntilDone look again often enough not to
// miss it.
void StationCore::RequestStop() {
  shared_->stopping = true;
  shared_->changed.notify_all();
}

void StationCore::CancelAll() {
  shared_->cancel = 1;
  RequestStop();
}

bool StationCore::WaitUntilDone(std::chrono::milliseconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  std::unique_lock<std::mutex> lock(shared_->mutex);
  while (!shared_->DoneLocked()) {
    const auto now = SteadyClock::now();
    if (now >= deadline) return false;
    shared_->changed.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(100)));
  }
  return true;
}

bool StationCore::Stop() {
  if (stopped_) return !abandoned_;
  stopped_ = true;
  if (hotplug_) hotplug_->Stop();
  hotplug_.reset();
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->quit = true;
    shared_->stopping = true;
    shared_->changed.notify_all();
  }
  shared_->cancel = 1;
  shared_->shutdown = 1;
  const auto deadline = SteadyClock::now() + shared_->config.stop_deadline;
  {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait_until(lock, deadline, [this] {
      std::lock_guard<std::mutex> workers(shared_->workers_mutex);
      return std::all_of(shared_->workers.begin(), shared_->workers.end(),
                         [](const Worker& w) { return w.done->load(); });
    });
  }
  ReapFinishedWorkers(*shared_);
  {
    std::lock_guard<std::mutex> lock(shared_->workers_mutex);
    for (Worker& w : shared_->workers) {
      w.thread.detach();  // it co-owns everything it touches, and ends its own unit
      abandoned_ = true;
    }
    shared_->workers.clear();
  }
  {
    // Units still waiting get their end now (the cancel above fails those
    // waiting for their bootloader, the stop those waiting for an attempt).
    std::lock_guard<std::mutex> lock(shared_->mutex);
    Tick(*shared_);
  }
  shared_->Detach();
  return !abandoned_;
}

StationCounters StationCore::Counters() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->CountersLocked();
}

bool StationCore::RecordFailed() const { return shared_->record_failed.load(); }

bool StationCore::SerialJournalFailed() const { return shared_->journal_failed.load(); }

}  // namespace torvane
