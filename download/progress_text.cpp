#include "download/progress_text.h"

#include <cstdio>

#include "download/download_result.h"

namespace torvane {


std::optional<ProgressLogEntry> DownloadProgressEntry(int kind, int value) {
  switch (kind) {
    case PROGRESS_PREPARE:
      return ProgressLogEntry{kTextPreparing, false};
    case PROGRESS_PERCENT: {
      char text[64];
      std::snprintf(text, sizeof text, kTextDownloadingFormat, value);
      return ProgressLogEntry{text, true};
    }
    case PROGRESS_RESULT:
      return ProgressLogEntry{value == DL_OK ? kTextDownloadOk : kTextDownloadFailed, false};
    default:
      return std::nullopt;
  }
}

}  // namespace torvane
