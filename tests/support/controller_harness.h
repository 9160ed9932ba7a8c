// A running device controller on the simulated bus, hosted by a front end
// that records what a window would show: the log text with its display
// lines, the two device buttons, the flash button's caption and every
// download result. The test thread plays the UI thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "download/download_result.h"
#include "download/progress_text.h"
#include "monitor/device_controller.h"
#include "monitor/queued_front_end.h"
#include "monitor/sim_hotplug_source.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"

namespace torvane::testing {

class RecordingFrontEnd : public QueuedFrontEnd {
 public:
  void AppendLog(const std::string& text, bool replace) override {
    if (replace) {
      // Drop the last line that holds text (and its line break).
      if (log.size() >= 2 && log.compare(log.size() - 2, 2, "\r\n") == 0) {
        const size_t prev = log.rfind("\r\n", log.size() - 3);
        log.erase(prev == std::string::npos || log.size() < 3 ? 0 : prev + 2);
      } else {
        log.clear();
      }
    }
    log += text;
  }
  IdentityTexts ReadIdentityTexts() override { return identity; }
  void SetEnterFlashModeEnabled(bool enabled) override { enter_enabled = enabled; }
  void SetFlashEnabled(bool enabled) override { flash_enabled = enabled; }
  void SetFlashCaption(const std::string& caption) override { flash_caption = caption; }
  void OnDownloadProgress(int kind, int value) override {
    if (kind == PROGRESS_PERCENT) percents.push_back(value);
    if (kind == PROGRESS_RESULT) results.push_back(value);
    if (const auto entry = DownloadProgressEntry(kind, value)) AppendLog(entry->text, entry->replace_last_line);
  }

  std::string log;
  IdentityTexts identity{"0534", "0002", "0000", "0001"};
  bool enter_enabled = true;
  bool flash_enabled = true;
  std::string flash_caption = "烧录";
  std::vector<int> percents;
  std::vector<int> results;
};

// Brings the HID layer up on a fresh simulated bus and runs the start-up
// sequence of the window (threads, hot-plug, first enumeration).
class ControllerHarness {
 public:
  explicit ControllerHarness(Settings settings = Settings{}) : bus(std::make_shared<sim::SimBus>()) {
    hid_link_set_backend(bus);
    hid_link_init();
    controller = std::make_unique<DeviceController>(ui, settings);
    ui.SetController(controller.get());
    controller->RegisterDeviceNotifications(MakeSimHotplugSource(bus));
    controller->StartDownloadThread();
    controller->StartEnumThread();
    controller->RequestEnumeration();
    WaitEnumDone(1);
  }
  ~ControllerHarness() {
    controller.reset();
    hid_link_exit();
    hid_link_set_backend(nullptr);
  }

  sim::SimDeviceId Attach(const std::string& knob_text) {
    sim::SimKnobs knobs;
    std::string error;
    EXPECT_TRUE(sim::parse_sim_knobs(knob_text, &knobs, &error)) << error;
    return bus->attach_model(knobs);
  }

  // Runs posted messages until n WM_ENUM_DONE have been handled in all and
  // no enumeration is pending.
  bool WaitEnumDone(int n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return ui.ProcessUntil(
        [&] { return ui.EnumDoneCount() >= n && controller->EnumRequests() == 0; }, timeout);
  }

  // Attaches or detaches and waits until the controller reports the state.
  bool WaitState(DeviceState state, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return ui.ProcessUntil([&] { return controller->State() == state; }, timeout);
  }

  // Presses the flash button and waits for the result of that download.
  int Flash(const std::string& path, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const size_t before = ui.results.size();
    controller->OnFlash(path);
    EXPECT_TRUE(ui.ProcessUntil([&] { return ui.results.size() > before; }, timeout));
    return ui.results.size() > before ? ui.results.back() : 999;
  }

  sim::SimVerdict Verdict(sim::SimDeviceId id) { return bus->model(id)->verdict(); }

  std::shared_ptr<sim::SimBus> bus;
  RecordingFrontEnd ui;
  std::unique_ptr<DeviceController> controller;
};

}  // namespace torvane::testing
