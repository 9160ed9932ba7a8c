#include "cli/cli_front_end.h"

#include "cli/exit_codes.h"
#include "download/download_result.h"
#include "download/progress_text.h"
#include "monitor/stream_output.h"

namespace torvane::cli {

namespace {
// The log pane's line ends are "\r\n"; a terminal wants "\n".
std::string to_terminal_lines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}
}  // namespace

CliFrontEnd::CliFrontEnd(std::FILE* out, std::FILE* progress, bool progress_is_terminal,
                         IdentityTexts identity)
    : out_(out), progress_(progress), terminal_(progress_is_terminal), identity_(std::move(identity)) {}

void CliFrontEnd::AppendLog(const std::string& text, bool replace_last_line) {
  (void)replace_last_line;  // a stream cannot rewrite; progress has its own rendering
  log_ += text;
  if (bar_shown_) {
    Write(progress_, "\n");
    bar_shown_ = false;
  }
  // Progress lines may be lost to a slow reader; everything else (the
  // device's report, the verdict) arrives.
  if (progress_line_) {
    Write(out_, to_terminal_lines(text));
  } else {
    WriteResultText(out_, to_terminal_lines(text));
  }
}

void CliFrontEnd::Write(std::FILE* stream, const std::string& text) {
  // Whatever stdio still holds goes first, so the order stays; then the
  // text is written without waiting on a stream nobody reads.
  std::fflush(stream);
  WriteWithoutBlocking(fileno(stream), text);
}

void CliFrontEnd::WriteResultText(std::FILE* stream, const std::string& text) {
  std::fflush(stream);
  WriteResult(fileno(stream), text);
}

void CliFrontEnd::DrawBar(int percent) {
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  const uint64_t bytes = total_bytes_ * static_cast<uint64_t>(percent) / 100;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const double rate = seconds > 0 ? static_cast<double>(bytes) / 1024.0 / seconds : 0.0;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  char line[160];
  std::snprintf(line, sizeof line, "\r[%s] %3d%%  %llu/%llu bytes  %.1f KiB/s", bar.c_str(), percent,
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(total_bytes_), rate);
  Write(progress_, line);
  bar_shown_ = true;
}

void CliFrontEnd::OnDownloadProgress(int kind, int value) {
  const auto entry = DownloadProgressEntry(kind, value);
  if (!entry) return;
  if (kind == PROGRESS_PREPARE) {
    started_ = std::chrono::steady_clock::now();
    last_percent_ = -1;
  }
  if (kind == PROGRESS_PERCENT) {
    if (terminal_) DrawBar(value);
    // A stream cannot rewrite its last line: one line per new value.
    const bool shown = terminal_ || value == last_percent_;
    last_percent_ = value;
    if (shown) return;
  }
  progress_line_ = kind == PROGRESS_PERCENT;
  AppendLog(entry->text, entry->replace_last_line);
  progress_line_ = false;
  if (kind == PROGRESS_RESULT) result_ = value;
}

void CliFrontEnd::OnPermissionDenied(const std::string& reason) {
  std::fprintf(stderr,
               "cannot open the device: %s.\n"
               "Non-root users need the udev rule that grants access to the device's hidraw node:\n"
               "install the torvane package, or copy packaging/udev/70-torvane.rules to\n"
               "/etc/udev/rules.d/, then run `udevadm control --reload && udevadm trigger`\n"
               "and plug the device in again.\n",
               reason.c_str());
}

void CliFrontEnd::NoteOpenFailed(const std::string& reason, bool for_download) {
  std::lock_guard<std::mutex> lock(open_failure_mutex_);
  open_failure_ = reason.empty() ? "unknown reason" : reason;
  if (for_download) download_open_failure_ = open_failure_;
}

std::string CliFrontEnd::DownloadOpenFailure() const {
  std::lock_guard<std::mutex> lock(open_failure_mutex_);
  return download_open_failure_;
}

std::string CliFrontEnd::OpenFailure() const {
  std::lock_guard<std::mutex> lock(open_failure_mutex_);
  return open_failure_;
}

void CliFrontEnd::ClearOpenFailure() {
  std::lock_guard<std::mutex> lock(open_failure_mutex_);
  open_failure_.clear();
  download_open_failure_.clear();
}

void CliFrontEnd::OnDownloadFailureReason(const std::string& reason) {
  if (bar_shown_) {
    std::fputs("\n", progress_);
    bar_shown_ = false;
  }
  std::fprintf(stderr, "%s\n", reason.c_str());
  std::fflush(stderr);
}

int ExitCodeForResult(int download_result) {
  switch (download_result) {
    case DL_OK: return kExitOk;
    case DL_FILE_ERROR: return kExitFileError;
    case DL_CANCELLED: return kExitCancelled;
    case DL_START_BUSY: return kExitStartBusy;
    default: return kExitProtocolError;
  }
}

}  // namespace torvane::cli
