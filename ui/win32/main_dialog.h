// The main window on Windows: dialog 102 made from its template in the
// program's resources (dialogs.rc), driven by the same device monitor and
// download worker as the Qt dialog through the shared front-end port. The
// window is modeless; the program's message loop (or a test) pumps it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "settings/ini_file.h"
#include "settings/settings_model.h"
#include "ui/dialog_port.h"
#include "ui/progress_log.h"

namespace torvane {

namespace sim {
class SimBus;
}
class DeviceController;
class Win32Poster;

// Window-menu command beside About that opens the station window.
inline constexpr unsigned IDM_STATION = 0x0020;
// Posted to itself after start-up: tell the operator the settings file
// cannot be used (the window is up by then).
inline constexpr UINT kMsgShowSettingsProblem = WM_APP + 1;

class MainDialog final : public DialogControls {
 public:
  struct Options {
    std::string settings_file = kSettingsFileName;  // relative: beside the executable
    std::shared_ptr<sim::SimBus> sim_bus;           // simulated mode (demos, tests)
    bool quit_on_close = false;                     // post WM_QUIT when the window goes
  };

  explicit MainDialog(Options options);
  ~MainDialog() override;
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Loads the rich-edit control and creates the window, which runs its
  // start-up (WM_INITDIALOG) before this returns. False when it failed.
  bool Create();
  // Shut-down as closing the window does: settings saved, workers stopped,
  // window destroyed. Idempotent.
  void Close();

  HWND Window() const { return window_; }
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  // The log pane's text with "\r\n" line ends.
  std::string LogText() const;
  std::string SettingsPath() const { return ini_.GetPathName(); }
  DeviceController* Controller() const { return controller_.get(); }

  // --- the controls as the shared logic sees them (UI thread) ---
  void AppendLogUtf8(const std::string& text, bool replace_last_line) override;
  std::string ControlText(int id) const override;
  void SetControlText(int id, const std::string& text) override;
  void EnableControl(int id, bool enabled) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void OnInitDialog();
  void OnDestroy();
  void OnCommand(int id);
  void OnSysCommand(unsigned id);
  void OnDownloadProgress(int64_t kind, int64_t value);
  void OnOpenFile();
  void OnClearLog();
  void OnStation();
  void ShowAbout();
  void ShowMessage(const std::string& text, UINT type);

  Options options_;
  HWND window_ = nullptr;
  HICON icon_big_ = nullptr;
  HICON icon_small_ = nullptr;
  CIni ini_;
  Settings settings_;
  std::string settings_problem_;
  ProgressLog progress_log_;
  std::shared_ptr<Win32Poster> poster_;
  std::unique_ptr<DialogPort> port_;
  std::unique_ptr<DeviceController> controller_;
  bool initialised_ = false;
  bool destroyed_ = false;
  // The station window is open: it owns the devices, so detection results
  // queued before it opened are dropped rather than acted on in its loop.
  bool station_open_ = false;
};

}  // namespace torvane
