#include "cli/cli_session.h"

#include <unistd.h>

#include "device/hid_link.h"
#include "monitor/sim_hotplug_source.h"
#include "settings/app_paths.h"
#include "settings/number_text.h"
#include "sim/sim_knobs.h"

namespace torvane::cli {

namespace {
std::string hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04X", value);
  return text;
}
}  // namespace

CliSession::CliSession(const CliOptions& options) {
  ini_path_ = MakeAbsolutePath(kSettingsFileName);
  ini_.SetPathName(ini_path_);
  settings_ = LoadSettingsFromIni(ini_, &sources_);
  if (!options.simulate.empty()) {
    std::vector<sim::SimKnobs> devices;
    for (const std::string& text : options.simulate) {
      sim::SimKnobs knobs;
      if (!sim::parse_sim_knobs(text, &knobs, &error_)) {
        if (error_.empty()) error_ = "bad --simulate text";
        error_ = "'" + text + "': " + error_;
        return;
      }
      devices.push_back(knobs);
    }
    bus_ = std::make_shared<sim::SimBus>();
    auto attach_all = [this, devices] {
      for (const sim::SimKnobs& knobs : devices) {
        const sim::SimDeviceId id = bus_->attach_model(knobs);
        std::lock_guard<std::mutex> lock(sim_mutex_);
        sim_devices_.push_back(id);
      }
    };
    if (options.simulate_arrival_ms <= 0) {
      attach_all();
    } else {
      // The devices are plugged in later, from a thread of their own, as an
      // operator plugs a device in while the tool waits.
      arrival_ = std::thread([this, attach_all, delay = options.simulate_arrival_ms] {
        std::unique_lock<std::mutex> lock(arrival_mutex_);
        if (arrival_cv_.wait_for(lock, std::chrono::milliseconds(delay), [this] { return quitting_; })) return;
        lock.unlock();
        attach_all();
      });
    }
    hid_link_set_backend(bus_);
  }
  hid_link_init();
}

CliSession::~CliSession() {
  if (arrival_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(arrival_mutex_);
      quitting_ = true;
    }
    arrival_cv_.notify_all();
    arrival_.join();
  }
  const bool abandoned = controller_ && controller_->AnyThreadAbandoned();
  controller_.reset();
  // A thread left running may still be inside the HID layer.
  if (!abandoned) hid_link_exit();
  hid_link_set_backend(nullptr);
}

std::vector<sim::SimDeviceId> CliSession::sim_devices() const {
  std::lock_guard<std::mutex> lock(sim_mutex_);
  return sim_devices_;
}

CliFrontEnd& CliSession::Start() {
  IdentityTexts identity{hex4(settings_.app_vid), hex4(settings_.app_pid), hex4(settings_.app_usage),
                         hex4(settings_.app_usage_page)};
  front_end_ = std::make_unique<CliFrontEnd>(stdout, stderr, isatty(STDERR_FILENO) != 0, identity);
  controller_ = std::make_unique<DeviceController>(*front_end_, settings_);
  front_end_->SetController(controller_.get());
  controller_->RegisterDeviceNotifications(bus_ ? MakeSimHotplugSource(bus_) : MakeUdevHotplugSource());
  controller_->StartDownloadThread();
  controller_->StartEnumThread();
  controller_->RequestEnumeration();
  front_end_->ProcessUntil(
      [this] { return front_end_->EnumDoneCount() >= 1 && controller_->EnumRequests() == 0; },
      std::chrono::seconds(30));
  return *front_end_;
}

}  // namespace torvane::cli
