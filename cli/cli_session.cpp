#include "cli/cli_session.h"

#include <algorithm>

#include "device/hid_link.h"
#include "monitor/sim_hotplug_source.h"
#include "platform/console.h"
#include "platform/system_hid_backend.h"
#include "platform/system_hotplug.h"
#include "settings/app_paths.h"
#include "settings/number_text.h"
#include "sim/sim_knobs.h"
#include "text/hex_text.h"

namespace torvane::cli {

CliSession::CliSession(const CliOptions& options) {
  ini_path_ = MakeAbsolutePath(kSettingsFileName);
  ini_.SetPathName(ini_path_);
  settings_ = LoadSettingsFromIni(ini_, &sources_);
  settings_file_problem_ = UnusableSettingsFileReason(ini_path_);
  unparsable_settings_ = FindUnparsableSettings(ini_);
  std::vector<SimArrival> arrivals;
  for (const std::string& text : options.simulate) {
    SimArrival arrival{options.simulate_arrival_ms, {}, text};
    if (!sim::parse_sim_knobs(text, &arrival.knobs, &error_)) {
      if (error_.empty()) error_ = "bad --simulate text";
      error_ = "'" + text + "': " + error_;
      return;
    }
    arrivals.push_back(std::move(arrival));
  }
  if (!options.simulate_arrivals.empty()) {
    std::vector<SimArrival> more;
    if (!ParseSimArrivals(options.simulate_arrivals, &more, &error_)) {
      error_ = "--simulate-arrivals: " + error_;
      return;
    }
    arrivals.insert(arrivals.end(), more.begin(), more.end());
  }
  std::stable_sort(arrivals.begin(), arrivals.end(),
                   [](const SimArrival& a, const SimArrival& b) { return a.delay_ms < b.delay_ms; });
  std::shared_ptr<HidBackend> backend;
  if (!arrivals.empty()) {
    bus_ = std::make_shared<sim::SimBus>();
    backend = bus_;
    auto attach = [this](const sim::SimKnobs& knobs) {
      const sim::SimDeviceId id = bus_->attach_model(knobs);
      std::lock_guard<std::mutex> lock(sim_mutex_);
      sim_devices_.push_back(id);
    };
    size_t now = 0;
    while (now < arrivals.size() && arrivals[now].delay_ms <= 0) attach(arrivals[now++].knobs);
    if (now < arrivals.size()) {
      // The rest are plugged in later, from a thread of their own, as an
      // operator plugs devices in while the tool runs.
      arrival_ = std::thread([this, attach, later = std::vector<SimArrival>(arrivals.begin() + now, arrivals.end())] {
        const auto start = std::chrono::steady_clock::now();
        for (const SimArrival& arrival : later) {
          std::unique_lock<std::mutex> lock(arrival_mutex_);
          if (arrival_cv_.wait_until(lock, start + std::chrono::milliseconds(arrival.delay_ms),
                                     [this] { return quitting_; })) {
            return;
          }
          lock.unlock();
          attach(arrival.knobs);
        }
      });
    }
  }
  if (options.selection.Any()) {
    backend = MakeSelectingBackend(backend ? backend : platform::MakeSystemHidBackend(), options.selection);
  }
  if (backend) hid_link_set_backend(backend);
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
  const bool abandoned = keep_hid_link_ || (controller_ && controller_->AnyThreadAbandoned());
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
  IdentityTexts identity{HexDigits(settings_.app_vid, 4), HexDigits(settings_.app_pid, 4),
                         HexDigits(settings_.app_usage, 4), HexDigits(settings_.app_usage_page, 4)};
  front_end_ = std::make_unique<CliFrontEnd>(stdout, stderr, platform::IsTerminal(stderr), identity);
  controller_ = std::make_unique<DeviceController>(*front_end_, settings_);
  front_end_->SetController(controller_.get());
  controller_->RegisterDeviceNotifications(bus_ ? MakeSimHotplugSource(bus_) : platform::MakeSystemHotplugSource());
  controller_->StartDownloadThread();
  controller_->StartEnumThread();
  controller_->RequestEnumeration();
  front_end_->ProcessUntil(
      [this] { return front_end_->EnumDoneCount() >= 1 && controller_->EnumRequests() == 0; },
      std::chrono::seconds(30));
  return *front_end_;
}

}  // namespace torvane::cli
