// A running station as a station window sees it, whatever toolkit draws it:
// start with a record file, stop (cancel, then end once the units ended),
// the timer's refresh that drains the feed into the table, the counters
// line, the last record lines and the station's messages in Chinese; the
// operator's signals (the failure alert, failed rows kept until
// acknowledged) and the run's yield from its own record lines.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "download/load_address.h"
#include "station/station_observer.h"
#include "station/yield_report.h"
#include "ui/station_feed.h"
#include "ui/station_setup.h"
#include "ui/station_table.h"
#include "ui/yield_worker.h"

namespace torvane {

class StationCore;
struct ProductionJob;

class StationSession {
 public:
  static constexpr int kRefreshHz = 15;      // refreshes per second at most
  static constexpr int kRecordLinesShown = 5;

  explicit StationSession(StationWindowSetup setup);
  ~StationSession();
  StationSession(const StationSession&) = delete;
  StationSession& operator=(const StationSession&) = delete;

  const StationWindowSetup& Setup() const { return setup_; }
  std::string AddressText() const;  // "0x08004000"
  // The dated record file beside the settings file:
  // ".../torvane-record-2026-12-07.jsonl".
  std::string DefaultRecordPath() const;

  // Runs work (the image's preparation: read, checked, cut into blocks)
  // and returns when it is done; a window keeps painting meanwhile.
  using BlockingRunner = std::function<void(const std::function<void()>& work)>;
  struct RunOptions {
    std::string record_path;
    bool enter_boot = false;
    int count = 0;     // units to finish; 0: no limit
    int attempts = 1;  // flashes per unit, the first included
    // A production job's (StationJob::Apply): the job, its image (empty:
    // the setup's), its address and its wait for an application's return.
    std::shared_ptr<const ProductionJob> job;
    std::string image_path;
    std::optional<LoadAddressChoice> load_address;
    std::optional<std::chrono::milliseconds> boot_wait;
  };
  // False with *message (for a message box) when nothing was started. Without
  // a runner the preparation runs on the calling thread.
  bool Start(const RunOptions& options, std::string* message, const BlockingRunner& run = nullptr);
  // Cancels running transfers; Refresh ends the station once they have.
  void Stop();
  // Ends a running station at once (cancel, bounded wait).
  void Shutdown();
  bool Running() const { return core_ != nullptr; }
  bool Stopping() const { return stopping_; }
  int ActiveUnits() const;

  // The timer's work: the table's changes since the last refresh.
  std::vector<StationTableChange> Refresh(StationClock::time_point now = StationClock::now());
  const StationTable& Table() const { return table_; }
  std::string CountersText(StationClock::time_point now = StationClock::now()) const;
  const std::deque<std::string>& RecordLines() const { return record_lines_; }
  const std::string& MessageText() const { return message_; }
  const StationCounters& Counters() const { return counters_; }
  // "17 / 100": units finished against the run's count ("17 台" without one).
  std::string FinishedText() const;
  const StationFeed* Feed() const { return feed_.get(); }

  // Called by Refresh once for every unit failure it shows (a cancel is
  // the operator's own doing and is not one): the window's failure sound.
  void SetFailureAlert(std::function<void()> alert) { failure_alert_ = std::move(alert); }
  // The operator has seen a failed row (see StationTable::Acknowledge).
  std::vector<StationTableChange> Acknowledge(int index) { return table_.Acknowledge(index); }
  std::vector<StationTableChange> AcknowledgeAll() { return table_.AcknowledgeAll(); }

  // The yield of this run (since the last start) from its own record lines:
  // rebuilt off the calling thread while the station runs (a refresh takes
  // it up), at once when the station ends.
  const YieldReport& RunYield() const { return yield_; }
  std::string YieldText() const;

 private:
  void Finish();

  StationWindowSetup setup_;
  std::unique_ptr<StationFeed> feed_;  // outlives core_: the core calls it until Stop returns
  std::unique_ptr<StationCore> core_;
  StationTable table_;
  bool stopping_ = false;
  StationClock::time_point stop_requested_{};
  StationClock::time_point started_{};
  StationCounters counters_;
  std::deque<std::string> record_lines_;
  std::string message_;
  int count_ = 0;
  std::function<void()> failure_alert_;
  std::string run_records_;  // this run's record lines (JSON), one a line
  YieldReport yield_;
  std::unique_ptr<YieldWorker> yield_worker_;
};

// The station's own messages, in the operator's language where known.
std::string StationMessageText(const std::string& text);

}  // namespace torvane
