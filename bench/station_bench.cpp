// The production station against simulated bootloaders at 1000 us latency:
// eight units at once against one alone, same image. Figures: wall time
// (goal for eight: at most 1.10 x one), CPU time and resident memory per
// unit, and the time from a unit's hot-plug event to its start command
// (goal: under 50 ms). The same again as a production job with serial
// numbers: each unit reserves its serial in the journal (flushed to disk),
// flashes its own patched copy and commits; every device must read back a
// serial of its own. The summary after the table gives both ratios, from
// runs of eight and of one that alternate.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "device/hid_link.h"
#include "job/production_job.h"
#include "station/image_digest.h"
#include "monitor/sim_hotplug_source.h"
#include "sim/sim_bus.h"
#include "station/station_core.h"

namespace torvane {
namespace {

class ArrivalTimes final : public StationObserver {
 public:
  void OnUnitFinished(const UnitView&, const UnitResult& result) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (result.result != 0) ++failures;
    if (result.arrival_to_start_ms >= 0) {
      sum_ms += result.arrival_to_start_ms;
      max_ms = std::max(max_ms, result.arrival_to_start_ms);
      ++count;
    }
  }
  std::mutex mutex_;
  double sum_ms = 0, max_ms = 0;
  int count = 0, failures = 0;
};

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

constexpr int kImageBytes = 20000;

std::string WriteImage() {
  const std::string path = (std::filesystem::temp_directory_path() / "torvane-station-bench.bin").string();
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < kImageBytes; ++i) out.put(static_cast<char>(i * 7 + 3));
  return path;
}

