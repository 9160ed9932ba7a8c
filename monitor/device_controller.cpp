#include "monitor/device_controller.h"

#include "device/boot_protocol.h"
#include "monitor/debug_trace.h"
#include "monitor/status_report.h"
#include "settings/app_paths.h"
#include "settings/number_text.h"

namespace torvane {

namespace {

std::shared_ptr<HidDevice> adopt(HidDevice* device) {
  if (device == nullptr) return nullptr;
  return std::shared_ptr<HidDevice>(device, [](HidDevice* d) { hid_link_close(d); });
}

// A usage page or usage of 0xFFFF places no condition on the open.
const uint16_t* optional_usage(const uint16_t& value) { return value == 0xFFFF ? nullptr : &value; }

bool present(uint16_t vid, uint16_t pid) {
  // VID and PID both 0 would match every HID device (0 = any): an identity
  // left unset or unparsable must never take a keyboard for a bootloader.
  if (!IdentityCanMatch(vid, pid)) return false;
  HidDeviceInfoList list(hid_link_find(vid, pid));
  return list != nullptr;
}

}  // namespace

// The front end, detachable so that nothing is posted to a window that is
// going away.
class FrontEndLink {
 public:
  explicit FrontEndLink(FrontEnd* ui) : ui_(ui) {}
  void Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    ui_ = nullptr;
  }
  void PostLog(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ui_ != nullptr) ui_->PostLog(text);
  }
  void PostDownloadProgress(int kind, int value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ui_ != nullptr) ui_->PostDownloadProgress(kind, value);
  }
  void PostDownloadFailureReason(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ui_ != nullptr) ui_->PostDownloadFailureReason(reason);
  }
  void PostEnumDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ui_ != nullptr) ui_->PostEnumDone();
  }
  void PostDeviceChange(unsigned event) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ui_ != nullptr) ui_->PostDeviceChange(event);
  }
  // Called after an open failed on the calling thread: tells the front end
  // why, and once when the reason was missing access rights.
  void ReportOpenFailure(bool for_download = false) {
    const std::string reason = hid_link_last_open_error();
    std::lock_guard<std::mutex> lock(mutex_);
    if (ui_ == nullptr) return;
    ui_->NoteOpenFailed(reason, for_download);
    if (hid_link_last_open_denied() && !told_denied_.exchange(true)) ui_->PostPermissionDenied(reason);
  }

 private:
  std::mutex mutex_;
  FrontEnd* ui_;
  std::atomic<bool> told_denied_{false};
};

struct DeviceController::Shared final : DownloadHost {
  Shared(FrontEnd* ui, const Settings& s)
      : link(ui),
        settings(s),
        boot_update_image(MakeAbsolutePath(s.boot_update_bin)),
        boot_update_header(MakeAbsolutePath(s.boot_update_bin_header)) {}

  FrontEndLink link;
  const Settings settings;
  const std::string boot_update_image;
  const std::string boot_update_header;
  std::atomic<uint16_t> state{DS_UNSET};
  std::atomic<int> boot_update_advised{0};

  // The open device. The pointer is swapped under the mutex; whoever uses
  // the device holds a reference, so a close releases it only after the
  // last exchange on it has ended.
  mutable std::mutex device_mutex;
  std::shared_ptr<HidDevice> device;

  AutoResetEvent enum_event;
  std::atomic<int32_t> enum_stop{0};
  std::atomic<int32_t> enum_requests{0};
  // Runs on the enumeration thread right after each rebuild (tests make a
  // request arrive during the rebuild with it). Set before the thread starts.
  std::function<void()> after_rebuild_for_testing;
  ThreadFinish enum_finish;

  std::shared_ptr<HidDevice> Current() const {
    std::lock_guard<std::mutex> lock(device_mutex);
    return device;
  }
  void Store(std::shared_ptr<HidDevice> d) {
    std::shared_ptr<HidDevice> old;
    {
      std::lock_guard<std::mutex> lock(device_mutex);
      old = std::move(device);
      device = std::move(d);
    }
    // `old` is released here, outside the lock.
  }

