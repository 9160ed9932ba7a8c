// The production station against simulated bootloaders at 1000 us latency:
// eight units at once against one alone, same image. Figures: wall time
// (goal for eight: at most 1.10 x one), CPU time and resident memory per
// unit, and the time from a unit's hot-plug event to its start command
// (goal: under 50 ms).
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "device/hid_link.h"
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

std::string WriteImage() {
  const std::string path = (std::filesystem::temp_directory_path() / "torvane-station-bench.bin").string();
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < 20000; ++i) out.put(static_cast<char>(i * 7 + 3));
  return path;
}

void BM_StationUnits(benchmark::State& state) {
  const int units = static_cast<int>(state.range(0));
  static const std::string image = WriteImage();
  sim::SimKnobs knobs;
  knobs.latency_us = 1000;
  knobs.no_restart = true;
  ArrivalTimes times;
  double cpu = 0, resident_growth = 0;
  for (auto _ : state) {
    auto bus = std::make_shared<sim::SimBus>();
    hid_link_set_backend(bus);
    hid_link_init();
    StationConfig config;
    config.image_path = image;
    config.count = units;
    StationCore station(config);
    std::string error;
    StationStartError why;
    if (!station.Start(&times, MakeSimHotplugSource(bus), &error, &why)) {
      state.SkipWithError(error.c_str());
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the first look is over
    const double resident_before = ResidentKiB();
    const double cpu_before = ProcessCpuSeconds();
    const auto wall_before = std::chrono::steady_clock::now();
    for (int i = 0; i < units; ++i) bus->attach_model(knobs);
    station.WaitUntilDone(std::chrono::seconds(60));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
    resident_growth += std::max(0.0, ResidentKiB() - resident_before);
    cpu += ProcessCpuSeconds() - cpu_before;
    state.SetIterationTime(wall);
    station.Stop();
    hid_link_exit();
    hid_link_set_backend(nullptr);
  }
  const double runs = static_cast<double>(state.iterations()) * units;
  state.counters["cpu_ms_per_unit"] = runs > 0 ? cpu * 1000 / runs : 0;
  state.counters["rss_kib_per_unit"] = runs > 0 ? resident_growth / runs : 0;
  state.counters["arrival_to_start_ms_mean"] = times.count ? times.sum_ms / times.count : -1;
  state.counters["arrival_to_start_ms_max"] = times.max_ms;
  state.counters["failed_units"] = times.failures;
}
BENCHMARK(BM_StationUnits)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace torvane

BENCHMARK_MAIN();
