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
#include "download/download_worker.h"
#include "download/load_address.h"
#include "download/transfer_engine.h"
#include "monitor/info_text.h"
#include "monitor/status_report.h"
#include "station/attached_interfaces.h"
#include "station/prepared_image_cache.h"
#include "station/record_file.h"
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
  }
  return "?";
}

namespace {

enum class Outcome { kNone, kPassed, kFailed };

// One session: the unit plugged into one port.
struct UnitSession {
  UnitView view;
  Outcome outcome = Outcome::kNone;
  bool present = false;
  bool busy = false;            // a worker runs for it
  bool counted = false;         // counts towards --count
  SteadyClock::time_point absent_since;
};

struct Worker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

// A usage page or usage of 0xFFFF places no condition, as for detection's open.
bool UsageMatches(uint16_t want_page, uint16_t want_usage, const AttachedInterface& i) {
  return (want_page == 0xFFFF || want_page == i.usage_page) && (want_usage == 0xFFFF || want_usage == i.usage);
}

}  // namespace

struct StationCore::Shared {
  explicit Shared(StationConfig c) : config(std::move(c)) {}

  const StationConfig config;
  PreparedImageCache images;
  RecordFile record;
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

  // Units, counters and the watcher's wake-up, under one lock.
  mutable std::mutex mutex;
  std::condition_variable changed;    // events, stops and finished workers
  std::map<std::string, UnitSession> units;
  uint64_t next_unit = 1;
  int started_units = 0;
  int passed = 0;
  int failed = 0;
  int active = 0;
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
    const bool count_reached = config.count > 0 && passed + failed >= config.count;
    return active == 0 && (count_reached || stopping.load());
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

// Ends a unit's worker: the session is free again and the totals move.
void FinishUnit(Shared& shared, const std::string& key, Outcome outcome, bool final_failure) {
  std::lock_guard<std::mutex> lock(shared.mutex);
  --shared.active;
  if (outcome == Outcome::kPassed) ++shared.passed;
  if (outcome == Outcome::kFailed && final_failure) ++shared.failed;
  auto it = shared.units.find(key);
  if (it != shared.units.end()) {
    it->second.busy = false;
    if (outcome != Outcome::kNone) it->second.outcome = outcome;
  }
  const StationCounters counters = shared.CountersLocked();
  shared.Tell([&](StationObserver& o) { o.OnCounters(counters); });
  shared.changed.notify_all();
}

void EnterBootWorker(const std::shared_ptr<Shared>& shared, std::string key, UnitView view) {
  HidDevice* device = hid_link_open_path(view.path);
  int status = BOOT_STATUS_NONE;
  if (device != nullptr) {
    boot_send_command(device, BOOT_CMD_ENTER_BOOT, nullptr, 0, &status);
    hid_link_close(device);
  }
  const bool sent = status == 0 || status == 4;
  const std::string detail = device == nullptr ? "cannot open: " + hid_link_last_open_error()
                             : sent            ? std::string()
                                               : "enter-boot answered status " + std::to_string(status);
  shared->Tell([&](StationObserver& o) { o.OnUnitState(view, sent ? UnitState::kWaitingBoot : UnitState::kFailed, detail); });
  FinishUnit(*shared, key, Outcome::kNone, false);
}

void FlashWorker(const std::shared_ptr<Shared>& shared, std::string key, UnitView view, uint16_t vid, uint16_t pid,
                 SteadyClock::time_point event_time) {
  const StationConfig& config = shared->config;
  const Settings& s = config.settings;
  UnitRecord record;
  record.start = std::chrono::system_clock::now();
  const SteadyClock::time_point began = SteadyClock::now();
  record.port = view.port;
  record.path = view.path;
  record.serial = view.serial;
  record.vendor_id = vid;
  record.product_id = pid;
  record.kind = view.kind;
  record.attempt = view.attempt;
  UnitResult result;
  std::string detail;

  HidDevice* device = hid_link_open_path(view.path);
  if (device == nullptr) {
    result.result = DL_PROTOCOL_ERROR;
    detail = "cannot open: " + hid_link_last_open_error();
  } else {
    int status = BOOT_STATUS_NONE;
    BootInfo info;
    boot_query_info(device, &status, &info);
    if (status == 0) {
      record.info_text = ConvertInfoText(info);
      shared->Tell([&](StationObserver& o) { o.OnUnitInfo(view, record.info_text); });
    }
    int advised = 0;
    BuildFoundReport(view.kind, status, info, s.boot_bin_info, s.boot_update_check, &advised);
    const DownloadJob job =
        BuildDownloadJob(view.kind, advised != 0, config.image_path, config.boot_update_image, config.boot_update_header);
    const ChecksumScheme scheme = view.kind == DS_OLDBOOT ? CHECKSUM_XOR : CHECKSUM_CRC16;
    result.boot_update = job.image_path != config.image_path;
    record.image_path = job.image_path;
    std::string error;
    const std::shared_ptr<const SharedImage> image = shared->images.Get(job, scheme, &error);
    uint32_t address = s.app_address;
    if (!image || !ResolveLoadAddress(config.load_address, s.app_address, image->image.file_load_address,
                                      image->image.image_length, &address, &error)) {
      result.result = DL_FILE_ERROR;
      detail = error;
    } else {
      record.size = image->image.total_length;
      record.digest = image->digest;
      result.total_bytes = image->image.total_length;
      TransferStats stats;
      TransferControl control;
      control.cancel = &shared->cancel;
      control.stop = &shared->shutdown;
      control.stats = &stats;
      control.sleep = config.busy_sleep;
      const SteadyClock::time_point transfer_start = SteadyClock::now();
      int last_percent = -1;
      control.on_percent = [&](int percent) {
        if (percent == last_percent) return;
        last_percent = percent;
        UnitProgress p;
        p.unit = view.unit;
        p.percent = percent;
        p.bytes_acknowledged = stats.acknowledged;
        p.total_bytes = image->image.total_length;
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - transfer_start).count();
        p.bytes_per_second = seconds > 0 ? stats.acknowledged / seconds : 0;
        shared->Tell([&](StationObserver& o) { o.OnUnitProgress(p); });
      };
      result.arrival_to_start_ms = std::chrono::duration<double, std::milli>(transfer_start - event_time).count();
      result.result = RunTransfer(device, image->image, scheme, address, control);
      if (result.result != DL_OK && device->last_error_text) detail = *device->last_error_text;
      result.bytes_acknowledged = stats.acknowledged;
      result.busy_answers = stats.busy_answers;
    }
    hid_link_close(device);
  }

