// The one way a worker thread reaches the dialog: posting a message. Workers
// hold the poster by shared_ptr; the dialog detaches it before it goes
// away, after which posts are dropped. So a worker that is still running
// (or was abandoned at shut-down) never posts to a destroyed window.
#pragma once

#include <QEvent>
#include <QString>
#include <memory>
#include <mutex>
#include <string>

#include "ui/window_poster.h"

class QObject;

namespace torvane {

class DialogPoster final : public WindowPoster {
 public:
  explicit DialogPoster(QObject* target) : target_(target) {}
  DialogPoster(const DialogPoster&) = delete;
  DialogPoster& operator=(const DialogPoster&) = delete;

  // Any thread. False when the dialog has gone and nothing was posted.
  bool PostMessage(QEvent::Type type, qint64 wparam, qint64 lparam);
  bool PostLog(const QString& text, bool replace_last_line = false);
  bool PostLogUtf8(const std::string& text, bool replace_last_line = false) override;
  // message: a number of control_ids.h; its event type is QEvent::User plus it.
  bool Post(int message, int64_t wparam, int64_t lparam) override;
  bool PostDownloadProgress(int kind, int value);
  bool PostEnumDone();

  // UI thread, before it looks at an event that may have come from a
  // worker: every post happens under the poster's mutex, so taking it here
  // orders the event's construction before its use in terms the thread
  // sanitizer can see (Qt's own queue lock is invisible to it).
  void Synchronize() const;
  // UI thread, when the dialog is being destroyed. Waits for a post that
  // is under way on another thread.
  void Detach();
  bool Attached() const;

 private:
  mutable std::mutex mutex_;
  QObject* target_;
};

}  // namespace torvane
