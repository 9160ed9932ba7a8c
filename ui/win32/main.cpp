// torvane.exe: the main dialog, or with --station the station window alone.
//   torvane.exe [--simulate KNOBS]... [--station [IMAGE]]
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "monitor/sim_hotplug_source.h"
#include "platform/system_hotplug.h"
#include "settings/app_paths.h"
#include "settings/ini_file.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/message_box.h"
#include "ui/win32/station_window.h"
#include "ui/win32/win32_text.h"

namespace torvane {
namespace {

constexpr const char* kUsage =
    "torvane [--simulate KNOBS]... [--station [IMAGE]]\n\n"
    "--simulate KNOBS  run on a simulated bus with a device described by knob text, e.g. boot,busy-block=3:2\n"
    "                  (repeat for several devices)\n"
    "--station         open the production station window: every device plugged in is flashed\n"
    "IMAGE             with --station: the image to flash (default: the last one chosen)";

std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

int RunStationAlone(std::shared_ptr<sim::SimBus> bus, const std::string& image) {
  CIni ini;
  ini.SetPathName(MakeAbsolutePath(kSettingsFileName));
  StationWindowSetup setup;
  setup.settings = LoadSettingsFromIni(ini);
  setup.settings_path = ini.GetPathName();
  const std::string shown = image.empty() ? setup.settings.file_path : image;
  setup.image_path = shown.empty() ? std::string() : MakeAbsolutePath(shown);
  setup.make_hotplug_source = [bus]() -> std::unique_ptr<HotplugSource> {
    return bus ? MakeSimHotplugSource(bus) : platform::MakeSystemHotplugSource();
  };
  if (bus) hid_link_set_backend(bus);
  hid_link_init();
  RunStationWindow(nullptr, std::move(setup));
  // A worker left behind may still be inside the HID layer.
  if (!AnyStationWorkerAbandoned()) {
    hid_link_exit();
    if (bus) hid_link_set_backend(nullptr);
  }
  return 0;
}

int Run() {
  std::shared_ptr<sim::SimBus> bus;
  bool station = false;
  std::string image;
  const std::vector<std::string> args = Arguments();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--simulate" && i + 1 < args.size()) {
      sim::SimKnobs knobs;
      std::string error;
      if (!sim::parse_sim_knobs(args[++i], &knobs, &error)) {
        ShowMessageBox(nullptr, "--simulate '" + args[i] + "': " + error, "Torvane", MB_ICONERROR | MB_OK);
        return 2;
      }
      if (!bus) bus = std::make_shared<sim::SimBus>();
      bus->attach_model(knobs);
    } else if (arg == "--station") {
      station = true;
    } else if (station && image.empty() && !arg.starts_with("-")) {
      image = arg;
    } else {
      ShowMessageBox(nullptr, kUsage, "Torvane", (arg == "-h" || arg == "--help" ? MB_ICONINFORMATION : MB_ICONERROR) | MB_OK);
      return arg == "-h" || arg == "--help" ? 0 : 2;
    }
  }
  if (station) return RunStationAlone(bus, image);

  MainDialog::Options options;
  options.sim_bus = bus;
  options.quit_on_close = true;
  MainDialog dialog(options);
  if (!dialog.Create()) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (dialog.Window() != nullptr && IsDialogMessageW(dialog.Window(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace
}  // namespace torvane

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // No way out of the program ends in an uncaught exception.
  try {
    return torvane::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "torvane: %s\n", e.what());
    return 1;
  }
}
