// The UI thread during a 1 MiB flash through the main window: the dialog
// runs offscreen against a simulated bootloader, the flash button is
// pressed, and a 1 ms timer on the UI thread ticks until the download's
// result has been shown. The figure is the longest gap between two ticks
// (the event loop was kept from turning that long); goal under 50 ms.
// Beside it, the UI thread's CPU time inside that gap and the most CPU time
// it spent inside any one gap: on a busy machine a long gap with little CPU
// time is the scheduler's doing, a gap full of CPU time is the tool's.
//
// The window is measured from the press to the shown result, so the report
// of the found device (one exchange on the UI thread when the device
// arrives) lies before the window. The device stays in its bootloader after
// the flash ("no-restart"), so nothing else reaches the UI thread meanwhile.
//
// Arguments: the simulated device's reply latency in µs (0 is the worst
// case for the UI thread: the worker posts a percentage per block as fast
// as the engine runs; 125 is the polling interval of a high-speed USB HID
// endpoint, 1000 that of a full-speed one), and whether a percentage equal
// to the one before is dropped on arrival instead of being shown again (a
// diagnosis: it shows how much of a stall is the showing of repeats).
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "download/download_result.h"
#include "monitor/device_controller.h"
#include "sim/sim_bus.h"
#include "ui/control_ids.h"
#include "ui/qt/dialog_messages.h"
#include "ui/qt/torvane_dlg.h"
#include "bench/ui_bench_support.h"

namespace {

using torvane::bench::RunEventLoopUntil;
using torvane::bench::TickGaps;

using torvane::sim::SimBus;
using torvane::sim::SimDeviceId;

constexpr uint32_t kImageBytes = 1u << 20;
constexpr int64_t kStallGoalMs = 50;

// Watches the download progress the worker posts to the dialog, before the
// dialog handles it: counts the percentages and catches the result.
class ProgressWatch : public QObject {
 public:
  int64_t percents = 0;
  int64_t result = INT64_MIN;
  bool drop_repeats = false;
  std::function<void()> on_result;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == torvane::WM_DOWNLOAD_PROGRESS) {
      const auto* message = static_cast<torvane::DialogMessageEvent*>(event);
      if (message->wParam() == torvane::PROGRESS_PERCENT) {
        ++percents;
        const bool repeat = message->lParam() == last_percent_;
        last_percent_ = message->lParam();
        if (drop_repeats && repeat) return true;
      }
      if (message->wParam() == torvane::PROGRESS_RESULT) {
        result = message->lParam();
        // After the dialog has shown it: the window ends with the result.
        if (on_result) QTimer::singleShot(0, this, on_result);
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  int64_t last_percent_ = -1;
};

bool WriteImage(const QString& path) {
  std::vector<char> bytes(kImageBytes);
  std::mt19937 random(20161309);
  for (char& b : bytes) b = static_cast<char>(random());
  std::ofstream out(path.toStdString(), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

void BM_UiStallDuringFlash(benchmark::State& state) {
  const int latency_us = static_cast<int>(state.range(0));
  const bool drop_repeats = state.range(1) != 0;
  QTemporaryDir scratch;
  const QString image_path = scratch.filePath(QStringLiteral("image.bin"));
  if (!scratch.isValid() || !WriteImage(image_path)) return state.SkipWithError("cannot write the image");

  auto bus = std::make_shared<SimBus>();
  torvane::sim::SimKnobs knobs;
  const std::string knob_text = "boot,no-restart,latency-us=" + std::to_string(latency_us);
  if (!torvane::sim::parse_sim_knobs(knob_text, &knobs, nullptr)) return state.SkipWithError("bad knobs");
  const SimDeviceId device = bus->attach_model(knobs);

  auto dlg = std::make_unique<torvane::CTorvaneDlg>(nullptr, scratch.filePath(QStringLiteral("Torvane.ini")));
  dlg->SetSimulatedBus(bus);
  dlg->show();
  auto* flash = qobject_cast<QPushButton*>(dlg->GetDlgItem(torvane::IDC_BTN_FLASH));
  auto* path = qobject_cast<QLineEdit*>(dlg->GetDlgItem(torvane::IDC_EDIT_PATH));
  if (flash == nullptr || path == nullptr) return state.SkipWithError("dialog controls missing");

  // The device is found and reported; then the window is left to settle.
  const bool found = RunEventLoopUntil(
      [&] {
        const torvane::DeviceController* controller = dlg->Controller();
        return controller != nullptr && controller->State() == torvane::DS_BOOT && flash->isEnabled();
      },
      10000);
  if (!found) return state.SkipWithError("the dialog did not find the simulated bootloader");
  RunEventLoopUntil([] { return false; }, 300);
  path->setText(image_path);

  ProgressWatch watch;
  watch.drop_repeats = drop_repeats;
  dlg->installEventFilter(&watch);
  TickGaps ticks;
  QEventLoop loop;
  watch.on_result = [&loop] { loop.quit(); };
  // A whole flash takes about exchanges x latency; far beyond that the
  // measurement gives up.
  const int timeout_ms = 60000 + static_cast<int>(int64_t{kImageBytes / 48 + 1} * latency_us / 1000 * 2);
  QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);

  for (auto _ : state) {
    ticks.Start();
    flash->click();
    loop.exec();
    ticks.Stop();
  }
  dlg->removeEventFilter(&watch);

  const auto verdict = bus->model(device)->verdict();
  if (watch.result != torvane::DL_OK || !verdict.completed || verdict.bytes.size() != kImageBytes) {
    dlg->close();
    return state.SkipWithError("the flash did not end with DL_OK and the image on the device");
  }
  state.counters["longest_stall_ms"] = ticks.LongestMs();
  state.counters["stall_at_ms"] = ticks.LongestAtMs();
  state.counters["stall_cpu_ms"] = ticks.LongestCpuMs();
  state.counters["busiest_gap_cpu_ms"] = ticks.BusiestMs();
  state.counters["p99_gap_ms"] = ticks.PercentileMs(0.99);
  state.counters["gaps_over_50ms"] = static_cast<double>(ticks.GapsOver(kStallGoalMs));
  state.counters["ticks"] = static_cast<double>(ticks.ticks());
  state.counters["flash_ms"] = ticks.ElapsedMs();
  state.counters["percent_posts"] = static_cast<double>(watch.percents);
  dlg->close();
}
BENCHMARK(BM_UiStallDuringFlash)
    ->ArgNames({"latency_us", "repeats_dropped"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({125, 0})
    ->Args({1000, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return torvane::bench::RunQtBenchmarks(argc, argv); }
