// The production station in a window of its own on Windows: a list view
// with one row per unit (port, serial, kind, BOOT info, state with badge and
// colour, progress, duration), the image's CRC-32 and SHA-256 large, units
// finished against the count, the counters, the run's yield, the last record
// lines, the record-file chooser, count, attempts and start/stop, over the
// same station session, feed and table as the Qt window. A failure beeps; a
// failed row stays until acknowledged (double-click, or "确认失败" for
// all). "打开作业" runs a production job; a locked one keeps the setup it
// fixes read-only until "解锁" is given the admin password. The HID layer
// must be up.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ui/station_image.h"
#include "ui/station_job.h"
#include "ui/station_session.h"
#include "ui/station_setup.h"

namespace torvane {

// Control ids of the station window.
enum StationControlId {
  IDC_ST_IMAGE = 2001,
  IDC_ST_ADDRESS,
  IDC_ST_RECORD_PATH,
  IDC_ST_RECORD_CHOOSE,
  IDC_ST_ENTER_BOOT,
  IDC_ST_START_STOP,
  IDC_ST_UNITS,
  IDC_ST_COUNTERS,
  IDC_ST_MESSAGE,
  IDC_ST_RECORDS,
  IDC_ST_DIGEST,
  IDC_ST_COUNT,
  IDC_ST_ATTEMPTS,
  IDC_ST_FINISHED,
  IDC_ST_ACKNOWLEDGE,
  IDC_ST_YIELD,
  IDC_ST_JOB_OPEN,
  IDC_ST_JOB,
  IDC_ST_PASSWORD,
  IDC_ST_UNLOCK,
};

class StationWindow {
 public:
  explicit StationWindow(StationWindowSetup setup);
  ~StationWindow();
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  // Creates and shows the window; the owner is disabled while it is open.
  bool Create(HWND owner);
  HWND Window() const { return window_; }
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  bool Open() const { return window_ != nullptr; }
  // Closing with units at work asks first; "no" keeps the window open.
  // True when the window is gone.
  bool RequestClose();
  // The start/stop button's work.
  bool StartStation();
  void StopStation();
  StationSession& Session() { return session_; }
  // The operator has seen the failure of a list row (as a double-click).
  void AcknowledgeRow(int row);
  void AcknowledgeAll();
  // Opens a job file as "打开作业" does after its chooser; its problems are
  // shown in a message box and nothing changes.
  bool OpenJob(const std::string& path);
  // "解锁" with the password in the password box.
  bool UnlockJob();
  const StationJob& Job() const { return job_; }
  // The timer's work: the feed into the list view and the texts.
  void Refresh();
  // The list view's cell text.
  std::string CellText(int row, int column) const;
  int RowCount() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void BuildControls();
  void Layout();
  void SetIdleControls(bool idle);
  void ChooseRecordFile();
  void UpdateRow(int index);
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);
  void Destroy();
  void PrepareOffTheUiThread(const std::function<void()>& work);
  void ShowImageSummary();
  // Applies changes to the table to the list view.
  void Follow(const std::vector<StationTableChange>& changes);
  void ShowAcknowledgeButton();
  void ChooseJobFile();
  // The controls a job sets: read-only where it is locked.
  void ShowJob();
  std::string ImagePath() const;
  void ReadImage();

  StationSession session_;
  StationJob job_;
  HWND window_ = nullptr;
  HWND owner_ = nullptr;
  HFONT font_ = nullptr;
  HFONT bold_ = nullptr;
  HFONT large_ = nullptr;
  HIMAGELIST badges_ = nullptr;
  bool starting_ = false;  // the image is being prepared for a start
  // Reads the image's summary and digests off the UI thread: a large image
  // does not hold up the window.
  std::unique_ptr<StationImageReader> image_reader_;
};

// Runs the station window modally over owner (null: alone) until it is
// closed.
void RunStationWindow(HWND owner, StationWindowSetup setup);

}  // namespace torvane