// A job for `image` with a counter of 8-character serials (SN00001000 on)
// at App Address + 0x100, journaled in a fresh file.
std::shared_ptr<ProductionJob> SerialJob(const std::string& image, uint32_t app_address) {
  std::vector<uint8_t> bytes(kImageBytes);
  for (int i = 0; i < kImageBytes; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  auto job = std::make_shared<ProductionJob>();
  job->path = (std::filesystem::temp_directory_path() / "torvane-station-bench.ini").string();
  job->image_path = image;
  job->sha256 = DigestBytes(bytes.data(), bytes.size()).sha256;
  SerialPlan plan;
  plan.address = app_address + 0x100;
  plan.width = 8;
  plan.format = SerialFormat::kAsciiDecimal;
  plan.prefix = "SN";
  plan.start = 1000;
  plan.journal_path = (std::filesystem::temp_directory_path() / "torvane-station-bench.serials").string();
  std::filesystem::remove(plan.journal_path);
  job->serial = plan;
  return job;
}

// One station run of `units` simulated bootloaders plugged in at once.
struct Run {
  bool ok = false;         // started, and every device read a serial of its own (with serials)
  std::string error;
  double wall_s = 0, cpu_s = 0, resident_growth_kib = 0;
};

Run RunStation(int units, bool serials, ArrivalTimes* times) {
  static const std::string image = WriteImage();
  sim::SimKnobs knobs;
  knobs.latency_us = 1000;
  knobs.no_restart = true;
  if (serials) knobs.serial_at = sim::SimSerialAt{Settings().app_address + 0x100, 8, sim::SimSerialFormat::kDecimal, "SN"};
  Run run;
  auto bus = std::make_shared<sim::SimBus>();
  hid_link_set_backend(bus);
  hid_link_init();
  StationConfig config;
  config.image_path = image;
  config.count = units;
  if (serials) config.job = SerialJob(image, config.settings.app_address);
  {
    StationCore station(config);
    StationStartError why;
    if (station.Start(times, MakeSimHotplugSource(bus), &run.error, &why)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the first look is over
      const double resident_before = ResidentKiB();
      const double cpu_before = ProcessCpuSeconds();
      const auto wall_before = std::chrono::steady_clock::now();
      std::vector<sim::SimDeviceId> devices;
      for (int i = 0; i < units; ++i) devices.push_back(bus->attach_model(knobs));
      station.WaitUntilDone(std::chrono::seconds(60));
      run.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
      run.resident_growth_kib = std::max(0.0, ResidentKiB() - resident_before);
      run.cpu_s = ProcessCpuSeconds() - cpu_before;
      run.ok = true;
      std::set<std::string> seen;
      for (const sim::SimDeviceId id : devices) {
        const std::string serial = bus->model(id)->verdict().serial_number;
        if (serials && (serial.size() != 8 || serial[0] != 'S' || !seen.insert(serial).second)) {
          run.ok = false;
          run.error = "the devices did not read back distinct serials";
        }
      }
      station.Stop();
    }
  }
  hid_link_exit();
  hid_link_set_backend(nullptr);
  return run;
}

void BM_StationUnits(benchmark::State& state) {
  const int units = static_cast<int>(state.range(0));
  const bool serials = state.range(1) != 0;
  ArrivalTimes times;
  double cpu = 0, resident_growth = 0;
  for (auto _ : state) {
    const Run run = RunStation(units, serials, &times);
    if (!run.ok) {
      state.SkipWithError(run.error.c_str());
      break;
    }
    resident_growth += run.resident_growth_kib;
    cpu += run.cpu_s;
    state.SetIterationTime(run.wall_s);
  }
  const double runs = static_cast<double>(state.iterations()) * units;
  state.counters["cpu_ms_per_unit"] = runs > 0 ? cpu * 1000 / runs : 0;
  state.counters["rss_kib_per_unit"] = runs > 0 ? resident_growth / runs : 0;
  state.counters["arrival_to_start_ms_mean"] = times.count ? times.sum_ms / times.count : -1;
  state.counters["arrival_to_start_ms_max"] = times.max_ms;
  state.counters["failed_units"] = times.failures;
}
BENCHMARK(BM_StationUnits)->ArgNames({"units", "serials"})->Args({1, 0})->Args({8, 0})->Args({1, 1})->Args({8, 1})
    ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Eight units against one, the two runs alternating so that both meet the
// same load from the rest of the machine: the summary's ratio.
struct Pair {
  double one_ms = 0, eight_ms = 0;  // means
  bool measured = false;
};
Pair g_pairs[2];  // [serials]

void BM_EightAgainstOne(benchmark::State& state) {
  const bool serials = state.range(0) != 0;
  ArrivalTimes times;
  double one = 0, eight = 0;
  for (auto _ : state) {
    const Run a = RunStation(1, serials, &times);
    const Run b = RunStation(8, serials, &times);
    if (!a.ok || !b.ok || times.failures != 0) {
      state.SkipWithError(!a.ok ? a.error.c_str() : !b.ok ? b.error.c_str() : "a unit failed");
      return;
    }
    one += a.wall_s;
    eight += b.wall_s;
    state.SetIterationTime(a.wall_s + b.wall_s);
  }
  const double n = static_cast<double>(state.iterations());
  g_pairs[serials] = {one * 1000 / n, eight * 1000 / n, true};
  state.counters["ratio"] = eight / one;
}
BENCHMARK(BM_EightAgainstOne)->ArgName("serials")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(8);

void PrintRatio(const char* what, bool serials) {
  const Pair& p = g_pairs[serials];
  if (!p.measured) {
    std::printf("%s: not measured (a run failed)\n", what);
    return;
  }
  const double ratio = p.eight_ms / p.one_ms;
  std::printf("%s: 8 units %.1f ms, one unit %.1f ms (runs alternating): %.2fx (goal <= 1.10x: %s)\n", what,
              p.eight_ms, p.one_ms, ratio, ratio <= 1.10 ? "met" : "NOT MET");
}

}  // namespace
}  // namespace torvane

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  torvane::PrintRatio("no job", false);
  torvane::PrintRatio("a job, each unit its own serial", true);
  return 0;
}