  record.end = std::chrono::system_clock::now();
  result.duration_s = std::chrono::duration<double>(SteadyClock::now() - began).count();
  record.result = result.result;
  record.bytes_acknowledged = result.bytes_acknowledged;
  record.busy_answers = result.busy_answers;
  record.boot_update = result.boot_update;
  record.duration_s = result.duration_s;
  record.detail = detail;
  result.record_line = UnitRecordLine(record);
  result.recorded = true;
  if (shared->record.IsOpen()) {
    std::string error;
    result.recorded = shared->record.Append(result.record_line, &error);
    if (!result.recorded) {
      // Flashing on without a record would lose what the record is for.
      shared->record_failed = true;
      shared->stopping = true;
      shared->Tell([&](StationObserver& o) { o.OnStationMessage("record not written, station stops: " + error); });
    }
  }
  const bool passed = result.result == DL_OK;
  const bool final_failure = !passed && view.attempt >= config.attempts;
  shared->Tell([&](StationObserver& o) {
    o.OnUnitFinished(view, result);
    o.OnUnitState(view, passed ? UnitState::kPassed : UnitState::kFailed, detail);
  });
  FinishUnit(*shared, key, passed ? Outcome::kPassed : Outcome::kFailed, final_failure);
}

// What to do with a unit that has just appeared (under shared.mutex).
void OnArrival(const std::shared_ptr<Shared>& shared, const std::string& key, const AttachedInterface& i,
               SteadyClock::time_point event_time) {
  Shared& sh = *shared;
  const SteadyClock::time_point now = SteadyClock::now();
  auto found = sh.units.find(key);
  bool fresh = found == sh.units.end();
  if (!fresh) {
    const UnitSession& old = found->second;
    // Serial numbers are compared within one kind only: a bootloader may
    // report another serial than the application of the same unit.
    const bool other_serial = old.view.kind == i.kind && !old.view.serial.empty() && !i.serial.empty() &&
                              old.view.serial != i.serial;
    const bool long_away = !old.present && now - old.absent_since > sh.config.forget_after;
    // A bootloader where a unit passed was re-plugged: a new cycle.
    const bool replugged_after_pass = old.outcome == Outcome::kPassed && IsBootloaderKind(i.kind);
    fresh = other_serial || long_away || replugged_after_pass;
  }
  UnitSession& unit = sh.units[key];
  if (fresh) {
    const bool busy = unit.busy;
    unit = UnitSession{};
    unit.busy = busy;
    unit.view.unit = sh.next_unit++;
  }
  unit.present = true;
  unit.view.port = i.port.empty() ? i.path : i.port;
  unit.view.path = i.path;
  unit.view.serial = i.serial;
  unit.view.kind = i.kind;
  const UnitView appeared = unit.view;
  sh.Tell([&](StationObserver& o) { o.OnUnitAppeared(appeared); });

  auto idle = [&](UnitState state, const std::string& why) {
    const UnitView v = unit.view;
    sh.Tell([&](StationObserver& o) { o.OnUnitState(v, state, why); });
  };
  if (unit.busy) return idle(UnitState::kIdle, "still busy with its previous interface");
  const bool retry = unit.outcome == Outcome::kFailed && unit.view.attempt < sh.config.attempts;
  const bool first = unit.outcome == Outcome::kNone && unit.view.attempt == 0;
  if (unit.outcome == Outcome::kPassed) return idle(UnitState::kPassed, "");
  if (!first && !retry) {
    return idle(UnitState::kFailed, unit.outcome == Outcome::kFailed ? "no attempts left" : "");
  }
  if (first && !unit.counted && !sh.MayStartNewUnitLocked()) {
    return idle(UnitState::kIdle, sh.stopping ? "station stopping" : "count reached");
  }
  if (sh.stopping) return idle(UnitState::kIdle, "station stopping");
  if (i.kind == DS_APP && !sh.config.enter_boot) return idle(UnitState::kIdle, "application (no --enter-boot)");
  if (!unit.counted) {
    unit.counted = true;
    ++sh.started_units;
  }
  unit.busy = true;
  ++sh.active;
  if (i.kind == DS_APP) {
    const UnitView v = unit.view;
    sh.Tell([&](StationObserver& o) { o.OnUnitState(v, UnitState::kEnteringBoot, ""); });
    Launch(shared, [shared, key, v] { EnterBootWorker(shared, key, v); });
    return;
  }
  ++unit.view.attempt;
  const UnitView v = unit.view;
  sh.Tell([&](StationObserver& o) { o.OnUnitState(v, UnitState::kFlashing, ""); });
  Launch(shared, [shared, key, v, vid = i.vendor_id, pid = i.product_id, event_time] {
    FlashWorker(shared, key, v, vid, pid, event_time);
  });
}

