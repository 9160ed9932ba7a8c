#include "ui/qt/dialog_poster.h"

#include <QCoreApplication>

#include "ui/qt/dialog_messages.h"

namespace torvane {

bool DialogPoster::PostMessage(QEvent::Type type, qint64 wparam, qint64 lparam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (target_ == nullptr) return false;
  QCoreApplication::postEvent(target_, new DialogMessageEvent(type, wparam, lparam));
  return true;
}

bool DialogPoster::PostLog(const QString& text, bool replace_last_line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (target_ == nullptr) return false;
  QCoreApplication::postEvent(target_, new LogTextEvent(text, replace_last_line));
  return true;
}

bool DialogPoster::PostLogUtf8(const std::string& text, bool replace_last_line) {
  return PostLog(QString::fromStdString(text), replace_last_line);
}

bool DialogPoster::Post(int message, int64_t wparam, int64_t lparam) {
  return PostMessage(static_cast<QEvent::Type>(QEvent::User + message), wparam, lparam);
}

bool DialogPoster::PostDownloadProgress(int kind, int value) {
  return PostMessage(WM_DOWNLOAD_PROGRESS, kind, value);
}

bool DialogPoster::PostEnumDone() { return PostMessage(WM_ENUM_DONE, 0, 0); }

void DialogPoster::Synchronize() const { std::lock_guard<std::mutex> lock(mutex_); }

void DialogPoster::Detach() {
  std::lock_guard<std::mutex> lock(mutex_);
  target_ = nullptr;
}

bool DialogPoster::Attached() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return target_ != nullptr;
}

}  // namespace torvane
