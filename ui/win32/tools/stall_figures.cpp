// Prints the longest UI-thread stall of the Win32 windows under load: the
// main window during a 1 MiB flash into a simulated bootloader that answers
// after 1000 us, and the station window with 16 simulated units. A stall is
// the time one message takes to handle, so the window's reaction to the
// operator is never held up longer.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "device/hid_link.h"
#include "monitor/device_controller.h"
#include "monitor/sim_hotplug_source.h"
#include "platform/utf8_path.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "ui/control_ids.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/station_window.h"
#include "ui/win32/win32_text.h"

namespace torvane {
namespace {

using Clock = std::chrono::steady_clock;

// Pumps until done; returns the longest single message's handling in ms.
double PumpMeasuring(HWND dialog, const std::function<bool()>& done, std::chrono::seconds timeout) {
  const auto deadline = Clock::now() + timeout;
  double longest = 0;
  while (!done() && Clock::now() < deadline) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      const auto start = Clock::now();
      if (dialog == nullptr || !IsDialogMessageW(dialog, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      if (took > longest && std::getenv("TORVANE_FIGURES_TRACE") != nullptr) {
        wchar_t name[64] = {};
        GetClassNameW(message.hwnd, name, 64);
        std::fprintf(stderr, "message 0x%04x to %ls took %.2f ms\n", message.message, name, took);
      }
      longest = std::max(longest, took);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return longest;
}

void Attach(sim::SimBus& bus, const std::string& text) {
  sim::SimKnobs knobs;
  std::string error;
  if (sim::parse_sim_knobs(text, &knobs, &error)) bus.attach_model(knobs);
}

std::string Temp(const char* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return WideToUtf8(temp) + name;
}

std::string WriteImage(const char* name, size_t size) {
  const std::string path = Temp(name);
  std::ofstream out(platform::PathFromUtf8(path), std::ios::binary);
  for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 31 + 7));
  return path;
}

void MainWindowFlash() {
  auto bus = std::make_shared<sim::SimBus>();
  Attach(*bus, "boot,latency-us=1000,no-restart");
  MainDialog::Options options;
  options.settings_file = Temp("torvane-figures.ini");
  options.sim_bus = bus;
  MainDialog dialog(options);
  if (!dialog.Create()) return;
  PumpMeasuring(dialog.Window(), [&] { return dialog.Controller()->State() == DS_BOOT; }, std::chrono::seconds(10));
  const std::string image = WriteImage("torvane-figures-1mib.bin", 1 << 20);
  dialog.SetControlText(IDC_EDIT_PATH, image);
  const auto start = Clock::now();
  SendMessageW(dialog.Item(IDC_BTN_FLASH), BM_CLICK, 0, 0);
  const double stall = PumpMeasuring(
      dialog.Window(), [&] { return dialog.LogText().find("下载成功") != std::string::npos; }, std::chrono::seconds(600));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("main window, 1 MiB flash, 1000 us device: %.1f s, longest UI-thread stall %.2f ms (limit 50)\n", seconds,
              stall);
  dialog.Close();
  DeleteFileW(Utf8ToWide(image).c_str());
  DeleteFileW(Utf8ToWide(options.settings_file).c_str());
}

void StationSixteenUnits() {
  auto bus = std::make_shared<sim::SimBus>();
  hid_link_set_backend(bus);
  hid_link_init();
  const std::string image = WriteImage("torvane-figures-64k.bin", 64 * 1024);
  StationWindowSetup setup;
  setup.settings_path = Temp("torvane-figures.ini");
  setup.image_path = image;
  setup.make_hotplug_source = [bus] { return MakeSimHotplugSource(bus); };
  {
    StationWindow station(std::move(setup));
    if (station.Create(nullptr)) {
      const std::string record = Temp("torvane-figures-record.jsonl");
      DeleteFileW(Utf8ToWide(record).c_str());
      SetWindowTextW(station.Item(IDC_ST_RECORD_PATH), Utf8ToWide(record).c_str());
      station.StartStation();
      const auto start = Clock::now();
      for (int i = 1; i <= 16; ++i) Attach(*bus, "boot,no-restart,latency-us=300,port=1-" + std::to_string(i));
      const double stall = PumpMeasuring(station.Window(), [&] {
        const auto& c = station.Session().Counters();
        return c.passed + c.failed >= 16;
      }, std::chrono::seconds(600));
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      const auto& c = station.Session().Counters();
      std::printf("station window, 16 units x 64 KiB: %.1f s, %d passed, %d failed, longest UI-thread stall %.2f ms "
                  "(limit 30)\n", seconds, c.passed, c.failed, stall);
      station.Session().Shutdown();
      DeleteFileW(Utf8ToWide(record).c_str());
    }
  }
  hid_link_exit();
  hid_link_set_backend(nullptr);
  DeleteFileW(Utf8ToWide(image).c_str());
}

}  // namespace
}  // namespace torvane

int main() {
  if (std::getenv("TORVANE_FIGURES_STATION_ONLY") == nullptr) torvane::MainWindowFlash();
  torvane::StationSixteenUnits();
  // Again, with the fonts the first round loaded (the first paint of new
  // glyphs under Wine is slow).
  torvane::StationSixteenUnits();
  return 0;
}
