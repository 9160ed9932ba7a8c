#include "ui/qt/dialog_front_end.h"

#include <QLineEdit>
#include <QPushButton>

#include "download/download_result.h"
#include "ui/qt/dialog_messages.h"
#include "ui/qt/dialog_poster.h"
#include "ui/qt/torvane_dlg.h"

namespace torvane {

DialogFrontEnd::DialogFrontEnd(CTorvaneDlg& dialog, std::shared_ptr<DialogPoster> poster)
    : dialog_(dialog), poster_(std::move(poster)) {}

void DialogFrontEnd::AppendLog(const std::string& text, bool replace_last_line) {
  dialog_.AppendLog(QString::fromStdString(text), replace_last_line);
}

IdentityTexts DialogFrontEnd::ReadIdentityTexts() {
  return IdentityTexts{dialog_.m_editVid->text().toStdString(), dialog_.m_editPid->text().toStdString(),
                       dialog_.m_editUsage->text().toStdString(),
                       dialog_.m_editUsagePage->text().toStdString()};
}

void DialogFrontEnd::SetEnterFlashModeEnabled(bool enabled) { dialog_.m_btnEnterFlashMode->setEnabled(enabled); }

void DialogFrontEnd::SetFlashEnabled(bool enabled) { dialog_.m_btnFlash->setEnabled(enabled); }

void DialogFrontEnd::SetFlashCaption(const std::string& caption) {
  dialog_.m_btnFlash->setText(QString::fromStdString(caption));
}

void DialogFrontEnd::PostLog(const std::string& text) { poster_->PostLogUtf8(text); }

void DialogFrontEnd::PostDownloadProgress(int kind, int value) {
  poster_->PostDownloadProgress(kind, value);
  if (kind != PROGRESS_RESULT) return;
  std::string reason;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reason.swap(failure_reason_);
  }
  // The reason is the log's second line, under "下载失败".
  if (value != DL_OK && !reason.empty()) poster_->PostLogUtf8(reason + "\r\n");
}

void DialogFrontEnd::PostDownloadFailureReason(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  failure_reason_ = reason;
}

void DialogFrontEnd::PostEnumDone() { poster_->PostEnumDone(); }

void DialogFrontEnd::PostDeviceChange(unsigned event) { poster_->PostMessage(WM_DEVICECHANGE, event, 0); }

void DialogFrontEnd::PostPermissionDenied(const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    denied_reason_ = reason;
  }
  poster_->PostMessage(WM_PERMISSION_DENIED, 0, 0);
}

std::string DialogFrontEnd::PermissionDeniedReason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return denied_reason_;
}

}  // namespace torvane
