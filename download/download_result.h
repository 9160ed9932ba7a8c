// Outcome codes and progress kinds of a download, as they cross threads in
// WM_DOWNLOAD_PROGRESS messages.
#pragma once

namespace torvane {

enum DownloadResult : int {
  DL_OK = 0,
  DL_FILE_ERROR = 1,
  DL_PROTOCOL_ERROR = 3,
  DL_CANCELLED = 6,
  DL_START_BUSY = -1,
};

enum ProgressKind : int {
  PROGRESS_PREPARE = 1,
  PROGRESS_PERCENT = 2,
  PROGRESS_RESULT = 3,
};

// Busy and retry statuses are answered with a pause of this length, and at
// most this many sends of one frame are made.
inline constexpr int kBusyRetryDelayMs = 200;
inline constexpr int kMaxSendsPerFrame = 5;

}  // namespace torvane
