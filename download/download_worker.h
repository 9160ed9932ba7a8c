// The download thread: sleeps on its event, and each time the flash button
// has raised the request counter builds the job from the attached device's
// kind, prepares the image, runs the transfer and posts progress and the
// result. The flash button's second press asks for cancellation.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "device/hid_link.h"
#include "download/download_result.h"
#include "download/load_address.h"
#include "download/prepare_image.h"
#include "monitor/auto_reset_event.h"
#include "monitor/device_state.h"
#include "monitor/thread_finish.h"

namespace torvane {

// What the worker needs of the rest of the tool. The worker thread holds it
// by shared_ptr, so a thread abandoned at shutdown never touches freed state.
class DownloadHost {
 public:
  virtual ~DownloadHost() = default;
  virtual DeviceState CurrentState() const = 0;
  virtual bool BootUpdateAdvised() const = 0;
  virtual uint32_t LoadAddress() const = 0;
  // How the load address is chosen; App Address (LoadAddress) by default.
  virtual LoadAddressChoice AddressChoice() const { return {}; }
  // Absolute paths of the boot update image and its header.
  virtual std::string BootUpdateImagePath() const = 0;
  virtual std::string BootUpdateHeaderPath() const = 0;
  // The device to flash: the open one, or (for a bootloader state with no
  // open device) a freshly opened one, reporting the open's outcome. The
  // caller co-owns the result, so a close on the UI thread never releases a
  // device in the middle of an exchange. May be null.
  virtual std::shared_ptr<HidDevice> DeviceForDownload() = 0;
  // Closes the device if it is still the open one (after a failed download,
  // so that a late reply cannot be taken as the next download's answer).
  virtual void DropDevice(const std::shared_ptr<HidDevice>& device) = 0;
  // WM_DOWNLOAD_PROGRESS.
  virtual void PostDownloadProgress(int kind, int value) = 0;
  // Why the download about to be reported as failed failed (which file,
  // what is wrong); posted just before its result.
  virtual void PostDownloadFailureReason(const std::string& reason) { (void)reason; }
};

// The job for the attached device: old bootloader -> boot update image;
// advised update -> boot update image behind its header; else the path as
// typed.
DownloadJob BuildDownloadJob(DeviceState state, bool boot_update_advised,
                             const std::string& image_path, const std::string& boot_update_image,
                             const std::string& boot_update_header);

class DownloadWorker {
 public:
  explicit DownloadWorker(std::shared_ptr<DownloadHost> host);
  ~DownloadWorker();
  DownloadWorker(const DownloadWorker&) = delete;
  DownloadWorker& operator=(const DownloadWorker&) = delete;

  // 1 when the thread runs (also when it already ran), 0 otherwise.
  int StartDownloadThread();
  // Asks the thread to end and waits at most stop_timeout for it; a thread
  // that misses the deadline is abandoned (it owns everything it touches).
  void StopDownloadThread();

  // The flash button: starts a download, or while one is requested asks for
  // its cancellation (once).
  void OnFlash(const std::string& image_path_text);

  // Raises the cancel request when a download is requested and no cancel is
  // pending (a change of the attached device).
  void CancelIfDownloading();

  // Sets Shared::between_counters_for_testing; while the thread is idle.
  void SetDownloadEndHookForTesting(std::function<void()> hook) {
    shared_->between_counters_for_testing = std::move(hook);
  }

  int32_t DownloadRequests() const { return shared_->download_requests.load(); }
  int32_t CancelRequests() const { return shared_->cancel_requests.load(); }
  bool Running() const { return thread_.joinable(); }
  bool Abandoned() const { return abandoned_; }

  // Shutdown bound; tests may shorten it.
  std::chrono::milliseconds stop_timeout{5000};
  // Idle wake-up period of the thread.
  static constexpr std::chrono::milliseconds kWakePeriod{5000};

  // Everything the thread touches.
  struct Shared {
    explicit Shared(std::shared_ptr<DownloadHost> h) : host(std::move(h)) {}
    std::shared_ptr<DownloadHost> host;
    AutoResetEvent download_event;
    std::atomic<int32_t> download_stop{0};
    std::atomic<int32_t> download_requests{0};
    std::atomic<int32_t> cancel_requests{0};
    std::string image_path;  // written only while download_requests is 0
    // Runs on the download thread between lowering the cancel and the
    // request counter at the end of a download (tests open the window
    // between the two with it).
    std::function<void()> between_counters_for_testing;
    ThreadFinish finish;
  };

  // One download on the calling thread; 1 for DL_OK, else 0.
  static int DoDownload(Shared& shared, const DownloadJob& job);
  static void DownloadThreadLoop(Shared& shared);

 private:
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  bool abandoned_ = false;
};

}  // namespace torvane
