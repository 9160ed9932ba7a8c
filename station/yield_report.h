// The yield of one or more record files (one per station): units, passed,
// failed, first-pass yield, retries, failures by cause, durations, units per
// hour, the serial numbers seen and the job's serial numbers written in. A unit is known by its file and its unit
// number; its lines (attempts, a later final line) count once, its last
// final line decides. Lines that are not record lines of this version (torn,
// another format, a field missing or of the wrong type) are skipped and
// counted per file, with the first one's line number and reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// "2026-12-07T14:03:09.250+01:00" (also 'Z', a space for 'T', no seconds or
// milliseconds) as milliseconds since the epoch. Without a zone the text is
// taken as this machine's local time. False when it is not such a time.
bool ParseRecordTime(std::string_view text, int64_t* epoch_ms);

struct YieldReportWindow {
  // A unit is in the report when its outcome (the end of its deciding line)
  // is at or after `since` and before `until`.
  std::optional<int64_t> since_ms;
  std::optional<int64_t> until_ms;
};

struct RecordFileSummary {
  std::string name;
  int lines = 0;               // non-empty lines
  int bad_lines = 0;
  int first_bad_line = 0;      // 1-based; 0: none
  std::string first_bad_reason;
};

struct YieldReport {
  std::vector<RecordFileSummary> files;
  int units = 0;
  int passed = 0;
  int failed = 0;
  int first_pass = 0;           // passed on their first attempt
  int retries = 0;              // flashes beyond each unit's first
  int unfinished = 0;           // units with no final line (a station stopped hard)
  int outside_window = 0;       // units left out by since/until
  std::vector<std::pair<std::string, int>> failures_by_cause;  // most first
  double mean_duration_s = 0;
  double p95_duration_s = 0;    // nearest rank
  // Hour ("2026-12-07T14:00+01:00", in the records' own zone) and the units
  // whose outcome fell in it, oldest first.
  std::vector<std::pair<std::string, int>> units_per_hour;
  std::vector<std::string> serials;  // distinct, sorted
  // The job's serial numbers written into the units that passed (a line's
  // `serial_number` with result "ok"), distinct and sorted, and those
  // written into more than one passed unit (never, while the journal is
  // kept).
  std::vector<std::string> serial_numbers;
  std::vector<std::string> duplicate_serial_numbers;

  double FirstPassYield() const { return units == 0 ? 0.0 : static_cast<double>(first_pass) / units; }
  int BadLines() const;
};

// Builds the report from record files already read: each is a name and its
// whole text.
struct RecordFileText {
  std::string name;
  std::string text;
};
YieldReport BuildYieldReport(const std::vector<RecordFileText>& files, const YieldReportWindow& window);

}  // namespace torvane