  // Opens the bootloader kinds; they use fixed identities from the settings.
  std::shared_ptr<HidDevice> OpenBootloader(DeviceState s, bool for_download = false) {
    std::shared_ptr<HidDevice> opened;
    if (s == DS_OLDBOOT) {
      opened = adopt(hid_link_open(settings.old_boot_vid, settings.old_boot_pid,
                                   optional_usage(settings.boot_usage_page),
                                   optional_usage(settings.boot_usage)));
    } else if (s == DS_BOOT) {
      opened = adopt(hid_link_open(settings.boot_vid, settings.boot_pid,
                                   optional_usage(settings.boot_usage_page),
                                   optional_usage(settings.boot_usage)));
    }
    if (!opened) link.ReportOpenFailure(for_download);
    return opened;
  }

  // DownloadHost
  DeviceState CurrentState() const override { return static_cast<DeviceState>(state.load()); }
  bool BootUpdateAdvised() const override { return boot_update_advised.load() != 0; }
  uint32_t LoadAddress() const override { return settings.app_address; }
  LoadAddressChoice AddressChoice() const override {
    std::lock_guard<std::mutex> lock(address_mutex);
    return address_choice;
  }
  mutable std::mutex address_mutex;
  LoadAddressChoice address_choice;
  std::string BootUpdateImagePath() const override { return boot_update_image; }
  std::string BootUpdateHeaderPath() const override { return boot_update_header; }

  std::shared_ptr<HidDevice> DeviceForDownload() override {
    const DeviceState s = CurrentState();
    std::shared_ptr<HidDevice> current = Current();
    if ((s != DS_OLDBOOT && s != DS_BOOT) || current) return current;
    std::shared_ptr<HidDevice> opened = OpenBootloader(s, true);
    if (opened) {
      std::lock_guard<std::mutex> lock(device_mutex);
      if (device) {
        // The UI thread opened one meanwhile; use that and let ours go.
        opened = device;
      } else {
        device = opened;
      }
      return opened;  // RC_OPENED shows nothing
    }
    link.PostLog(SimpleReportText(RC_ERROR) + kLineEnd);
    return nullptr;
  }

  void DropDevice(const std::shared_ptr<HidDevice>& d) override {
    std::shared_ptr<HidDevice> old;
    std::lock_guard<std::mutex> lock(device_mutex);
    if (device == d) old = std::move(device);
  }

  void PostDownloadProgress(int kind, int value) override { link.PostDownloadProgress(kind, value); }
  void PostDownloadFailureReason(const std::string& reason) override { link.PostDownloadFailureReason(reason); }
};

namespace {

void EnumThreadLoop(DeviceController::Shared& shared) {
  long long last_trace = -1;
  while (shared.enum_stop.load() == 0) {
    const bool woken = shared.enum_event.wait_for(std::chrono::milliseconds(5000));
    if (shared.enum_stop.load() != 0) break;
    if (!woken || shared.enum_requests.load() == 0) continue;
    const long long now = TickCountMs();
    if (last_trace < 0) last_trace = now;
    DebugTrace("DoEnumerate: %d\n", static_cast<int>(now - last_trace));
    last_trace = TickCountMs();
    // The request is served from here on: one made while the list is being
    // rebuilt (the rebuild may already have scanned past its device) raises
    // the counter again and causes another rebuild.
    LowerRequestCounter(shared.enum_requests);
    hid_link_refresh();
    if (shared.after_rebuild_for_testing) shared.after_rebuild_for_testing();
    shared.link.PostEnumDone();
  }
}

void EnumThreadProc(std::shared_ptr<DeviceController::Shared> shared) {
  if (!shared) return;
  EnumThreadLoop(*shared);
  shared->enum_finish.MarkFinished();
}

}  // namespace

DeviceController::DeviceController(FrontEnd& ui, const Settings& settings)
    : ui_(ui),
      shared_(std::make_shared<Shared>(&ui, settings)),
      worker_(shared_),
      m_appPid(settings.app_pid),
      m_appVid(settings.app_vid),
      m_appUsage(settings.app_usage),
      m_appUsagePage(settings.app_usage_page) {}

