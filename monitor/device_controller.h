// The tool's picture of the attached device and everything that acts on it:
// detection, the enumeration thread, the open device, the status report, the
// enter-flashing-mode command and the download worker. Qt-free; the dialog
// (and the command-line tool) host it through the FrontEnd port and route
// their buttons and posted messages to the handlers below.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "device/hid_link.h"
#include "download/download_worker.h"
#include "download/load_address.h"
#include "monitor/auto_reset_event.h"
#include "monitor/device_state.h"
#include "monitor/front_end.h"
#include "monitor/hotplug_source.h"
#include "settings/settings_model.h"

namespace torvane {

class DeviceController {
 public:
  DeviceController(FrontEnd& ui, const Settings& settings);
  ~DeviceController();
  DeviceController(const DeviceController&) = delete;
  DeviceController& operator=(const DeviceController&) = delete;

  // --- start-up and shut-down pieces, called by the host in its order ---
  // Starts the hot-plug source; its events reach OnDeviceChange through the
  // front end. Without a call only explicit enumeration requests happen.
  bool RegisterDeviceNotifications(std::unique_ptr<HotplugSource> source);
  void UnregisterDeviceNotifications();
  int StartDownloadThread();
  void StopDownloadThread();
  bool StartEnumThread();
  void StopEnumThread();
  // True when a worker missed its stop deadline and was left to end by
  // itself; the HID layer must then stay up until the process ends.
  bool AnyThreadAbandoned() const;

  // --- device monitoring (UI thread) ---
  void ReadAppIdentity();
  DeviceState DetectDeviceState();
  bool OpenDeviceForState();
  void CloseDevice();
  void RequestEnumeration();
  int OnEnumDone();
  bool OnDeviceChange(unsigned event);

  // --- status report and commands (UI thread) ---
  void ReportDeviceStatus(int code);
  void OnEnterFlashMode();
  void OnFlash(const std::string& image_path_text);
  // Where the next downloads flash (the command line's --address).
  void SetLoadAddressChoice(const LoadAddressChoice& choice);

  // --- observers ---
  DeviceState State() const;
  int BootUpdateAdvised() const;
  bool DeviceOpen() const;
  int32_t DownloadRequests() const { return worker_.DownloadRequests(); }
  int32_t CancelRequests() const { return worker_.CancelRequests(); }
  int32_t EnumRequests() const;
  const Settings& GetSettings() const;
  // Shortens the shutdown bounds (tests).
  void SetStopTimeout(std::chrono::milliseconds timeout);
  // Test seams into the two race windows of the request counters: `hook`
  // runs on the enumeration thread right after each rebuild of the list,
  // or on the download thread between the decrements that end a download.
  // Set while the thread is idle.
  void SetAfterRebuildHookForTesting(std::function<void()> hook);
  void SetDownloadEndHookForTesting(std::function<void()> hook);

  // Everything the worker threads touch; they co-own it.
  struct Shared;

 private:
  FrontEnd& ui_;
  std::shared_ptr<Shared> shared_;
  DownloadWorker worker_;
  std::thread enum_thread_;
  bool enum_abandoned_ = false;
  std::chrono::milliseconds enum_stop_timeout_{5000};
  std::unique_ptr<HotplugSource> hotplug_;
  uint16_t m_appPid;
  uint16_t m_appVid;
  uint16_t m_appUsage;
  uint16_t m_appUsagePage;
  long long last_check_tick_ = -1;
};

}  // namespace torvane
