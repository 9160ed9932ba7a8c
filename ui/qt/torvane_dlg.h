// The main window (dialog 102): the controls of its template, start-up and
// shut-down, the About box, the open button with its file chooser, the log
// pane and the rendering of download progress. The device monitor and the
// download worker plug in through the marked hooks below; until they do,
// the window runs without devices.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "settings/ini_file.h"
#include "settings/settings_model.h"
#include "ui/dialog_port.h"
#include "ui/progress_log.h"

class QAction;
class QLineEdit;
class QPushButton;

namespace torvane {

namespace sim {
class SimBus;
}
class DeviceController;
class DialogPoster;
class LogPane;

class CTorvaneDlg : public QDialog, public DialogControls {
  Q_OBJECT

 public:
  // settings_file: the settings file's name; start-up makes it absolute
  // against the executable's directory, so the default is Torvane.ini
  // beside the executable. An absolute path is used as it is.
  explicit CTorvaneDlg(QWidget* parent = nullptr, QString settings_file = QString::fromUtf8(kSettingsFileName));
  ~CTorvaneDlg() override;

  // The control with this id (its objectName is the id in decimal), or null.
  QWidget* GetDlgItem(int id) const;
  // The settings file in use (empty before start-up).
  std::string SettingsPath() const { return m_ini.GetPathName(); }
  bool Initialised() const { return m_initialised; }
  bool Destroyed() const { return m_destroyed; }

  // Any thread: the text reaches AppendLog(text, false) on the UI thread,
  // in order with the other posted messages.
  void PostLog(const QString& text);
  // Any thread: the poster worker threads keep; it outlives the dialog and
  // drops posts once the dialog is gone.
  std::shared_ptr<DialogPoster> Poster() const { return m_poster; }

  // Runs start-up on the first show (OnInitDialog) before the window
  // appears.
  void setVisible(bool visible) override;
  // Every way of closing ends here: Escape, Enter outside a push button,
  // the title bar's close button, accept/reject and application quit.
  void done(int result) override;

  // --- message and command handlers (UI thread) ---
  void OnSysCommand(unsigned id, qint64 param);
  void OnOpenFile();
  // The file chooser; true with *path set when a file was confirmed.
  bool ChooseImageFile(const QString& initial_dir, QString* path);
  void OnClearLog();
  // The context menu's production station: a window that flashes every
  // device plugged in (station_entry.cpp).
  void OnStation();
  int OnDownloadProgress(qint64 kind, qint64 value);
  // The only way text enters the log pane: appended at the end, or
  // replacing the last line that holds text. Meant for the UI thread; a
  // call from another thread is queued to it like PostLog.
  void AppendLog(const QString& text, bool replace);

  // The controls as the shared dialog logic sees them (UI thread).
  void AppendLogUtf8(const std::string& text, bool replace_last_line) override;
  std::string ControlText(int id) const override;
  void SetControlText(int id, const std::string& text) override;
  void EnableControl(int id, bool enabled) override;

  // Routed from the flash button (1002), the enter-flashing-mode button
  // (1005), WM_ENUM_DONE and WM_DEVICECHANGE to the device monitor and the
  // download worker.
  virtual void OnFlash();
  virtual void OnEnterFlashMode();
  virtual int OnEnumDone(qint64 wparam, qint64 lparam);
  virtual bool OnDeviceChange(unsigned event, qint64 data);

  // Simulated mode (demos, tests): the HID layer runs on this bus instead
  // of the system's hidraw devices. Set before the window is shown.
  void SetSimulatedBus(std::shared_ptr<sim::SimBus> bus);
  // The device monitor and download worker, once start-up has created them.
  DeviceController* Controller() const { return m_controller.get(); }

 protected:
  bool OnInitDialog();
  void OnDestroy();
  void LoadSettings();
  void SaveSettings();

  // --- start-up and shut-down steps of the device monitor, the download
  // worker and the HID layer, called in the fixed order of OnInitDialog
  // and OnDestroy. ---
  virtual void RegisterDeviceNotifications();
  virtual void HidLinkInit();
  // m_device none, m_state DS_UNSET, the request counters and
  // m_bootUpdateAdvised 0, no threads or events.
  virtual void ResetWorkerState();
  virtual void StartDownloadThread();
  virtual void StartEnumThread();
  virtual void RequestEnumeration();
  virtual void StopDownloadThread();
  virtual void StopEnumThread();
  virtual void CloseDevice();
  virtual void HidLinkExit();

  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

  // --- state, in declaration order ---
  QIcon m_appIcon;  // resource 128
  CIni m_ini;
  // m_device, the two worker threads with their events and stop flags, the
  // request counters, m_state, m_imagePath and m_bootUpdateAdvised live in
  // the device controller (m_controller, below), which owns the threads.
  int m_disableUserInput = 0;
  uint32_t m_appAddress = 0;
  uint16_t m_appPid = 0;
  uint16_t m_appVid = 0;
  uint16_t m_appUsage = 0;
  uint16_t m_appUsagePage = 0;
  uint16_t m_oldBootPid = 0;
  uint16_t m_oldBootVid = 0;
  uint16_t m_bootPid = 0;
  uint16_t m_bootVid = 0;
  uint16_t m_bootUsage = 0;
  uint16_t m_bootUsagePage = 0;
  std::string m_bootUpdateBin;
  std::string m_bootBinInfo;
  std::string m_bootUpdateBinHeader;
  int m_bootUpdateCheck = 0;

  // The nine bound controls.
  LogPane* m_log = nullptr;                  // 1000
  QPushButton* m_btnOpen = nullptr;          // 1003
  QPushButton* m_btnEnterFlashMode = nullptr;  // 1005
  QPushButton* m_btnFlash = nullptr;         // 1002
  QLineEdit* m_editPath = nullptr;           // 1001
  QLineEdit* m_editVid = nullptr;            // 1006
  QLineEdit* m_editPid = nullptr;            // 1007
  QLineEdit* m_editUsagePage = nullptr;      // 1008
  QLineEdit* m_editUsage = nullptr;          // 1009

 private:
  void EnsureController();
  void ShowPermissionHint();
  // Tells the operator, without blocking, that the settings file cannot be
  // used and why.
  void ShowSettingsProblem();
  void CreateControls();
  void BindControls();
  void RouteCommands();

  QString m_settingsFile;
  Settings m_settings;  // as loaded, for the device controller
  std::string m_settingsProblem;  // why the settings file cannot be used, or empty
  ProgressLog m_progressLog;  // skips percentages the last line already shows
  std::shared_ptr<sim::SimBus> m_simBus;
  std::unique_ptr<DialogPort> m_frontEnd;
  std::unique_ptr<DeviceController> m_controller;
  std::shared_ptr<DialogPoster> m_poster;
  QAction* m_aboutAction = nullptr;
  QAction* m_stationAction = nullptr;
  bool m_initialised = false;
  bool m_destroyed = false;
  // The station window is open: it owns the devices, so detection results
  // queued before it opened are dropped rather than acted on in its loop.
  bool m_stationOpen = false;
};

}  // namespace torvane
