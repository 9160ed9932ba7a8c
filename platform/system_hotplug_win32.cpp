// Hot-plug events on Windows: a thread of the source's own owns a
// message-only window registered for device-interface notifications of the
// HID class, and turns each arrival or removal into a call of on_change.
// A message-only window needs no desktop, so the console tool and tests get
// the events too.
#include "platform/system_hotplug.h"

#include <windows.h>
// dbt.h defines the event codes as macros; it comes after every header of
// the tool, which declares the same values as constants.
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <future>
#include <mutex>
#include <thread>

namespace torvane {

namespace {

constexpr const wchar_t* kWindowClass = L"TorvaneHotplugWindow";

class Win32HotplugSource final : public HotplugSource {
 public:
  ~Win32HotplugSource() override { Stop(); }

  bool Start(std::function<void(unsigned)> on_change) override {
    if (thread_.joinable()) return true;
    if (!register_window_class()) return false;
    on_change_ = std::move(on_change);
    // A member, not a local: the thread may still be inside set_value when
    // Start has its answer and returns.
    created_ = std::promise<HWND>();
    std::future<HWND> window = created_.get_future();
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      return false;
    }
    // Creating the window and registering for notifications take no time
    // worth bounding; the thread answers either way.
    window_ = window.get();
    if (window_ == nullptr) {
      thread_.join();
      return false;
    }
    return true;
  }

  void Stop() override {
    if (!thread_.joinable()) return;
    // WM_CLOSE ends the registration and the window, and so the thread's
    // message loop; a failed post falls back on the thread's queue.
    if (!PostMessageW(window_, WM_CLOSE, 0, 0)) PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
    window_ = nullptr;
  }

 private:
  static bool register_window_class() {
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof(wc);
      wc.lpfnWndProc = &Win32HotplugSource::window_procedure;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = kWindowClass;
      registered = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    });
    return registered;
  }

  void run() {
    thread_id_ = GetCurrentThreadId();
    HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), this);
    if (window != nullptr) {
      DEV_BROADCAST_DEVICEINTERFACE_W filter{};
      filter.dbcc_size = sizeof(filter);
      filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
      HidD_GetHidGuid(&filter.dbcc_classguid);
      notification_ = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
      if (notification_ == nullptr) {
        DestroyWindow(window);
        window = nullptr;
      }
    }
    created_.set_value(window);
    if (window == nullptr) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  }

  static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32HotplugSource*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case WM_DEVICECHANGE: {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lparam);
        if (self != nullptr && header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
            (wparam == DBT_DEVICEARRIVAL || wparam == DBT_DEVICEREMOVECOMPLETE)) {
          self->on_change_(static_cast<unsigned>(wparam));
        }
        return TRUE;
      }
      case WM_CLOSE:
        if (self != nullptr && self->notification_ != nullptr) {
          UnregisterDeviceNotification(self->notification_);
          self->notification_ = nullptr;
        }
        DestroyWindow(window);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
  }

  std::function<void(unsigned)> on_change_;
  std::promise<HWND> created_;
  std::thread thread_;
  HWND window_ = nullptr;
  DWORD thread_id_ = 0;
  // Owned by the window's thread.
  HDEVNOTIFY notification_ = nullptr;
};

}  // namespace

namespace platform {

std::unique_ptr<HotplugSource> MakeSystemHotplugSource() { return std::make_unique<Win32HotplugSource>(); }

}  // namespace platform

}  // namespace torvane
