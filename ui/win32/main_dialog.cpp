#include "ui/win32/main_dialog.h"

#include <richedit.h>

#include <cstdio>
#include <vector>

#include "device/hid_link.h"
#include "monitor/device_controller.h"
#include "monitor/sim_hotplug_source.h"
#include "platform/system_hotplug.h"
#include "settings/app_paths.h"
#include "sim/sim_bus.h"
#include "ui/control_ids.h"
#include "ui/dialog_settings.h"
#include "ui/dialog_template.h"
#include "ui/dialog_texts.h"
#include "ui/win32/file_chooser.h"
#include "ui/win32/message_box.h"
#include "ui/win32/station_window.h"
#include "ui/win32/win32_text.h"
#include "ui/win32/window_poster_win32.h"

namespace torvane {

namespace {

std::unique_ptr<HotplugSource> MakeHotplugSource(const std::shared_ptr<sim::SimBus>& bus) {
  return bus ? MakeSimHotplugSource(bus) : platform::MakeSystemHotplugSource();
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    EndDialog(window, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

MainDialog::MainDialog(Options options) : options_(std::move(options)) {}

MainDialog::~MainDialog() {
  Close();
  if (icon_big_ != nullptr) DestroyIcon(icon_big_);
  if (icon_small_ != nullptr) DestroyIcon(icon_small_);
}

bool MainDialog::Create() {
  // The log pane is a rich-edit control of this library's window class.
  static const HMODULE rich_edit = LoadLibraryW(L"Msftedit.dll");
  if (rich_edit == nullptr) {
    std::fprintf(stderr, "[torvane] the rich-edit library did not load: %s\n",
                 platform::SystemErrorText(GetLastError()).c_str());
    return false;
  }
  window_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_TORVANE_DIALOG), nullptr, DialogProc,
                               reinterpret_cast<LPARAM>(this));
  if (window_ == nullptr) {
    std::fprintf(stderr, "[torvane] the main window could not be made: %s\n",
                 platform::SystemErrorText(GetLastError()).c_str());
    return false;
  }
  ShowWindow(window_, SW_SHOW);
  return true;
}

void MainDialog::Close() {
  if (window_ == nullptr) return;
  OnDestroy();
  if (poster_) poster_->Detach();
  const HWND window = window_;
  window_ = nullptr;
  SetWindowLongPtrW(window, DWLP_USER, 0);
  DestroyWindow(window);
  if (options_.quit_on_close) PostQuitMessage(0);
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<MainDialog*>(lparam);
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    self->window_ = window;
    self->OnInitDialog();
    return TRUE;
  }
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->Handle(message, wparam, lparam) : FALSE;
}

INT_PTR MainDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED || lparam == 0) OnCommand(LOWORD(wparam));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0u) == IDM_ABOUTBOX || (wparam & 0xFFF0u) == IDM_STATION) {
        OnSysCommand(static_cast<unsigned>(wparam & 0xFFF0u));
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      Close();
      return TRUE;
    case kMsgDownloadProgress:
      OnDownloadProgress(static_cast<int64_t>(wparam), static_cast<int64_t>(static_cast<int>(lparam)));
      return TRUE;
    case kMsgEnumDone:
      if (controller_ && !destroyed_ && !station_open_) controller_->OnEnumDone();
      return TRUE;
    case kMsgAppendLog: {
      std::unique_ptr<PostedLogText> entry(reinterpret_cast<PostedLogText*>(lparam));
      if (entry) AppendLogUtf8(entry->text, entry->replace_last_line);
      return TRUE;
    }
    case kMsgDeviceChange:
      if (controller_ && !destroyed_ && !station_open_) controller_->OnDeviceChange(static_cast<unsigned>(wparam));
      return TRUE;
    case kMsgPermissionDenied:
      ShowMessage("无法打开设备: " + (port_ ? port_->PermissionDeniedReason() : std::string()) + "。", MB_ICONWARNING);
      return TRUE;
    case kMsgShowSettingsProblem:
      ShowMessage(SettingsProblemText(ini_.GetPathName(), settings_problem_), MB_ICONWARNING);
      return TRUE;
    default:
      return FALSE;
  }
}

