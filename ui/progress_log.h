// The log line of each download progress message, as the dialog shows it.
// A percentage equal to the one the last line already shows would rewrite
// that line with the same text; it is skipped, which keeps the UI thread
// free when a fast device acknowledges many blocks per percent.
#pragma once

#include <cstdint>
#include <optional>

#include "download/progress_text.h"

namespace torvane {

class ProgressLog {
 public:
  // The entry to show for a progress message, or none.
  std::optional<ProgressLogEntry> Entry(int64_t kind, int64_t value) {
    auto entry = DownloadProgressEntry(static_cast<int>(kind), static_cast<int32_t>(value));
    if (!entry) return entry;
    if (entry->replace_last_line && value == last_percent_) return std::nullopt;
    return entry;
  }
  // After the entry was shown (the log's last line changed to it).
  void Shown(int64_t value, bool replaced_last_line) { last_percent_ = replaced_last_line ? value : -1; }
  // Any other change of the log's last line.
  void LineChanged() { last_percent_ = -1; }

 private:
  int64_t last_percent_ = -1;  // the percentage the last line shows, or -1
};

}  // namespace torvane
