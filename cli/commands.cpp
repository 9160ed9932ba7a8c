#include "cli/commands.h"

#include <cstdio>
#include <filesystem>

#include "cli/device_selection.h"
#include "cli/exit_codes.h"
#include "device/hid_link.h"
#include "download/download_worker.h"
#include "monitor/printable_text.h"
#include "monitor/status_report.h"
#include "monitor/stream_output.h"
#include "platform/console.h"
#include "platform/utf8_path.h"
#include "settings/app_paths.h"

namespace torvane::cli {

namespace {

std::atomic<int> g_interrupts{0};
// The first interrupt asks for a cancel between frames; a second one ends
// the process at once, however soon it follows (the main loop may not have
// looked at the first yet).
bool OnInterrupt(platform::InterruptKind) { return g_interrupts.fetch_add(1) == 0; }

// Whether the settings file is there (a broken link or a loop is not).
bool SettingsFileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(platform::PathFromUtf8(path), ec);
}

// The "cannot be opened" outcome: the reason on standard error (the
// permission hint has already given it for missing access rights).
int CannotOpen(const CliFrontEnd& ui, bool download = false) {
  const std::string reason = download ? ui.DownloadOpenFailure() : ui.OpenFailure();
  if (reason.find(kHidPermissionDeniedText) == std::string::npos) {
    std::fprintf(stderr, "cannot open the device: %s\n", reason.empty() ? "unknown reason" : reason.c_str());
  }
  return kExitDeviceError;
}

bool IsBootloader(DeviceState state) { return state == DS_BOOT || state == DS_OLDBOOT; }

uint64_t PaddedSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(platform::PathFromUtf8(path), ec);
  return ec ? 0 : (size + 3) & ~uint64_t{3};
}

void PrintVerdict(CliSession& session) {
  if (!session.simulated()) return;
  for (const sim::SimDeviceId id : session.sim_devices()) {
    auto model = session.bus()->model(id);
    if (!model) continue;
    const sim::SimVerdict v = model->verdict();
    if (v.transfer_started) CliFrontEnd::WriteResultText(stdout, "simulated device: " + v.summary() + "\n");
  }
}

}  // namespace

int RunInfo(CliSession& session) {
  if (RefuseAmbiguousAttached(session.settings(), SelectionPurpose::kInfo, "info")) return kExitUsage;
  const CliFrontEnd& ui = session.Start();
  const DeviceState state = session.controller().State();
  if (state == DS_NONE || state == DS_UNSET) return kExitNoDevice;
  // Found, but its report could not ask it anything.
  return ui.OpenFailure().empty() ? kExitOk : CannotOpen(ui);
}

int RunEnterBoot(CliSession& session, const EnterBootOptions& options) {
  if (RefuseAmbiguousAttached(session.settings(), SelectionPurpose::kEnterBoot, "enter-boot")) return kExitUsage;
  CliFrontEnd& ui = session.Start();
  DeviceController& controller = session.controller();
  const std::string before = ui.LogText();
  controller.OnEnterFlashMode();
  const std::string said = ui.LogText().substr(before.size());
  if (said.find(kTextWaiting) != std::string::npos) {
    // Done only when the device is back as a bootloader (its report shows).
    if (WaitUntil(ui, [&] { return IsBootloader(controller.State()); }, options.wait)) return kExitOk;
    std::fprintf(stderr, "no bootloader appeared within %s\n", DescribeWait(options.wait).c_str());
    return kExitNoDevice;
  }
  if (said.find(kTextDeviceError) != std::string::npos) return CannotOpen(ui);
  if (said.find(kTextNoDevice) != std::string::npos) return kExitNoDevice;
  if (controller.State() == DS_BOOT) return kExitOk;  // already a bootloader: opened, nothing sent
  return kExitProtocolError;
}

