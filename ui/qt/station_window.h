// The production station in a window of its own: every device plugged in is
// flashed in parallel by the station core, one row per unit, with totals and
// the last record lines. The operator picks the record file, whether
// application devices are sent into their bootloader, how many units and
// attempts, and starts and stops. The image's CRC-32 and SHA-256 are shown
// large for reading out; units finished against the count ("17 / 100") and
// the run's yield below the table; a failure beeps, and a failed row stays
// until the operator acknowledges it (double-click, or "确认失败" for all).
// "打开作业" runs a production job: its image, count, attempts, record file
// and enter-boot; a locked job keeps what it sets read-only until "解锁" is
// given the admin password.
//
// The station itself (start, stop, the feed drained by a timer at a bounded
// rate, the table, counters, record lines and messages) is a StationSession;
// this window only shows it. The HID layer must be up (the host brings it
// up and down).
#pragma once

#include <QDate>
#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "ui/station_image.h"
#include "ui/station_job.h"
#include "ui/station_session.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableView;

namespace torvane {

class StationTableModel;

// The dated record file beside the settings file when its folder may be
// written, else in the user's data folder: ".../torvane-record-2026-12-07.jsonl".
QString DefaultStationRecordPath(const QString& settings_path, const QDate& date);

class StationWindow : public QDialog {
  Q_OBJECT

 public:
  explicit StationWindow(StationWindowSetup setup, QWidget* parent = nullptr);
  ~StationWindow() override;

  // Start and stop, as the start/stop button does. Start returns false (and
  // says why in a message box) when nothing was started.
  bool StartStation();
  // Cancels running transfers between frames; the station ends once they
  // have (at most a few seconds later).
  void StopStation();
  bool Running() const { return session_.Running(); }
  // Ends a running station at once (cancel, bounded wait); for the host's
  // shut-down. The destructor does it too.
  void Shutdown();
  bool Stopping() const { return session_.Stopping(); }
  // Units being flashed or sent into their bootloader now.
  int ActiveUnits() const { return session_.ActiveUnits(); }

  // Closing with units at work asks first; "no" keeps the window open.
  void done(int result) override;

  StationTableModel* Model() const { return model_; }
  QPushButton* StartStopButton() const { return start_stop_; }
  QLineEdit* RecordPathBox() const { return record_path_; }
  QCheckBox* EnterBootBox() const { return enter_boot_; }
  QSpinBox* CountBox() const { return count_; }
  QSpinBox* AttemptsBox() const { return attempts_; }
  QPushButton* AcknowledgeButton() const { return acknowledge_; }
  QTableView* Table() const { return table_; }
  QString ImageText() const;
  QString DigestText() const;
  QString CountersText() const;
  QString FinishedText() const;
  QString YieldText() const;
  QString RecordLinesText() const;
  // The failure sound (the system beep unless replaced).
  void SetFailureAlert(std::function<void()> alert) { session_.SetFailureAlert(std::move(alert)); }
  // The operator has seen the failure of a row (as a double-click on it).
  void AcknowledgeRow(int row);
  // Opens a job file as "打开作业" does after its chooser; its problems are
  // shown in a message box and nothing changes.
  bool OpenJob(const QString& path);
  // "解锁" with the password in the password box.
  bool UnlockJob();
  const StationJob& Job() const { return job_; }
  QLineEdit* PasswordBox() const { return password_; }
  QString JobText() const;
  const StationFeed* Feed() const { return session_.Feed(); }
  // Applies what the station told since the last refresh (the timer's work).
  void Refresh();

 private:
  void BuildLayout();
  void ShowImage();
  void ShowImageRead();
  void AcknowledgeAll();
  void ChooseJobFile();
  // The controls a job sets, filled from it; read-only where it is locked.
  void ShowJob();
  std::string ImagePath() const;
  void ChooseRecordFile();
  void OnStartStop();
  // Shows a station that has ended (timer, controls, the last rows).
  void ShowEnded();
  void SetIdleControls(bool idle);

  StationSession session_;
  StationJob job_;
  StationTableModel* model_ = nullptr;
  QTimer refresh_;
  bool starting_ = false;       // the image is being prepared for a start
  // Reads the image for its size and digests.
  std::unique_ptr<StationImageReader> image_reader_;
  QString record_lines_;        // as shown

  QPushButton* job_open_ = nullptr;
  QLabel* job_label_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPushButton* unlock_ = nullptr;
  QLabel* image_label_ = nullptr;
  QLabel* address_label_ = nullptr;
  QLineEdit* record_path_ = nullptr;
  QPushButton* record_choose_ = nullptr;
  QLabel* digest_label_ = nullptr;
  QCheckBox* enter_boot_ = nullptr;
  QSpinBox* count_ = nullptr;
  QSpinBox* attempts_ = nullptr;
  QPushButton* start_stop_ = nullptr;
  QTableView* table_ = nullptr;
  QLabel* finished_label_ = nullptr;
  QLabel* counters_label_ = nullptr;
  QPushButton* acknowledge_ = nullptr;
  QLabel* yield_label_ = nullptr;
  QLabel* message_label_ = nullptr;
  QPlainTextEdit* record_view_ = nullptr;
};

}  // namespace torvane
