// torvane-cli's stand-in for the dialog: log texts go to standard output
// (the same texts the window shows), download progress becomes a one-line
// bar on a terminal or plain "正在下载: N" lines otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "monitor/queued_front_end.h"

namespace torvane::cli {

class CliFrontEnd final : public QueuedFrontEnd {
 public:
  CliFrontEnd(std::FILE* out, std::FILE* progress, bool progress_is_terminal, IdentityTexts identity);

  void AppendLog(const std::string& text, bool replace_last_line) override;
  IdentityTexts ReadIdentityTexts() override { return identity_; }
  void SetEnterFlashModeEnabled(bool enabled) override { enter_enabled_ = enabled; }
  void SetFlashEnabled(bool enabled) override { flash_enabled_ = enabled; }
  void SetFlashCaption(const std::string& caption) override { flash_caption_ = caption; }
  void OnDownloadProgress(int kind, int value) override;

  // Writes to one of the two streams; a closed or full stream loses the
  // text rather than holding up the tool.
  static void Write(std::FILE* stream, const std::string& text);
  // A result line: it waits for a slow reader (on the writer thread, not
  // here) and arrives whole unless the reader is gone.
  static void WriteResultText(std::FILE* stream, const std::string& text);

  // The total the bar shows bytes of (the prepared image's length).
  void SetTransferTotal(uint64_t total_bytes) { total_bytes_ = total_bytes; }

  std::optional<int> Result() const { return result_; }
  // Everything appended to the log so far.
  const std::string& LogText() const { return log_; }
  void OnPermissionDenied(const std::string& reason) override;
  // Any thread: the reason of the last failed open of a detected device.
  void NoteOpenFailed(const std::string& reason, bool for_download) override;
  // The reason noted since the last ClearOpenFailure, or empty; the second
  // only for the download's own open (the device being flashed).
  std::string OpenFailure() const;
  std::string DownloadOpenFailure() const;
  void ClearOpenFailure();
  // The reason of a failed download goes to standard error.
  void OnDownloadFailureReason(const std::string& reason) override;
  bool FlashEnabled() const { return flash_enabled_; }
  bool EnterFlashModeEnabled() const { return enter_enabled_; }
  const std::string& FlashCaption() const { return flash_caption_; }

 private:
  void DrawBar(int percent);

  std::FILE* out_;
  std::FILE* progress_;
  bool terminal_;
  IdentityTexts identity_;
  bool enter_enabled_ = true;
  bool flash_enabled_ = true;
  std::string flash_caption_ = "烧录";
  std::optional<int> result_;
  uint64_t total_bytes_ = 0;
  bool bar_shown_ = false;
  bool progress_line_ = false;  // the text being appended is a progress step
  int last_percent_ = -1;
  std::string log_;
  std::chrono::steady_clock::time_point started_;
  mutable std::mutex open_failure_mutex_;
  std::string open_failure_;
  std::string download_open_failure_;
};

}  // namespace torvane::cli