DeviceController::~DeviceController() {
  UnregisterDeviceNotifications();
  worker_.StopDownloadThread();
  StopEnumThread();
  shared_->link.Detach();
  CloseDevice();
}

bool DeviceController::RegisterDeviceNotifications(std::unique_ptr<HotplugSource> source) {
  UnregisterDeviceNotifications();
  if (!source) return false;
  std::shared_ptr<Shared> shared = shared_;
  if (!source->Start([shared](unsigned event) { shared->link.PostDeviceChange(event); })) return false;
  hotplug_ = std::move(source);
  return true;
}

void DeviceController::UnregisterDeviceNotifications() {
  if (hotplug_) {
    hotplug_->Stop();
    hotplug_.reset();
  }
}

int DeviceController::StartDownloadThread() { return worker_.StartDownloadThread(); }
void DeviceController::StopDownloadThread() { worker_.StopDownloadThread(); }

bool DeviceController::StartEnumThread() {
  shared_->enum_stop = 0;
  if (enum_thread_.joinable()) return true;
  shared_->enum_finish.Reset();
  try {
    enum_thread_ = std::thread(EnumThreadProc, shared_);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void DeviceController::StopEnumThread() {
  if (!enum_thread_.joinable()) return;
  shared_->enum_stop = 1;
  shared_->enum_event.set();
  // A thread that misses the deadline co-owns everything it touches.
  if (!shared_->enum_finish.JoinOrDetach(enum_thread_, enum_stop_timeout_)) enum_abandoned_ = true;
}

bool DeviceController::AnyThreadAbandoned() const { return enum_abandoned_ || worker_.Abandoned(); }

void DeviceController::ReadAppIdentity() {
  const IdentityTexts texts = ui_.ReadIdentityTexts();
  const auto vid = static_cast<uint16_t>(ParseHexU32(texts.vid));
  const auto pid = static_cast<uint16_t>(ParseHexU32(texts.pid));
  const auto usage = static_cast<uint16_t>(ParseHexU32(texts.usage));
  const auto usage_page = static_cast<uint16_t>(ParseHexU32(texts.usage_page));
  if (vid != m_appVid || pid != m_appPid || usage != m_appUsage || usage_page != m_appUsagePage) {
    CloseDevice();
    m_appVid = vid;
    m_appPid = pid;
    m_appUsage = usage;
    m_appUsagePage = usage_page;
  }
}

DeviceState DeviceController::DetectDeviceState() {
  ReadAppIdentity();
  const Settings& s = shared_->settings;
  if (present(s.old_boot_vid, s.old_boot_pid)) return DS_OLDBOOT;
  if (present(s.boot_vid, s.boot_pid)) return DS_BOOT;
  if (present(m_appVid, m_appPid)) return DS_APP;
  return DS_NONE;
}

bool DeviceController::OpenDeviceForState() {
  CloseDevice();
  const DeviceState s = State();
  std::shared_ptr<HidDevice> opened;
  if (s == DS_OLDBOOT || s == DS_BOOT) {
    opened = shared_->OpenBootloader(s);
  } else if (s == DS_APP) {
    const IdentityTexts texts = ui_.ReadIdentityTexts();
    m_appVid = static_cast<uint16_t>(ParseHexU32(texts.vid));
    m_appPid = static_cast<uint16_t>(ParseHexU32(texts.pid));
    m_appUsage = static_cast<uint16_t>(ParseHexU32(texts.usage));
    m_appUsagePage = static_cast<uint16_t>(ParseHexU32(texts.usage_page));
    opened = adopt(hid_link_open(m_appVid, m_appPid, optional_usage(m_appUsagePage),
                                 optional_usage(m_appUsage)));
    if (!opened) shared_->link.ReportOpenFailure();
  }
  const bool ok = opened != nullptr;
  shared_->Store(std::move(opened));
  return ok;
}

void DeviceController::CloseDevice() { shared_->Store(nullptr); }

void DeviceController::RequestEnumeration() {
  if (shared_->enum_requests.load() != 0) return;
  ReadAppIdentity();
  shared_->enum_requests.fetch_add(1);
  shared_->enum_event.set();
}

int DeviceController::OnEnumDone() {
  const long long now = TickCountMs();
  if (last_check_tick_ < 0) last_check_tick_ = now;
  // Each debugger message is a record of its own; on a stream a line end
  // keeps the records apart.
  DebugOutput("CheckDevice@" + std::to_string(now - last_check_tick_) + "\n");
  last_check_tick_ = now;

  const DeviceState detected = DetectDeviceState();
  if (detected == State()) return 0;
  worker_.CancelIfDownloading();
  CloseDevice();
  shared_->state = detected;
  const bool bootloader = detected == DS_OLDBOOT || detected == DS_BOOT;
  ui_.SetEnterFlashModeEnabled(!bootloader);
  ui_.SetFlashEnabled(bootloader);
  ReportDeviceStatus(detected == DS_NONE ? RC_NO_DEVICE : RC_FOUND);
  return 0;
}

bool DeviceController::OnDeviceChange(unsigned event) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
  RequestEnumeration();
  return true;
}

void DeviceController::ReportDeviceStatus(int code) {
  std::string message;
  if (code == RC_FOUND) {
    OpenDeviceForState();
    int status = BOOT_STATUS_NONE;
    BootInfo info;
    {
      std::shared_ptr<HidDevice> device = shared_->Current();
      boot_query_info(device.get(), &status, &info);
    }
    CloseDevice();
    ui_.SetFlashCaption(kCaptionFlash);
    int advised = shared_->boot_update_advised.load();
    const FoundReport report =
        BuildFoundReport(State(), status, info, shared_->settings.boot_bin_info,
                         shared_->settings.boot_update_check, &advised);
    shared_->boot_update_advised = advised;
    if (report.update_caption) ui_.SetFlashCaption(kCaptionUpdateBoot);
    message = report.message;
  } else {
    message = SimpleReportText(code);
  }
  if (!message.empty()) ui_.AppendLog(message + kLineEnd, false);
}

void DeviceController::OnEnterFlashMode() {
  const DeviceState detected = DetectDeviceState();
  shared_->state = detected;
  if (detected == DS_APP) {
    if (!DeviceOpen()) {
      if (!OpenDeviceForState()) {
        ReportDeviceStatus(RC_ERROR);
        return;
      }
      ReportDeviceStatus(RC_OPENED);
    }
    ui_.AppendLog(kTextEnteringFlashMode, false);
    int status = BOOT_STATUS_NONE;
    {
      std::shared_ptr<HidDevice> device = shared_->Current();
      boot_send_command(device.get(), BOOT_CMD_ENTER_BOOT, nullptr, 0, &status);
    }
    if (status == 0 || status == 4) ReportDeviceStatus(RC_WAITING);
  } else if (detected == DS_BOOT) {
    ReportDeviceStatus(OpenDeviceForState() ? RC_OPENED : RC_ERROR);
  } else {
    ReportDeviceStatus(RC_NO_DEVICE);
  }
}

void DeviceController::OnFlash(const std::string& image_path_text) { worker_.OnFlash(image_path_text); }

void DeviceController::SetLoadAddressChoice(const LoadAddressChoice& choice) {
  std::lock_guard<std::mutex> lock(shared_->address_mutex);
  shared_->address_choice = choice;
}

DeviceState DeviceController::State() const { return static_cast<DeviceState>(shared_->state.load()); }
int DeviceController::BootUpdateAdvised() const { return shared_->boot_update_advised.load(); }
bool DeviceController::DeviceOpen() const { return shared_->Current() != nullptr; }
int32_t DeviceController::EnumRequests() const { return shared_->enum_requests.load(); }
const Settings& DeviceController::GetSettings() const { return shared_->settings; }

void DeviceController::SetAfterRebuildHookForTesting(std::function<void()> hook) {
  shared_->after_rebuild_for_testing = std::move(hook);
}

void DeviceController::SetDownloadEndHookForTesting(std::function<void()> hook) {
  worker_.SetDownloadEndHookForTesting(std::move(hook));
}

void DeviceController::SetStopTimeout(std::chrono::milliseconds timeout) {
  worker_.stop_timeout = timeout;
  enum_stop_timeout_ = timeout;
}

}  // namespace torvane
