// Sixteen simulated bootloaders flashed at once, first by the command-line
// station (the station core with torvane-cli's plain display), then through
// the station window's own code path: its start button, its feed, its
// 15 Hz refresh and its table, offscreen. Figures:
//  - wall_cli_ms: station start to the sixteenth unit done;
//  - wall_window_ms: start button to the table showing sixteen passed rows
//    (goal: within 1.10 x wall_cli_ms, printed as wall_ratio);
//  - longest_stall_ms: the longest gap of a 1 ms timer on the UI thread while
//    the window runs (goal < 30 ms), with the UI thread's CPU time inside it;
//  - events: observer calls the feed took; row_updates: rows the table redrew.
// Argument: the devices' reply latency in µs (125: a high-speed USB HID
// endpoint's polling interval).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/ui_bench_support.h"
#include "cli/station_display.h"
#include "device/hid_link.h"
#include "monitor/sim_hotplug_source.h"
#include "settings/app_paths.h"
#include "sim/sim_bus.h"
#include "station/station_core.h"
#include "ui/qt/station_table_model.h"
#include "ui/qt/station_window.h"

namespace {

using torvane::bench::RunEventLoopUntil;
using torvane::bench::TickGaps;

constexpr int kDevices = 16;
constexpr uint32_t kImageBytes = 64 * 1024;

bool WriteImage(const std::string& path) {
  std::vector<char> bytes(kImageBytes);
  std::mt19937 random(20161309);
  for (char& b : bytes) b = static_cast<char>(random());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A bus with the sixteen devices, made the HID layer's backend.
std::shared_ptr<torvane::sim::SimBus> BusOfDevices(int latency_us) {
  auto bus = std::make_shared<torvane::sim::SimBus>();
  for (int i = 0; i < kDevices; ++i) {
    torvane::sim::SimKnobs knobs;
    const std::string text = "boot,no-restart,latency-us=" + std::to_string(latency_us) + ",port=hub-" + std::to_string(i);
    if (!torvane::sim::parse_sim_knobs(text, &knobs, nullptr)) return nullptr;
    bus->attach_model(knobs);
  }
  torvane::hid_link_set_backend(bus);
  torvane::hid_link_init();
  return bus;
}

void ReleaseBus() {
  torvane::hid_link_exit();
  torvane::hid_link_set_backend(nullptr);
}

int PassedRows(const torvane::StationTableModel& model) {
  int passed = 0;
  for (const auto& row : model.Rows()) passed += row.state == torvane::UnitState::kPassed ? 1 : 0;
  return passed;
}

void BM_StationWindow(benchmark::State& state) {
  const int latency_us = static_cast<int>(state.range(0));
  QTemporaryDir scratch;
  const std::string image = scratch.filePath(QStringLiteral("image.bin")).toStdString();
  if (!scratch.isValid() || !WriteImage(image)) return state.SkipWithError("cannot write the image");

  for (auto _ : state) {
    // The command-line station.
    double wall_cli_ms = 0;
    {
      auto bus = BusOfDevices(latency_us);
      if (!bus) return state.SkipWithError("bad knobs");
      torvane::StationConfig config;
      config.image_path = image;
      config.count = kDevices;
      config.record_path = scratch.filePath(QStringLiteral("cli.jsonl")).toStdString();
      std::FILE* sink = std::fopen("/dev/null", "w");
      torvane::cli::StationDisplay display(sink, false);
      torvane::StationCore station(config);
      std::string error;
      torvane::StationStartError why;
      QElapsedTimer clock;
      clock.start();
      if (!station.Start(&display, torvane::MakeSimHotplugSource(bus), &error, &why)) {
        std::fclose(sink);
        return state.SkipWithError(error.c_str());
      }
      const bool done = station.WaitUntilDone(std::chrono::seconds(120));
      wall_cli_ms = clock.nsecsElapsed() * 1e-6;
      const auto counters = station.Counters();
      station.Stop();
      std::fclose(sink);
      ReleaseBus();
      if (!done || counters.passed != kDevices) return state.SkipWithError("the command-line station did not pass all");
    }

    // The window.
    auto bus = BusOfDevices(latency_us);
    torvane::StationWindowSetup setup;
    setup.settings_path = scratch.filePath(QStringLiteral("Torvane.ini")).toStdString();
    setup.image_path = image;
    setup.make_hotplug_source = [bus] { return torvane::MakeSimHotplugSource(bus); };
    auto window = std::make_unique<torvane::StationWindow>(std::move(setup));
    window->show();
    RunEventLoopUntil([] { return false; }, 200);
    int row_updates = 0;
    QObject::connect(window->Model(), &QAbstractItemModel::dataChanged, [&row_updates] { ++row_updates; });
    TickGaps ticks;
    QElapsedTimer clock;
    ticks.Start();
    clock.start();
    window->StartStopButton()->click();
    const bool all = RunEventLoopUntil([&] { return PassedRows(*window->Model()) == kDevices; }, 120000);
    const double wall_window_ms = clock.nsecsElapsed() * 1e-6;
    ticks.Stop();
    const double events = static_cast<double>(window->Feed()->EventsReceived());
    window->Shutdown();
    window.reset();
    ReleaseBus();
    if (!all) return state.SkipWithError("the window did not show sixteen passed units");

    state.counters["wall_cli_ms"] = wall_cli_ms;
    state.counters["wall_window_ms"] = wall_window_ms;
    state.counters["wall_ratio"] = wall_window_ms / wall_cli_ms;
    state.counters["longest_stall_ms"] = ticks.LongestMs();
    state.counters["stall_cpu_ms"] = ticks.LongestCpuMs();
    state.counters["busiest_gap_cpu_ms"] = ticks.BusiestMs();
    state.counters["p99_gap_ms"] = ticks.PercentileMs(0.99);
    state.counters["events"] = events;
    state.counters["row_updates"] = row_updates;
  }
}
BENCHMARK(BM_StationWindow)
    ->ArgNames({"latency_us"})
    ->Arg(125)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return torvane::bench::RunQtBenchmarks(argc, argv); }
