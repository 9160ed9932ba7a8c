// Takes the README's Windows screenshots under Wine:
//   torvane_win32_images main OUT.png IMAGE SHOWN_PATH
//     the main window after a flash of IMAGE into a simulated bootloader,
//     its path box showing SHOWN_PATH;
//   torvane_win32_images station OUT.png IMAGE SAMPLES
//     the station window running a locked job (slots, serial numbers) on
//     simulated units passed, failed, skipped and flashing.
// The window is copied from the screen with its frame and written as PNG.
#include <windows.h>
#include <shellapi.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "job/job_lock.h"
#include "monitor/device_controller.h"
#include "monitor/sim_hotplug_source.h"
#include "platform/utf8_path.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "ui/control_ids.h"
#include "ui/station_image.h"
#include "ui/station_table.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/station_window.h"
#include "ui/win32/win32_text.h"

namespace torvane {
namespace {

void Pump(HWND dialog, const std::function<bool()>& until, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!until() && std::chrono::steady_clock::now() < deadline) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog != nullptr && IsDialogMessageW(dialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  const uint32_t length = static_cast<uint32_t>(data.size());
  for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>((length >> shift) & 0xff);
  const std::string body = std::string(type, 4) + data;
  png += body;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>((crc >> shift) & 0xff);
}

// The window with its frame, from the screen, as an RGB PNG.
bool SaveWindow(HWND window, const std::string& path) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  std::string raw;
  const auto* pixels = static_cast<const uint8_t*>(bits);
  for (int y = 0; y < height; ++y) {
    raw += '\0';  // no filter
    for (int x = 0; x < width; ++x) {
      const uint8_t* bgra = pixels + (static_cast<size_t>(y) * width + x) * 4;
      raw += static_cast<char>(bgra[2]);
      raw += static_cast<char>(bgra[1]);
      raw += static_cast<char>(bgra[0]);
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  std::vector<Bytef> packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf packed_size = static_cast<uLongf>(packed.size());
  if (compress2(packed.data(), &packed_size, reinterpret_cast<const Bytef*>(raw.data()),
                static_cast<uLong>(raw.size()), 9) != Z_OK) {
    return false;
  }
  std::string header;
  for (uint32_t value : {static_cast<uint32_t>(width), static_cast<uint32_t>(height)}) {
    for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>((value >> shift) & 0xff);
  }
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  std::string png = "\x89PNG\r\n\x1a\n";
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", std::string(reinterpret_cast<const char*>(packed.data()), packed_size));
  Chunk(png, "IEND", std::string());
  std::ofstream(platform::PathFromUtf8(path), std::ios::binary) << png;
  return true;
}

void Attach(sim::SimBus& bus, const std::string& text) {
  sim::SimKnobs knobs;
  std::string error;
  if (sim::parse_sim_knobs(text, &knobs, &error)) bus.attach_model(knobs);
}

std::string TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return WideToUtf8(temp);
}

int MainWindow(const std::string& out, const std::string& image, const std::string& shown) {
  auto bus = std::make_shared<sim::SimBus>();
  Attach(*bus, "boot");
  MainDialog::Options options;
  options.settings_file = TempFolder() + "torvane-screenshot.ini";
  DeleteFileW(Utf8ToWide(options.settings_file).c_str());
  options.sim_bus = bus;
  MainDialog dialog(options);
  if (!dialog.Create()) return 1;
  SetWindowPos(dialog.Window(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
  Pump(dialog.Window(), [&] { return dialog.Controller()->State() == DS_BOOT; }, std::chrono::seconds(10));
  dialog.SetControlText(IDC_EDIT_PATH, image);
  SendMessageW(dialog.Item(IDC_BTN_FLASH), BM_CLICK, 0, 0);
  Pump(dialog.Window(), [&] { return dialog.LogText().find("下载成功") != std::string::npos; }, std::chrono::seconds(30));
  dialog.SetControlText(IDC_EDIT_PATH, shown);
  Pump(dialog.Window(), [] { return false; }, std::chrono::milliseconds(800));
  const bool saved = SaveWindow(dialog.Window(), out);
  dialog.Close();
  DeleteFileW(Utf8ToWide(options.settings_file).c_str());
  return saved ? 0 : 1;
}

// A locked job beside a copy of the image: slots 槽1 to 槽5, serial
// numbers from SN001000. Returns its path.
std::string WriteJob(const std::string& image, const std::string& folder) {
  std::ifstream in(platform::PathFromUtf8(image), std::ios::binary);
  std::ofstream(platform::PathFromUtf8(folder + "app.bin"), std::ios::binary) << in.rdbuf();
  std::string text = "[job]\nname = 主板 A2 量产\nimage = app.bin\nsha256 = " +
                     ReadStationImage(folder + "app.bin").digest.sha256 + "\ncount = 100\n[slots]\n";
  for (int slot = 1; slot <= 5; ++slot) text += "1-1." + std::to_string(slot) + " = 槽" + std::to_string(slot) + "\n";
  text += "[serial]\naddress = 0x1100\nwidth = 8\nformat = dec\nprefix = SN\nstart = 1000\n";
  text += "[lock]\npassword = " + MakeJobLockValue("screenshot") + "\n";
  const std::string path = folder + "torvane-screenshot-job.ini";
  std::ofstream(platform::PathFromUtf8(path), std::ios::binary) << text;
  DeleteFileW(Utf8ToWide(path + ".serials").c_str());
  return path;
}

int Station(const std::string& out, const std::string& image, const std::string& samples) {
  auto bus = std::make_shared<sim::SimBus>();
  hid_link_set_backend(bus);
  hid_link_init();
  StationWindowSetup setup;
  setup.settings.boot_update_bin = samples + "/burn_boot_0.3.0.0.bin";
  setup.settings.boot_update_bin_header = samples + "/head_1.0_2016_04_22.bin";
  setup.settings_path = TempFolder() + "Torvane.ini";
  setup.image_path = image;
  setup.make_hotplug_source = [bus] { return MakeSimHotplugSource(bus); };
  int result = 1;
  {
    StationWindow station(std::move(setup));
    if (station.Create(nullptr)) {
      SetWindowPos(station.Window(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
      const std::string record = TempFolder() + "torvane-screenshot-record.jsonl";
      DeleteFileW(Utf8ToWide(record).c_str());
      SetWindowTextW(station.Item(IDC_ST_RECORD_PATH), Utf8ToWide(record).c_str());
      const std::string job = WriteJob(image, TempFolder());
      station.OpenJob(job);
      Pump(station.Window(), [&] { return !WindowTextUtf8(station.Item(IDC_ST_DIGEST)).empty(); }, std::chrono::seconds(10));
      Attach(*bus, "boot,port=1-1.6,serial=A1B2C306");
      Attach(*bus, "boot,port=1-1.1,serial=A1B2C301");
      Attach(*bus, "oldboot,port=1-1.2,serial=A1B2C302");
      station.StartStation();
      Attach(*bus, "boot,port=1-1.3,serial=A1B2C303,start-status=9");
      Attach(*bus, "app,port=1-1.4,serial=A1B2C304");
      Pump(station.Window(), [&] { return station.Session().Counters().passed + station.Session().Counters().failed >= 3; },
           std::chrono::seconds(30));
      Attach(*bus, "boot,port=1-1.5,serial=A1B2C305,latency-us=30000");
      Pump(station.Window(), [&] {
        for (const StationRow& row : station.Session().Table().Rows()) {
          if (row.port == "1-1.5" && row.percent >= 30) return true;
        }
        return false;
      }, std::chrono::seconds(30));
      // A neutral record path in the picture.
      SetWindowTextW(station.Item(IDC_ST_RECORD_PATH), L"C:\\Users\\operator\\Torvane\\torvane-record.jsonl");
      Pump(station.Window(), [] { return false; }, std::chrono::milliseconds(600));
      result = SaveWindow(station.Window(), out) ? 0 : 1;
      station.Session().Shutdown();
      DeleteFileW(Utf8ToWide(record).c_str());
      for (const std::string& file : {job, job + ".serials", TempFolder() + "app.bin"}) {
        DeleteFileW(Utf8ToWide(file).c_str());
      }
    }
  }
  hid_link_exit();
  hid_link_set_backend(nullptr);
  return result;
}

}  // namespace
}  // namespace torvane

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(torvane::WideToUtf8(wide[i]));
  LocalFree(wide);
  if (args.size() == 4 && args[0] == "main") return torvane::MainWindow(args[1], args[2], args[3]);
  if (args.size() == 4 && args[0] == "station") return torvane::Station(args[1], args[2], args[3]);
  std::fprintf(stderr, "usage: torvane_win32_images main OUT IMAGE SHOWN | station OUT IMAGE SAMPLES\n");
  return 2;
}