int RunFlash(CliSession& session, const FlashOptions& options) {
  if (RefuseAmbiguousAttached(session.settings(), SelectionPurpose::kFlash, "flash")) return kExitUsage;
  CliFrontEnd& ui = session.Start();
  DeviceController& controller = session.controller();
  const bool waits = options.wait.forever || options.wait.duration.count() > 0;
  if (!IsBootloader(controller.State()) && waits) {
    std::fprintf(stderr, "waiting %s for a flashable device...\n",
                 options.wait.forever ? "until interrupted" : ("up to " + DescribeWait(options.wait)).c_str());
    WaitUntil(ui, [&] { return IsBootloader(controller.State()); }, options.wait);
  }
  if (!IsBootloader(controller.State())) {
    std::fprintf(stderr, "no flashable device (bootloader) is attached\n");
    return kExitNoDevice;
  }
  // Again after a wait, so that devices plugged in meanwhile count.
  if (waits && RefuseAmbiguousAttached(session.settings(), SelectionPurpose::kFlash, "flash")) {
    return kExitUsage;
  }

  const Settings& s = session.settings();
  const DownloadJob job =
      BuildDownloadJob(controller.State(), controller.BootUpdateAdvised() != 0, options.image,
                       MakeAbsolutePath(s.boot_update_bin), MakeAbsolutePath(s.boot_update_bin_header));
  ui.SetTransferTotal(PaddedSize(job.image_path) + (job.header_path.empty() ? 0 : PaddedSize(job.header_path)));

  g_interrupts = 0;
  platform::CatchInterrupts(OnInterrupt);

  ui.ClearOpenFailure();
  LoadAddressChoice address;
  if (ParseLoadAddressChoice(options.address, &address)) controller.SetLoadAddressChoice(address);
  controller.OnFlash(options.image);
  int interrupts_seen = 0;
  while (!ui.Result()) {
    ui.ProcessUntil([&] { return ui.Result().has_value() || g_interrupts.load() != interrupts_seen; },
                    std::chrono::milliseconds(200));
    const int interrupts = g_interrupts.load();
    if (interrupts != interrupts_seen) {
      if (interrupts_seen == 0) {
        // The flash button's second press: the worker stops between frames,
        // so the device never gets half a frame.
        std::fprintf(stderr, "\ncancelling... (interrupt again to quit at once)\n");
        controller.OnFlash("");
        // A further interrupt ends the process the default way.
        platform::ReleaseInterrupts();
      }
      interrupts_seen = interrupts;
    }
  }
  platform::ReleaseInterrupts();
  const int result = *ui.Result();
  if (result == DL_OK && session.simulated()) {
    // Give the simulated device the moment it needs to check and restart.
    ui.ProcessFor(std::chrono::milliseconds(50));
  }
  PrintVerdict(session);
  // The worker goes on without a device it cannot open and fails at the
  // start command; the outcome is that the device cannot be opened. Only
  // the download's own open counts: a status report's failed open is not
  // the flash's outcome.
  if (result == DL_PROTOCOL_ERROR && !ui.DownloadOpenFailure().empty()) return CannotOpen(ui, true);
  return ExitCodeForResult(result);
}

int RunConfig(CliSession& session) {
  const Settings& s = session.settings();
  const SettingSources& src = session.sources();
  std::string file_state;
  if (!session.settings_file_problem().empty()) {
    file_state = " (cannot be used: " + session.settings_file_problem() + "; defaults in use)";
  } else if (!SettingsFileExists(session.ini_path())) {
    file_state = " (missing: defaults in use)";
  }
  std::printf("settings file: %s%s\n", session.ini_path().c_str(), file_state.c_str());
  auto origin = [&](const char* key) -> std::string {
    for (const UnparsableSetting& bad : session.unparsable_settings()) {
      if (bad.key == key) return "file, NOT USABLE: '" + bad.value + "' " + bad.reason;
    }
    auto it = src.find(key);
    return it != src.end() && it->second == SettingSource::File ? "file" : "default";
  };
  auto hex = [&](const char* key, uint32_t value, int width) {
    std::printf("%-30s = %0*X  (%s)\n", key, width, value, origin(key).c_str());
  };
  auto text = [&](const char* key, const std::string& value) {
    std::printf("%-30s = %s  (%s)\n", key, value.c_str(), origin(key).c_str());
  };
  auto flag = [&](const char* key, bool value) {
    std::printf("%-30s = %d  (%s)\n", key, value ? 1 : 0, origin(key).c_str());
  };
  text("Recent/File Path", s.file_path);
  hex("Config/VID", s.app_vid, 4);
  hex("Config/PID", s.app_pid, 4);
  hex("Config/Usage Page", s.app_usage_page, 4);
  hex("Config/Usage", s.app_usage, 4);
  hex("Config/App Address", s.app_address, 8);
  flag("Config/Disable User Input", s.disable_user_input);
  hex("OldBoot/VID", s.old_boot_vid, 4);
  hex("OldBoot/PID", s.old_boot_pid, 4);
  hex("Boot/VID", s.boot_vid, 4);
  hex("Boot/PID", s.boot_pid, 4);
  hex("Boot/Usage Page", s.boot_usage_page, 4);
  hex("Boot/Usage", s.boot_usage, 4);
  text("Boot/Boot Update Bin", s.boot_update_bin);
  text("Boot/Boot Bin Info", s.boot_bin_info);
  text("Boot/Boot Update Bin Header", s.boot_update_bin_header);
  flag("Boot/Boot Update Check", s.boot_update_check);
  // Scripts can check the settings with the status the other commands
  // would refuse with.
  if (!session.settings_file_problem().empty()) return kExitFileError;
  return session.unparsable_settings().empty() ? kExitOk : kExitUsage;
}

}  // namespace torvane::cli
