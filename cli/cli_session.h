// What every torvane-cli command sets up: the settings from Torvane.ini
// beside the executable, the HID layer on real hidraw devices or on a
// simulated bus, and the device controller hosted by the console front end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <thread>
#include <vector>
#include <optional>
#include <string>

#include "cli/cli_front_end.h"
#include "cli/device_selection.h"
#include "cli/sim_arrivals.h"
#include "monitor/device_controller.h"
#include "settings/ini_file.h"
#include "settings/settings_check.h"
#include "settings/settings_model.h"
#include "sim/sim_bus.h"

namespace torvane::cli {

struct CliOptions {
  // Knob texts, one simulated device each; empty for real devices.
  std::vector<std::string> simulate;
  int simulate_arrival_ms = 0;  // plug the simulated device in this late
  // Further simulated devices plugged in over time (sim_arrivals.h).
  std::string simulate_arrivals;
  // Narrows every command to the matching devices.
  DeviceSelection selection;
};

class CliSession {
 public:
  // Loads the settings and brings the HID layer up. On a bad --simulate
  // text, ok() is false and error() says why.
  explicit CliSession(const CliOptions& options);
  ~CliSession();

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  const std::string& ini_path() const { return ini_path_; }
  const Settings& settings() const { return settings_; }
  const SettingSources& sources() const { return sources_; }
  // Why the settings file cannot be used (empty when it can, or is missing),
  // and the number and flag values in it that do not parse.
  const std::string& settings_file_problem() const { return settings_file_problem_; }
  const std::vector<UnparsableSetting>& unparsable_settings() const { return unparsable_settings_; }
  bool simulated() const { return bus_ != nullptr; }
  std::shared_ptr<sim::SimBus> bus() const { return bus_; }
  // The simulated devices (attached so far), in the order they arrived.
  std::vector<sim::SimDeviceId> sim_devices() const;

  // Starts the controller: hot-plug source, worker threads, and the first
  // enumeration, whose report is printed before this returns.
  CliFrontEnd& Start();
  DeviceController& controller() { return *controller_; }
  // A thread of the caller's was left running inside the HID layer: the
  // layer stays up until the process ends.
  void KeepHidLinkUp() { keep_hid_link_ = true; }
  CliFrontEnd& front_end() { return *front_end_; }

 private:
  std::string error_;
  std::string ini_path_;
  CIni ini_;
  Settings settings_;
  SettingSources sources_;
  std::string settings_file_problem_;
  std::vector<UnparsableSetting> unparsable_settings_;
  std::shared_ptr<sim::SimBus> bus_;
  mutable std::mutex sim_mutex_;
  std::vector<sim::SimDeviceId> sim_devices_;
  std::thread arrival_;
  std::mutex arrival_mutex_;
  std::condition_variable arrival_cv_;
  bool quitting_ = false;
  bool keep_hid_link_ = false;
  std::unique_ptr<CliFrontEnd> front_end_;
  std::unique_ptr<DeviceController> controller_;
};

}  // namespace torvane::cli
