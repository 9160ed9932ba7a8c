// The main dialog with its start-up and shut-down hooks recorded, and its
// members visible to the tests.
#pragma once

#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "ui/qt/torvane_dlg.h"

namespace torvane::test {

class ProbeDlg : public CTorvaneDlg {
 public:
  using CTorvaneDlg::CTorvaneDlg;
  ~ProbeDlg() override {
    // Shut down while the recording overrides still exist.
    if (Initialised() && !Destroyed()) done(QDialog::Rejected);
  }

  std::vector<std::string> calls;
  // Runs at each hook with its name, before it is recorded.
  std::function<void(const std::string&)> on_call;
  int flash_clicks = 0;
  int enter_flash_mode_clicks = 0;
  std::vector<std::pair<qint64, qint64>> enum_done;

  using CTorvaneDlg::m_appAddress;
  using CTorvaneDlg::m_appPid;
  using CTorvaneDlg::m_appUsage;
  using CTorvaneDlg::m_appUsagePage;
  using CTorvaneDlg::m_appVid;
  using CTorvaneDlg::m_bootBinInfo;
  using CTorvaneDlg::m_bootPid;
  using CTorvaneDlg::m_bootUpdateBin;
  using CTorvaneDlg::m_bootUpdateBinHeader;
  using CTorvaneDlg::m_bootUpdateCheck;
  using CTorvaneDlg::m_bootUsage;
  using CTorvaneDlg::m_bootUsagePage;
  using CTorvaneDlg::m_bootVid;
  using CTorvaneDlg::m_disableUserInput;
  using CTorvaneDlg::m_log;
  using CTorvaneDlg::m_oldBootPid;
  using CTorvaneDlg::m_oldBootVid;

  void OnFlash() override { ++flash_clicks; }
  void OnEnterFlashMode() override { ++enter_flash_mode_clicks; }
  int OnEnumDone(qint64 wparam, qint64 lparam) override {
    enum_done.emplace_back(wparam, lparam);
    return 0;
  }

 protected:
  void RegisterDeviceNotifications() override { Note("RegisterDeviceNotifications"); }
  void HidLinkInit() override { Note("HidLinkInit"); }
  void ResetWorkerState() override { Note("ResetWorkerState"); }
  void StartDownloadThread() override { Note("StartDownloadThread"); }
  void StartEnumThread() override { Note("StartEnumThread"); }
  void RequestEnumeration() override { Note("RequestEnumeration"); }
  void StopDownloadThread() override { Note("StopDownloadThread"); }
  void StopEnumThread() override { Note("StopEnumThread"); }
  void CloseDevice() override { Note("CloseDevice"); }
  void HidLinkExit() override { Note("HidLinkExit"); }

 private:
  void Note(const std::string& name) {
    if (on_call) on_call(name);
    calls.push_back(name);
  }
};

}  // namespace torvane::test