void MainDialog::OnInitDialog() {
  initialised_ = true;
  // 1. The controls come from the template. The log pane takes plain text
  //    and is never trimmed.
  const HWND log = Item(IDC_LOG);
  SendMessageW(log, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
  SendMessageW(log, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  // 2. About and the station in the window menu.
  if (HMENU menu = GetSystemMenu(window_, FALSE); menu != nullptr) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, Utf8ToWide(kAboutMenuText).c_str());
    AppendMenuW(menu, MF_STRING, IDM_STATION, Utf8ToWide(kStationMenuText).c_str());
  }
  // 3. The icon, big and small.
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  icon_big_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  icon_small_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_big_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_small_));
  // 4. - 5. The settings file beside the executable (or the one given),
  //    its values into the boxes. An unusable one is reported once the
  //    window is up, and never rewritten.
  ini_.SetPathName(MakeAbsolutePath(options_.settings_file));
  LoadedDialogSettings loaded = LoadDialogSettings(ini_.GetPathName());
  settings_ = loaded.settings;
  settings_problem_ = loaded.problem;
  ShowSettingsInBoxes(settings_, *this);
  if (!settings_problem_.empty()) PostMessageW(window_, kMsgShowSettingsProblem, 0, 0);
  // 6. The operator-mode lock.
  for (int id : kUserInputControls) EnableControl(id, !settings_.disable_user_input);
  // 7. The device monitor and the download worker, on the system's HID
  //    devices or the simulated bus.
  poster_ = std::make_shared<Win32Poster>(window_);
  port_ = std::make_unique<DialogPort>(*this, poster_);
  controller_ = std::make_unique<DeviceController>(*port_, settings_);
  controller_->RegisterDeviceNotifications(MakeHotplugSource(options_.sim_bus));
  if (options_.sim_bus) hid_link_set_backend(options_.sim_bus);
  hid_link_init();
  controller_->StartDownloadThread();
  controller_->StartEnumThread();
  controller_->RequestEnumeration();
}

void MainDialog::OnDestroy() {
  if (!initialised_ || destroyed_) return;
  destroyed_ = true;
  if (settings_problem_.empty()) {
    std::string error;
    if (!SaveDialogBoxes(ini_.GetPathName(), *this, settings_.disable_user_input, &error)) {
      // Nothing is shown to the operator; developers see it on stderr.
      std::fprintf(stderr, "[torvane] settings not saved to %s: %s\n", ini_.GetPathName().c_str(), error.c_str());
    }
  }
  controller_->StopDownloadThread();
  // No more arrivals: nothing would serve their enumeration requests.
  controller_->UnregisterDeviceNotifications();
  controller_->StopEnumThread();
  controller_->CloseDevice();
  // A worker that missed its stop deadline may still be inside the HID
  // layer; it is then left up until the process ends.
  if (controller_->AnyThreadAbandoned() || AnyStationWorkerAbandoned()) return;
  hid_link_exit();
  if (options_.sim_bus) hid_link_set_backend(nullptr);
}

void MainDialog::OnCommand(int id) {
  if (destroyed_) return;
  switch (id) {
    case IDC_BTN_FLASH: controller_->OnFlash(ControlText(IDC_EDIT_PATH)); break;
    case IDC_BTN_ENTER_FLASH_MODE: controller_->OnEnterFlashMode(); break;
    case IDC_BTN_OPEN: OnOpenFile(); break;
    case IDC_BTN_CLEAR: OnClearLog(); break;
    case IDOK:      // Enter outside a push button
    case IDCANCEL:  // Escape
      Close();
      break;
    default: break;
  }
}

void MainDialog::OnSysCommand(unsigned id) {
  if (id == IDM_ABOUTBOX) ShowAbout();
  if (id == IDM_STATION) OnStation();
}

