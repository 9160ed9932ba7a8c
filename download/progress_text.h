// The log lines of a download's progress messages: what each kind of
// WM_DOWNLOAD_PROGRESS shows and whether it replaces the last line.
#pragma once

#include <optional>
#include <string>

namespace torvane {

inline constexpr const char* kTextPreparing = "准备下载\r\n";
inline constexpr const char* kTextDownloadingFormat = "正在下载: %d\r\n";
inline constexpr const char* kTextDownloadOk = "下载成功,设备即将重启\r\n";
inline constexpr const char* kTextDownloadFailed = "下载失败\r\n";

struct ProgressLogEntry {
  std::string text;          // UTF-8, ends with "\r\n"
  bool replace_last_line = false;
};

// Kind 1: the preparing line; kind 2: the percentage (value) replacing the
// last line; kind 3: success for value 0, failure for any other value;
// any other kind: nothing.
std::optional<ProgressLogEntry> DownloadProgressEntry(int kind, int value);

}  // namespace torvane
