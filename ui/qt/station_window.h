// The production station in a window of its own: every device plugged in is
// flashed in parallel by the station core, one row per unit, with totals and
// the last record lines. The operator picks the record file, whether
// application devices are sent into their bootloader, and starts and stops.
//
// The core's observer calls only fill a StationFeed; a timer on the UI
// thread drains it at a bounded rate, so the window's cost does not grow
// with the number of progress steps. The HID layer must be up (the host
// brings it up and down).
#pragma once

#include <QDate>
#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "monitor/hotplug_source.h"
#include "settings/settings_model.h"
#include "station/station_observer.h"
#include "ui/dialog_texts.h"
#include "ui/station_feed.h"
#include "ui/station_setup.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace torvane {

class StationCore;
class StationTableModel;

// The dated record file beside the settings file when its folder may be
// written, else in the user's data folder: ".../torvane-record-2026-12-07.jsonl".
QString DefaultStationRecordPath(const QString& settings_path, const QDate& date);

class StationWindow : public QDialog {
  Q_OBJECT

 public:
  // Repaints per second at most.
  static constexpr int kRefreshHz = 15;

  explicit StationWindow(StationWindowSetup setup, QWidget* parent = nullptr);
  ~StationWindow() override;

  // Start and stop, as the start/stop button does. Start returns false (and
  // says why in a message box) when nothing was started.
  bool StartStation();
  // Cancels running transfers between frames; the station ends once they
  // have (at most a few seconds later).
  void StopStation();
  bool Running() const { return core_ != nullptr; }
  // Ends a running station at once (cancel, bounded wait); for the host's
  // shut-down. The destructor does it too.
  void Shutdown();
  bool Stopping() const { return stopping_; }
  // Units being flashed or sent into their bootloader now.
  int ActiveUnits() const;

  // Closing with units at work asks first; "no" keeps the window open.
  void done(int result) override;

  StationTableModel* Model() const { return model_; }
  QPushButton* StartStopButton() const { return start_stop_; }
  QLineEdit* RecordPathBox() const { return record_path_; }
  QCheckBox* EnterBootBox() const { return enter_boot_; }
  QString ImageText() const;
  QString CountersText() const;
  QString RecordLinesText() const;
  const StationFeed* Feed() const { return feed_.get(); }
  // Applies what the station told since the last refresh (the timer's work).
  void Refresh();

 private:
  void BuildLayout();
  void ShowImage();
  void ChooseRecordFile();
  void OnStartStop();
  // Ends the station now: cancels, waits (bounded) and applies the last batch.
  void FinishStation();
  void SetIdleControls(bool idle);

  StationWindowSetup setup_;
  std::unique_ptr<StationFeed> feed_;  // outlives core_: the core calls it until Stop returns
  std::unique_ptr<StationCore> core_;
  StationTableModel* model_ = nullptr;
  QTimer refresh_;
  bool stopping_ = false;
  bool starting_ = false;       // the image is being prepared for a start
  std::thread image_reader_;    // reads the image for its size and CRC
  StationClock::time_point stop_requested_{};
  StationClock::time_point started_{};
  StationCounters counters_;
  QStringList record_lines_;

  QLabel* image_label_ = nullptr;
  QLabel* address_label_ = nullptr;
  QLineEdit* record_path_ = nullptr;
  QPushButton* record_choose_ = nullptr;
  QCheckBox* enter_boot_ = nullptr;
  QPushButton* start_stop_ = nullptr;
  QTableView* table_ = nullptr;
  QLabel* counters_label_ = nullptr;
  QLabel* message_label_ = nullptr;
  QPlainTextEdit* record_view_ = nullptr;
};

}  // namespace torvane