void MainDialog::ShowAbout() {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), window_, AboutProc, 0);
}

void MainDialog::ShowMessage(const std::string& text, UINT type) {
  ShowMessageBox(window_, text, WindowTextUtf8(window_), type | MB_OK);
}

void MainDialog::OnOpenFile() {
  std::string chosen;
  if (ChooseImageFile(window_, ControlText(IDC_EDIT_PATH), &chosen)) SetControlText(IDC_EDIT_PATH, chosen);
}

void MainDialog::OnClearLog() {
  progress_log_.LineChanged();
  SetDlgItemTextW(window_, IDC_LOG, L"");
}

void MainDialog::OnStation() {
  if (destroyed_) return;
  if (controller_->DownloadRequests() > 0) {
    ShowMessage(kStationBusyText, MB_ICONINFORMATION);
    return;
  }
  StationWindowSetup setup;
  setup.settings = settings_;
  setup.settings_path = ini_.GetPathName();
  const std::string image = ControlText(IDC_EDIT_PATH);
  setup.image_path = image.empty() ? std::string() : MakeAbsolutePath(image);
  const auto bus = options_.sim_bus;
  setup.make_hotplug_source = [bus] { return MakeHotplugSource(bus); };
  // While the station runs the main window leaves the devices alone: its
  // detection would talk to a unit in the middle of its flash.
  controller_->UnregisterDeviceNotifications();
  controller_->CloseDevice();
  station_open_ = true;
  RunStationWindow(window_, std::move(setup));
  station_open_ = false;
  if (!destroyed_) {
    controller_->RegisterDeviceNotifications(MakeHotplugSource(bus));
    controller_->RequestEnumeration();
  }
}

void MainDialog::OnDownloadProgress(int64_t kind, int64_t value) {
  const auto entry = progress_log_.Entry(kind, value);
  if (!entry) return;
  AppendLogUtf8(entry->text, entry->replace_last_line);
  progress_log_.Shown(value, entry->replace_last_line);
}

void MainDialog::AppendLogUtf8(const std::string& text, bool replace_last_line) {
  if (window_ == nullptr) return;
  progress_log_.LineChanged();
  const HWND log = Item(IDC_LOG);
  if (replace_last_line) {
    // The last line that holds text: display line n - 2 of n when n - 1 > 0,
    // else line 0 (text written ends with a line end, so line n - 1 is empty).
    const auto lines = static_cast<int>(SendMessageW(log, EM_GETLINECOUNT, 0, 0));
    const auto start = lines - 1 > 0 ? static_cast<int>(SendMessageW(log, EM_LINEINDEX, lines - 2, 0)) : 0;
    SendMessageW(log, EM_SETSEL, start, -1);
  } else {
    GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
    const auto end = static_cast<int>(SendMessageW(log, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0));
    SendMessageW(log, EM_SETSEL, end, end);
  }
  SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(Utf8ToWide(text).c_str()));
  SendMessageW(log, EM_SCROLLCARET, 0, 0);
}

std::string MainDialog::LogText() const {
  const HWND log = Item(IDC_LOG);
  GETTEXTLENGTHEX length{GTL_USECRLF | GTL_NUMCHARS | GTL_PRECISE, 1200};
  const auto chars = SendMessageW(log, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
  std::vector<wchar_t> buffer(static_cast<size_t>(chars) + 1, L'\0');
  GETTEXTEX get{};
  get.cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  get.flags = GT_USECRLF;
  get.codepage = 1200;
  SendMessageW(log, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(buffer.data()));
  return WideToUtf8(buffer.data());
}

std::string MainDialog::ControlText(int id) const { return WindowTextUtf8(Item(id)); }

void MainDialog::SetControlText(int id, const std::string& text) {
  SetDlgItemTextW(window_, id, Utf8ToWide(text).c_str());
}

void MainDialog::EnableControl(int id, bool enabled) { EnableWindow(Item(id), enabled ? TRUE : FALSE); }

}  // namespace torvane
