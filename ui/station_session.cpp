#include "ui/station_session.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/local_time.h"
#include "settings/app_paths.h"
#include "station/station_core.h"
#include "station/units_per_hour.h"
#include "ui/station_texts.h"

namespace torvane {

namespace {

// Longest wait for cancelled transfers to end before the station is torn
// down anyway (the core then leaves a stuck worker to end by itself).
constexpr auto kStopWait = std::chrono::milliseconds(5000);
constexpr auto kCoreStopDeadline = std::chrono::milliseconds(2000);

}  // namespace

std::string StationMessageText(const std::string& text) {
  if (text.rfind("hot-plug", 0) == 0) return "无法监视设备插拔, 每 2 秒查看一次。";
  if (text.rfind("record not written", 0) == 0) {
    const size_t colon = text.find(':');
    return "记录文件写入失败, 不再开始新的烧录: " +
           StationRecordErrorText(colon == std::string::npos ? text : text.substr(colon + 2));
  }
  return text;
}

StationSession::StationSession(StationWindowSetup setup)
    : setup_(std::move(setup)), feed_(std::make_unique<StationFeed>()), yield_worker_(std::make_unique<YieldWorker>()) {}

StationSession::~StationSession() { Shutdown(); }

std::string StationSession::AddressText() const {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(setup_.settings.app_address));
  return text;
}

std::string StationSession::DefaultRecordPath() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  long offset = 0;
  platform::LocalTime(now, &local, &offset);
  char name[64];
  std::strftime(name, sizeof name, "torvane-record-%Y-%m-%d.jsonl", &local);
  const std::string& settings = setup_.settings_path;
  const size_t slash = settings.find_last_of("/\\");
  return slash == std::string::npos ? MakeAbsolutePath(name) : settings.substr(0, slash + 1) + name;
}

bool StationSession::Start(const RunOptions& options, std::string* message, const BlockingRunner& run) {
  if (core_) return true;
  if (options.record_path.empty()) {
    // Every unit is recorded: the station does not run without a record file.
    *message = "请选择记录文件。";
    return false;
  }
  StationConfig config;
  config.settings = setup_.settings;
  config.image_path = options.image_path.empty() ? setup_.image_path : options.image_path;
  config.job = options.job;
  if (options.load_address) config.load_address = *options.load_address;
  if (options.boot_wait) config.boot_wait = *options.boot_wait;
  config.boot_update_image = MakeAbsolutePath(setup_.settings.boot_update_bin);
  config.boot_update_header = MakeAbsolutePath(setup_.settings.boot_update_bin_header);
  config.enter_boot = options.enter_boot;
  config.record_path = options.record_path;
  config.count = options.count;
  config.attempts = options.attempts;
  config.stop_deadline = kCoreStopDeadline;

  feed_ = std::make_unique<StationFeed>();
  table_.Clear();
  record_lines_.clear();
  message_.clear();
  counters_ = StationCounters{};
  count_ = options.count;
  run_records_.clear();
  yield_ = YieldReport{};
  yield_worker_->Reset();
  auto core = std::make_unique<StationCore>(config);
  std::string error;
  StationStartError why = StationStartError::kNone;
  std::unique_ptr<HotplugSource> source = setup_.make_hotplug_source ? setup_.make_hotplug_source() : nullptr;
  bool started = false;
  const auto prepare = [&] { started = core->Start(feed_.get(), std::move(source), &error, &why); };
  if (run) {
    run(prepare);
  } else {
    prepare();
  }
  if (!started) {
    const std::string reason = StationRecordErrorText(error);
    *message = why == StationStartError::kRecord        ? "记录文件无法使用, 未开始烧录:\n" + reason
               : why == StationStartError::kPinnedImage ? "镜像与作业的 SHA-256 不符, 未开始烧录:\n" + reason
                                                        : "镜像文件无法读取, 未开始烧录:\n" + reason;
    return false;
  }
  core_ = std::move(core);
  started_ = StationClock::now();
  stopping_ = false;
  return true;
}

void StationSession::Stop() {
  if (!core_ || stopping_) return;
  core_->CancelAll();
  stopping_ = true;
  stop_requested_ = StationClock::now();
}

void StationSession::Shutdown() {
  if (core_) Finish();
}

int StationSession::ActiveUnits() const { return core_ ? core_->Counters().active : 0; }

void StationSession::Finish() {
  stopping_ = false;
  core_->CancelAll();
  if (!core_->Stop()) NoteStationWorkerAbandoned();  // bounded by kCoreStopDeadline
  Refresh();  // what the last units told
  core_.reset();
  // The run's last word, not one still being built.
  yield_worker_->Reset();
  yield_ = BuildYieldReport({{"run", run_records_}}, {});
}

std::vector<StationTableChange> StationSession::Refresh(StationClock::time_point now) {
  const StationBatch batch = feed_->Drain(now);
  std::vector<StationTableChange> changes = table_.Apply(batch, now);
  if (batch.counters_changed) counters_ = batch.counters;
  for (const std::string& line : batch.record_lines) record_lines_.push_back(line);
  while (record_lines_.size() > static_cast<size_t>(kRecordLinesShown)) record_lines_.pop_front();
  if (!batch.messages.empty()) message_ = StationMessageText(batch.messages.back());
  for (const std::string& json : batch.record_json) run_records_ += json + '\n';
  if (!batch.record_json.empty()) yield_worker_->Submit(run_records_);
  yield_worker_->Take(&yield_);
  if (failure_alert_) {
    for (int i = 0; i < batch.failures; ++i) failure_alert_();
  }
  if (stopping_ && core_ && (core_->WaitUntilDone(std::chrono::milliseconds(0)) || now - stop_requested_ >= kStopWait)) {
    Finish();
  }
  return changes;
}

std::string StationSession::CountersText(StationClock::time_point now) const {
  // Units per hour since the start, moving with the clock between events,
  // once it means something.
  const double hours = std::chrono::duration<double>(now - started_).count() / 3600.0;
  const int finished = counters_.passed + counters_.failed;
  const bool rate = UnitsPerHourMeaningful(finished, now - started_) && hours > 0;
  return StationCountersText(counters_.passed, counters_.failed, rate ? finished / hours : -1);
}

}  // namespace torvane

namespace torvane {

std::string StationSession::FinishedText() const {
  return StationFinishedText(counters_.passed + counters_.failed, count_);
}

std::string StationSession::YieldText() const { return StationYieldText(RunYield()); }

}  // namespace torvane
