#include "ui/dialog_port.h"

#include "download/download_result.h"
#include "ui/control_ids.h"

namespace torvane {

DialogPort::DialogPort(DialogControls& controls, std::shared_ptr<WindowPoster> poster)
    : controls_(controls), poster_(std::move(poster)) {}

void DialogPort::AppendLog(const std::string& text, bool replace_last_line) {
  controls_.AppendLogUtf8(text, replace_last_line);
}

IdentityTexts DialogPort::ReadIdentityTexts() {
  return IdentityTexts{controls_.ControlText(IDC_EDIT_VID), controls_.ControlText(IDC_EDIT_PID),
                       controls_.ControlText(IDC_EDIT_USAGE), controls_.ControlText(IDC_EDIT_USAGE_PAGE)};
}

void DialogPort::SetEnterFlashModeEnabled(bool enabled) { controls_.EnableControl(IDC_BTN_ENTER_FLASH_MODE, enabled); }

void DialogPort::SetFlashEnabled(bool enabled) { controls_.EnableControl(IDC_BTN_FLASH, enabled); }

void DialogPort::SetFlashCaption(const std::string& caption) { controls_.SetControlText(IDC_BTN_FLASH, caption); }

void DialogPort::PostLog(const std::string& text) { poster_->PostLogUtf8(text); }

void DialogPort::PostDownloadProgress(int kind, int value) {
  poster_->Post(kMsgDownloadProgress, kind, value);
  if (kind != PROGRESS_RESULT) return;
  std::string reason;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reason.swap(failure_reason_);
  }
  // The reason is the log's second line, under "下载失败".
  if (value != DL_OK && !reason.empty()) poster_->PostLogUtf8(reason + "\r\n");
}

void DialogPort::PostDownloadFailureReason(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  failure_reason_ = reason;
}

void DialogPort::PostEnumDone() { poster_->Post(kMsgEnumDone, 0, 0); }

void DialogPort::PostDeviceChange(unsigned event) { poster_->Post(kMsgDeviceChange, event, 0); }

void DialogPort::PostPermissionDenied(const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    denied_reason_ = reason;
  }
  poster_->Post(kMsgPermissionDenied, 0, 0);
}

std::string DialogPort::PermissionDeniedReason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return denied_reason_;
}

}  // namespace torvane
