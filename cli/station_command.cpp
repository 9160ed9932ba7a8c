#include "cli/station_command.h"

#include <atomic>
#include <filesystem>

#include "cli/exit_codes.h"
#include "cli/station_display.h"
#include "cli/station_job.h"
#include "job/job_file.h"
#include "download/load_address.h"
#include "monitor/sim_hotplug_source.h"
#include "monitor/stream_output.h"
#include "platform/console.h"
#include "platform/utf8_path.h"
#include "platform/system_hotplug.h"
#include "settings/app_paths.h"
#include "station/station_core.h"

namespace torvane::cli {

namespace {

// Ctrl-C (or Ctrl-Break) and a closed terminal count one step each: the
// first stops taking units, the second cancels. A request to terminate
// goes straight to the second step. Either way every unit in flight gets
// its record.
std::atomic<int> g_station_interrupts{0};
bool OnStationInterrupt(platform::InterruptKind kind) {
  g_station_interrupts.fetch_add(kind == platform::InterruptKind::kTerminate ? 2 : 1);
  return true;
}

void CatchStationSignals() { platform::CatchInterrupts(OnStationInterrupt, /*with_hangup=*/true); }

void ReleaseStationSignals() { platform::ReleaseInterrupts(); }

// Forever is a wait no station outlives, short enough for the clock.
std::chrono::milliseconds BootWait(const WaitTime& wait) {
  return wait.forever ? std::chrono::hours(24 * 365 * 100) : wait.duration;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(platform::PathFromUtf8(path), ec);
  return ec ? path : platform::PathToUtf8(absolute);
}

// The job in options.job, and the options it sets; false (exit 2) with
// each problem printed. Nothing is touched before it returns.
bool LoadStationJob(const StationOptions& requested, StationOptions* options,
                    std::shared_ptr<const ProductionJob>* out) {
  auto job = std::make_shared<ProductionJob>();
  std::vector<JobProblem> problems;
  if (!LoadJobFile(Absolute(requested.job), job.get(), &problems)) {
    for (const JobProblem& problem : problems) {
      std::fprintf(stderr, "%s\n", JobProblemText(requested.job, problem).c_str());
    }
    return false;
  }
  std::vector<std::string> refusals;
  *options = requested;
  if (!ApplyJobToStationOptions(*job, options, &refusals)) {
    for (const std::string& refusal : refusals) std::fprintf(stderr, "%s\n", refusal.c_str());
    return false;
  }
  *out = std::move(job);
  return true;
}

}  // namespace

int RunStation(CliSession& session, const StationOptions& requested) {
  StationOptions options = requested;
  std::shared_ptr<const ProductionJob> job;
  if (!requested.job.empty() && !LoadStationJob(requested, &options, &job)) return kExitUsage;
  const Settings& s = session.settings();
  StationConfig config;
  config.job = job;
  config.settings = s;
  config.image_path = Absolute(options.image);
  config.boot_update_image = MakeAbsolutePath(s.boot_update_bin);
  config.boot_update_header = MakeAbsolutePath(s.boot_update_bin_header);
  config.enter_boot = options.enter_boot;
  config.count = options.count;
  config.attempts = options.attempts;
  config.record_path = options.record;
  ParseLoadAddressChoice(options.address, &config.load_address);  // checked by the parser
  config.boot_wait = BootWait(options.boot_wait);

  // Before the first unit can start, so that an early Ctrl-C stops the
  // station as a later one does.
  g_station_interrupts = 0;
  CatchStationSignals();
  StationDisplay display(stdout, platform::IsTerminal(stdout));
  display.SetCount(options.count);
  StationCore station(config);
  std::string error;
  StationStartError why;
  std::unique_ptr<HotplugSource> source =
      session.simulated() ? MakeSimHotplugSource(session.bus()) : platform::MakeSystemHotplugSource();
  if (!station.Start(&display, std::move(source), &error, &why)) {
    ReleaseStationSignals();
    // The job's own refusals (its pin, its serials) are the job file's
    // problems, as the job's other problems are.
    if (why == StationStartError::kPinnedImage || why == StationStartError::kSerials) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return kExitUsage;
    }
    std::fprintf(stderr, "%s: %s\n", why == StationStartError::kRecord ? "record file not writable" : "image",
                 error.c_str());
    return kExitFileError;
  }
  if (job) {
    display.Say("station: job " + (job->name.empty() ? requested.job : job->name + " (" + requested.job + ")") +
                (job->slot_map.empty() ? "" : ", " + std::to_string(job->slot_map.size()) + " slots") +
                (job->serial ? ", serial numbers from " + job->serial->journal_path : ""));
  }
  display.Say(options.count > 0 ? "station: flashing " + std::to_string(options.count) +
                                      (options.count == 1 ? " unit" : " units") + "; Ctrl-C stops"
                                : std::string("station: flashing every device plugged in; Ctrl-C stops"));

  int interrupts_seen = 0;
  while (!station.WaitUntilDone(std::chrono::milliseconds(100))) {
    const int interrupts = g_station_interrupts.load();
    if (interrupts == interrupts_seen) continue;
    if (interrupts_seen == 0 && interrupts == 1) {
      station.RequestStop();
      display.Say("station: no new units; running ones finish (interrupt again to cancel them)");
    }
    if (interrupts >= 2) {
      // Between two frames, so no device gets half a frame. A further
      // signal ends the tool at once.
      station.CancelAll();
      display.Say("station: cancelling running transfers");
      ReleaseStationSignals();
    }
    interrupts_seen = interrupts;
  }
  if (!station.Stop()) session.KeepHidLinkUp();
  ReleaseStationSignals();

  FlushResults();  // the units' result lines come before the summary
  if (session.simulated()) {
    for (const sim::SimDeviceId id : session.sim_devices()) {
      auto model = session.bus()->model(id);
      if (model && model->verdict().transfer_started) {
        std::printf("simulated device %u: %s\n", id, model->verdict().summary().c_str());
      }
    }
  }
  const StationCounters counters = station.Counters();
  std::printf("station: passed %d, failed %d\n", counters.passed, counters.failed);
  if (station.RecordFailed() || station.SerialJournalFailed()) return kExitFileError;
  return counters.failed > 0 ? kExitUnitFailed : kExitOk;
}

}  // namespace torvane::cli
