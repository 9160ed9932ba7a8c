#include "ui/progress_text.h"

#include <cstdio>

namespace torvane {

namespace {
constexpr int kKindPrepare = 1;
constexpr int kKindPercent = 2;
constexpr int kKindResult = 3;
}  // namespace

std::optional<ProgressLogEntry> DownloadProgressEntry(int kind, int value) {
  switch (kind) {
    case kKindPrepare:
      return ProgressLogEntry{kTextPreparing, false};
    case kKindPercent: {
      char text[64];
      std::snprintf(text, sizeof text, kTextDownloadingFormat, value);
      return ProgressLogEntry{text, true};
    }
    case kKindResult:
      return ProgressLogEntry{value == 0 ? kTextDownloadOk : kTextDownloadFailed, false};
    default:
      return std::nullopt;
  }
}

}  // namespace torvane