// One look at the bus: arrivals and departures since the last look.
void Scan(const std::shared_ptr<Shared>& shared, std::map<std::string, AttachedInterface>* present,
          SteadyClock::time_point event_time) {
  const Settings& s = shared->config.settings;
  std::map<std::string, AttachedInterface> now;
  for (const AttachedInterface& i : ListAttachedInterfaces(s, true)) {
    const bool wanted = IsBootloaderKind(i.kind)
                            ? UsageMatches(s.boot_usage_page, s.boot_usage, i)
                            : i.kind == DS_APP && UsageMatches(s.app_usage_page, s.app_usage, i);
    if (!wanted) continue;
    now.emplace(i.port.empty() ? "path:" + i.path : "port:" + i.port, i);
  }
  std::lock_guard<std::mutex> lock(shared->mutex);
  for (const auto& [key, old] : *present) {
    auto it = now.find(key);
    if (it != now.end() && it->second.path == old.path && it->second.kind == old.kind) continue;
    auto unit = shared->units.find(key);
    if (unit == shared->units.end()) continue;
    unit->second.present = false;
    unit->second.absent_since = SteadyClock::now();
    const UnitView v = unit->second.view;
    shared->Tell([&](StationObserver& o) { o.OnUnitState(v, UnitState::kGone, ""); });
  }
  for (const auto& [key, i] : now) {
    auto old = present->find(key);
    if (old != present->end() && old->second.path == i.path && old->second.kind == i.kind) continue;
    OnArrival(shared, key, i, event_time);
  }
  *present = std::move(now);
}

void WatcherLoop(const std::shared_ptr<Shared>& shared) {
  std::map<std::string, AttachedInterface> present;
  for (;;) {
    SteadyClock::time_point event_time;
    {
      std::unique_lock<std::mutex> lock(shared->mutex);
      // A slow look now and then also catches an event the source missed.
      shared->changed.wait_for(lock, std::chrono::seconds(2), [&] { return shared->quit || shared->event_pending; });
      if (shared->quit) return;
      if (!shared->event_pending) shared->last_event = SteadyClock::now();
      shared->event_pending = false;
      event_time = shared->last_event;
    }
    ReapFinishedWorkers(*shared);
    Scan(shared, &present, event_time);
  }
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
// may call it; WaitUntilDone looks again often enough not to miss it.
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
      w.thread.detach();  // it co-owns everything it touches
      abandoned_ = true;
    }
    shared_->workers.clear();
  }
  shared_->Detach();
  return !abandoned_;
}

StationCounters StationCore::Counters() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->CountersLocked();
}

bool StationCore::RecordFailed() const { return shared_->record_failed.load(); }

}  // namespace torvane
