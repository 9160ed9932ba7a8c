#include "cli/report_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "cli/exit_codes.h"
#include "platform/file_io.h"
#include "station/json_text.h"
#include "station/yield_report.h"

namespace torvane::cli {
namespace {

// A shift's record of a busy line stays far below this; a larger file is
// more likely a wrong path than a record.
constexpr size_t kMaxRecordFile = size_t{1} << 30;

bool ReadRecordFile(const std::string& path, std::string* text) {
  int os_error = 0;
  switch (platform::ReadSmallFile(path, kMaxRecordFile, text, &os_error)) {
    case platform::SmallFileRead::Ok: return true;
    case platform::SmallFileRead::Missing: std::fprintf(stderr, "%s: no such record file\n", path.c_str()); break;
    case platform::SmallFileRead::NotRegular: std::fprintf(stderr, "%s: not a regular file\n", path.c_str()); break;
    case platform::SmallFileRead::TooLarge: std::fprintf(stderr, "%s: larger than 1 GiB\n", path.c_str()); break;
    case platform::SmallFileRead::Error:
      std::fprintf(stderr, "%s: cannot be read: %s\n", path.c_str(), std::strerror(os_error != 0 ? os_error : EIO));
      break;
  }
  return false;
}

std::string Pairs(const std::vector<std::pair<std::string, int>>& pairs, const char* key_name) {
  std::string out = "[";
  for (const auto& [key, count] : pairs) {
    if (out.size() > 1) out += ",";
    out += JsonObject().Add(key_name, key).Add("units", count).Text();
  }
  return out + "]";
}

std::string Strings(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const auto& item : items) out += (out.size() > 1 ? "," : "") + JsonQuote(item);
  return out + "]";
}

void PrintJson(const YieldReport& r) {
  std::string files = "[";
  for (const auto& f : r.files) {
    JsonObject o;
    o.Add("file", f.name).Add("lines", f.lines).Add("bad_lines", f.bad_lines);
    if (f.bad_lines > 0) o.Add("first_bad_line", f.first_bad_line).Add("first_bad_reason", f.first_bad_reason);
    files += (files.size() > 1 ? "," : "") + o.Text();
  }
  files += "]";
  JsonObject o;
  o.AddRaw("files", files)
      .Add("bad_lines", r.BadLines())
      .Add("units", r.units)
      .Add("passed", r.passed)
      .Add("failed", r.failed)
      .Add("first_pass", r.first_pass)
      .Add("first_pass_yield", r.FirstPassYield())
      .Add("retries", r.retries)
      .Add("unfinished", r.unfinished)
      .Add("outside_window", r.outside_window)
      .AddRaw("failures_by_cause", Pairs(r.failures_by_cause, "cause"))
      .Add("mean_duration_s", r.mean_duration_s)
      .Add("p95_duration_s", r.p95_duration_s)
      .AddRaw("units_per_hour", Pairs(r.units_per_hour, "hour"))
      .AddRaw("serials", Strings(r.serials))
      .AddRaw("serial_numbers", Strings(r.serial_numbers))
      .AddRaw("duplicate_serial_numbers", Strings(r.duplicate_serial_numbers));
  std::printf("%s\n", o.Text().c_str());
}

void PrintText(const YieldReport& r) {
  for (const auto& f : r.files) {
    std::printf("%s: %d %s", f.name.c_str(), f.lines, f.lines == 1 ? "line" : "lines");
    if (f.bad_lines > 0)
      std::printf(", %d skipped (not record lines; first: line %d, %s)", f.bad_lines, f.first_bad_line,
                  f.first_bad_reason.c_str());
    std::printf("\n");
  }
  std::printf("Units:             %d", r.units);
  if (r.outside_window > 0) std::printf(" (%d more outside --since/--until)", r.outside_window);
  std::printf("\n");
  std::printf("Passed:            %d\n", r.passed);
  std::printf("Failed:            %d\n", r.failed);
  std::printf("First-pass yield:  %.1f %% (%d of %d)\n", 100.0 * r.FirstPassYield(), r.first_pass, r.units);
  std::printf("Retries:           %d\n", r.retries);
  if (r.unfinished > 0) std::printf("Unfinished:        %d (no final line: the station was stopped hard)\n", r.unfinished);
  std::printf("Failures by cause:");
  if (r.failures_by_cause.empty()) std::printf(" none");
  for (const auto& [cause, count] : r.failures_by_cause) std::printf("\n  %-16s %d", cause.c_str(), count);
  std::printf("\n");
  std::printf("Duration:          mean %.2f s, 95th percentile %.2f s\n", r.mean_duration_s, r.p95_duration_s);
  std::printf("Units per hour:");
  if (r.units_per_hour.empty()) std::printf(" none");
  for (const auto& [hour, count] : r.units_per_hour) std::printf("\n  %s  %d", hour.c_str(), count);
  std::printf("\n");
  std::printf("Serials:           %zu", r.serials.size());
  for (size_t i = 0; i < r.serials.size(); ++i) std::printf("%s%s", i == 0 ? " (" : ", ", r.serials[i].c_str());
  std::printf("%s\n", r.serials.empty() ? "" : ")");
  if (r.serial_numbers.empty()) return;
  std::printf("Serial numbers:    %zu written (%s .. %s)\n", r.serial_numbers.size(), r.serial_numbers.front().c_str(),
              r.serial_numbers.back().c_str());
  if (r.duplicate_serial_numbers.empty()) return;
  std::printf("  IN MORE THAN ONE UNIT: %zu", r.duplicate_serial_numbers.size());
  for (size_t i = 0; i < r.duplicate_serial_numbers.size(); ++i) {
    std::printf("%s%s", i == 0 ? " (" : ", ", r.duplicate_serial_numbers[i].c_str());
  }
  std::printf(")\n");
}

}  // namespace

int RunReport(const ReportOptions& options) {
  YieldReportWindow window;
  for (const auto& [name, text, bound] : {std::tuple{"--since", &options.since, &window.since_ms},
                                          std::tuple{"--until", &options.until, &window.until_ms}}) {
    if (text->empty()) continue;
    int64_t ms = 0;
    if (!ParseRecordTime(*text, &ms)) {
      std::fprintf(stderr, "%s %s: expected a time such as 2026-12-07T14:00 or 2026-12-07T14:00:00+01:00\n", name,
                   text->c_str());
      return kExitUsage;
    }
    *bound = ms;
  }
  if (window.since_ms && window.until_ms && *window.until_ms <= *window.since_ms) {
    std::fprintf(stderr, "--until %s is not after --since %s\n", options.until.c_str(), options.since.c_str());
    return kExitUsage;
  }
  std::vector<RecordFileText> files;
  for (const auto& path : options.files) {
    RecordFileText file{path, {}};
    if (!ReadRecordFile(path, &file.text)) return kExitFileError;
    files.push_back(std::move(file));
  }
  const YieldReport report = BuildYieldReport(files, window);
  // Skipped lines are said on standard error as well, so a script that
  // reads only the figures still sees them.
  for (const auto& f : report.files) {
    if (f.bad_lines > 0)
      std::fprintf(stderr, "%s: %d %s skipped: not record lines (first: line %d, %s)\n", f.name.c_str(),
                   f.bad_lines, f.bad_lines == 1 ? "line" : "lines", f.first_bad_line, f.first_bad_reason.c_str());
  }
  if (options.json) {
    PrintJson(report);
  } else {
    PrintText(report);
  }
  return kExitOk;
}

}  // namespace torvane::cli
