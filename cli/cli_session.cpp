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
    sim::SimKnobs knobs;
    if (!sim::parse_sim_knobs(options.simulate, &knobs, &error_)) {
      if (error_.empty()) error_ = "bad --simulate text";
      return;
    }
    bus_ = std::make_shared<sim::SimBus>();
    if (options.simulate_arrival_ms <= 0) {
      sim_device_ = bus_->attach_model(knobs);
    } else {
      // The device is plugged in later, from a thread of its own, as an
      // operator would plug it in while the tool waits.
      arrival_ = std::thread([bus = bus_, knobs, delay = options.simulate_arrival_ms, this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        sim_device_ = bus->attach_model(knobs);
      });
    }
    hid_link_set_backend(bus_);
  }
  hid_link_init();
}

CliSession::~CliSession() {
  if (arrival_.joinable()) arrival_.join();
  const bool abandoned = controller_ && controller_->AnyThreadAbandoned();
  controller_.reset();
  // A thread left running may still be inside the HID layer.
  if (!abandoned) hid_link_exit();
  hid_link_set_backend(nullptr);
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
