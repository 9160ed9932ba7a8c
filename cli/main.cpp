// torvane-cli: the flasher without a window, for production lines, CI and
// scripts. Prints the same log texts as the dialog.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/inventory_commands.h"
#include "cli/job_command.h"
#include "cli/report_command.h"
#include "cli/settings_gate.h"
#include "cli/station_command.h"
#include "cli/wait_option.h"
#include "download/load_address.h"
#include "monitor/debug_trace.h"
#include "monitor/stream_output.h"
#include "platform/console.h"
#include "platform/stream_write.h"
#include "torvane_version.h"

namespace {

// For the commands whose output is what they are run for (list, info,
// config): output that could not be written (a full disk, a reader gone)
// fails the command with the reason, whatever it found.
int OutputChecked(int status) {
  torvane::FlushResults();
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int flush_errno = errno;
  if (flushed && !std::ferror(stdout) && torvane::ResultWriteError() == 0) return status;
  const int why = flush_errno != 0 ? flush_errno : torvane::ResultWriteError();
  std::fprintf(stderr, "torvane-cli: cannot write standard output: %s\n",
               why != 0 ? std::strerror(why) : "write error");
  return torvane::cli::kExitFileError;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  torvane::IgnoreBrokenPipes();
  // A file size limit makes a write fail (EFBIG) instead of ending the
  // process, so the record file cuts a partial line back and says so.
  torvane::platform::IgnoreFileSizeLimitSignal();
  torvane::platform::PrepareConsoleOutput();
  using namespace torvane::cli;

  CLI::App app{"Torvane: writes firmware images into USB HID devices through their bootloader"};
  app.set_version_flag("--version", std::string("torvane-cli ") + TORVANE_VERSION);
  app.require_subcommand(1);
  // A Windows-built CLI11 reads "/name" as an option; image paths under
  // Wine, and the options of every other build, begin with '/' or '-'.
  app.allow_windows_style_options(false);
  app.fallthrough();  // --simulate may also follow the command
  CliOptions options;
  app.add_option("--simulate", options.simulate,
                 "Use the simulated bus with a device described by knob text, e.g. boot,busy-block=3:2 "
                 "(repeat for several devices)")
      ->allow_extra_args(false);  // one text per --simulate, so IMAGE stays positional
  // An empty text would quietly mean "none" (the real bus, no record): refused.
  const CLI::Validator not_empty(
      [](std::string& text) { return text.empty() ? std::string("must not be empty") : std::string(); }, "");
  bool debug = false;
  app.add_flag("--debug", debug, "Print the timing traces of device detection on standard error");
  app.add_option("--simulate-arrival-ms", options.simulate_arrival_ms,
                 "Plug the simulated device in this many milliseconds after start")
      ->check(CLI::NonNegativeNumber);

  app.add_option("--simulate-arrivals", options.simulate_arrivals,
                 "Simulated devices plugged in over time: knob text ended by @MS each, "
                 "e.g. boot@0,boot@200,oldboot@400,boot,unplug-block=5@600")
      ->check(not_empty);
  app.add_option("--path", options.selection.path, "Work on the device with this hidraw path only");
  app.add_option("--serial", options.selection.serial, "Work on the device with this serial number only");
  app.add_option("--port", options.selection.port, "Work on the device plugged into this port path only (see list)");

  bool json = false;
  auto* list = app.add_subcommand("list", "List every HID interface, its kind, serial number and port");
  list->add_flag("--json", json, "One JSON array on standard output");
  auto* info = app.add_subcommand("info", "Detect the device and print its report");
  info->add_flag("--json", json, "One JSON object on standard output");
  auto* enter = app.add_subcommand("enter-boot", "Send an application-mode device into its bootloader");
  EnterBootOptions enter_options;
  AddWaitOption(enter, &enter_options.wait,
                "Wait up to SECONDS (default 5) for the device to come back as a bootloader");
  auto* config = app.add_subcommand("config", "Print the effective settings and where they came from");
  auto* flash = app.add_subcommand("flash", "Flash IMAGE (or the boot update files when due)");
  FlashOptions flash_options;
  constexpr const char* kImageHelp =
      "Firmware image: raw binary (.bin), Intel HEX (.hex) or Motorola S-record (.srec, .s19, .s28, .s37)";
  flash->add_option("IMAGE", flash_options.image, kImageHelp);
  auto add_address_option = [](CLI::App* command, std::string* address) {
    command
        ->add_option("--address", *address,
                     "Load address: HEX, or auto for the HEX/S-record file's own (default: App Address); "
                     "a file's own address must agree with it")
        ->check([](const std::string& text) {
          torvane::LoadAddressChoice choice;
          return torvane::ParseLoadAddressChoice(text, &choice) ? std::string() : "expected auto or a hexadecimal address";
        });
  };
  add_address_option(flash, &flash_options.address);
  AddWaitOption(flash, &flash_options.wait, "Wait up to SECONDS for a device to appear");
  auto* station = app.add_subcommand(
      "station", "Flash every device plugged in, in parallel, until Ctrl-C or --count units; record each unit");
  StationOptions station_options;
  station->add_option("IMAGE", station_options.image, std::string(kImageHelp) + "; required without --job");
  station->add_option("--job", station_options.job,
                      "Run the production job in FILE: image, pinned SHA-256, address, slot map, serial numbers, "
                      "count, attempts, enter-boot, record; an option given as well must agree with it")
      ->type_name("FILE")
      ->check(not_empty);
  station->add_flag("--enter-boot", station_options.enter_boot,
                    "Send application-mode devices into their bootloader and flash them when they come back");
  AddWaitOption(station, &station_options.boot_wait,
                "With --enter-boot: wait up to SECONDS (default 5) for an application to come back as a bootloader "
                "on its port, else it fails",
                "--enter-boot-wait");
  station->add_option("--count", station_options.count,
                      "End once N units have a final outcome (passed, or failed for good); 0 (the default) "
                      "runs until Ctrl-C")
      ->check(CLI::NonNegativeNumber);
  station->add_option("--record", station_options.record, "Append one JSON line per finished unit to FILE")
      ->check(not_empty);
  add_address_option(station, &station_options.address);
  station->add_option("--attempts", station_options.attempts,
                      "Flashes per unit when it comes back in its bootloader after a failure (default 1)")
      ->check(CLI::Range(1, 1000));
  auto* report = app.add_subcommand(
      "report", "The yield of station record files: units, passed, failed, first-pass yield, causes, durations");
  ReportOptions report_options;
  report->add_option("RECORDS", report_options.files, "Record files written by station --record (one per station)")
      ->required();
  report->add_option("--since", report_options.since,
                     "Only units whose outcome came at or after TIME (2026-12-07T14:00, local time unless it has "
                     "a zone such as +01:00 or Z)");
  report->add_option("--until", report_options.until, "Only units whose outcome came before TIME");
  report->add_flag("--json", report_options.json, "One JSON object on standard output");
  auto* job = app.add_subcommand("job", "Check a production job file, or lock it with an admin password");
  job->require_subcommand(1);
  JobOptions job_options;
  auto* job_check = job->add_subcommand(
      "check", "Check FILE and its image as the station would run it, without touching devices; print a summary, "
               "or every problem by line and key (exit 2)");
  auto* job_lock = job->add_subcommand(
      "lock", "Lock FILE with the admin password read from standard input (a locked one takes the current "
              "password first)");
  auto* job_unlock =
      job->add_subcommand("unlock", "Remove FILE's lock; takes the current password on standard input");
  for (auto* command : {job_check, job_lock, job_unlock}) {
    command->add_option("FILE", job_options.file, "Job file")->required();
  }
  app.footer(
      "Exit codes: 0 success, 1 file error, 2 usage error, 3 protocol error, 4 no device,\n"
      "5 start command stayed busy, 6 cancelled, 7 device found but cannot be opened,\n"
      "8 station: some unit failed.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  if (*station && station_options.image.empty() && station_options.job.empty()) {
    std::fprintf(stderr, "station: IMAGE or --job FILE is required\nRun with --help for more information.\n");
    return kExitUsage;
  }

  torvane::SetDebugTraceEnabled(debug);
  // No way out of the tool ends in an uncaught exception: whatever escapes
  // a command is reported and ends it with a failure status.
  try {
    // The report reads files only: no device, no settings.
    if (*report) return OutputChecked(RunReport(report_options));
    // Locking edits the job file only.
    if (*job_lock || *job_unlock) return OutputChecked(RunJobLock(job_options, job_lock->parsed()));
    CliSession session(options);
    const bool info_json = *info && json;
    if (!session.ok()) {
      std::fprintf(stderr, "%s%s\n", session.error().rfind("--simulate", 0) == 0 ? "" : "--simulate: ",
                   session.error().c_str());
      return info_json ? OutputChecked(PrintInfoJsonError(kExitUsage, session.error())) : kExitUsage;
    }
    if (*config) return OutputChecked(RunConfig(session));
    const int refused =
        CheckSettingsBeforeCommand(session, *list ? CommandNeeds::Settings : CommandNeeds::Devices);
    if (refused != kExitOk) {
      return info_json ? OutputChecked(PrintInfoJsonError(refused, "the settings cannot be used (see standard error)"))
                       : refused;
    }
    if (*list) return OutputChecked(RunList(session, json));
    if (*info) return OutputChecked(json ? RunInfoJson(session) : RunInfo(session));
    if (*enter) return RunEnterBoot(session, enter_options);
    if (*flash) return RunFlash(session, flash_options);
    if (*station) {
      StationOptionsGiven& given = station_options.given;
      given.image = station->count("IMAGE") > 0;
      given.enter_boot = station->count("--enter-boot") > 0;
      given.count = station->count("--count") > 0;
      given.record = station->count("--record") > 0;
      given.attempts = station->count("--attempts") > 0;
      given.address = station->count("--address") > 0;
      given.boot_wait = station->count("--enter-boot-wait") > 0;
      return RunStation(session, station_options);
    }
    if (*job_check) return OutputChecked(RunJobCheck(session, job_options));
    return kExitUsage;
  } catch (const std::filesystem::filesystem_error& e) {
    std::fprintf(stderr, "torvane-cli: %s\n", e.what());
    return kExitFileError;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "torvane-cli: %s\n", e.what());
    return kExitUsage;
  }
}
