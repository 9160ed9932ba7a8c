// The messages the worker threads post to the main dialog, as Qt events.
// Each keeps its window-message name; its event type is QEvent::User plus
// the message number of control_ids.h. Posted events for one receiver are
// delivered on the UI thread one at a time in the order they were posted,
// whatever their type, so log texts, progress and enumeration results never
// overtake each other.
#pragma once

#include <QEvent>
#include <QString>
#include <utility>

#include "ui/control_ids.h"

namespace torvane {

// Download progress: kind (1 prepare, 2 percent, 3 result) and value.
inline constexpr QEvent::Type WM_DOWNLOAD_PROGRESS =
    static_cast<QEvent::Type>(QEvent::User + kMsgDownloadProgress);
// The enumeration thread rebuilt the device list; both parameters 0.
inline constexpr QEvent::Type WM_ENUM_DONE = static_cast<QEvent::Type>(QEvent::User + kMsgEnumDone);
// A text for the log pane, appended on the UI thread.
inline constexpr QEvent::Type WM_APPEND_LOG = static_cast<QEvent::Type>(QEvent::User + kMsgAppendLog);
// A HID interface arrived or was removed: the event code and its data.
inline constexpr QEvent::Type WM_DEVICECHANGE = static_cast<QEvent::Type>(QEvent::User + kMsgDeviceChange);

// A device could not be opened for lack of access rights (once per run).
inline constexpr QEvent::Type WM_PERMISSION_DENIED =
    static_cast<QEvent::Type>(QEvent::User + kMsgPermissionDenied);

// A posted message with its two parameters.
class DialogMessageEvent : public QEvent {
 public:
  DialogMessageEvent(QEvent::Type type, qint64 wparam, qint64 lparam)
      : QEvent(type), wparam_(wparam), lparam_(lparam) {}
  qint64 wParam() const { return wparam_; }
  qint64 lParam() const { return lparam_; }

 private:
  qint64 wparam_;
  qint64 lparam_;
};

// WM_APPEND_LOG: the text, with the "\r\n" line ends the tool writes, and
// whether it replaces the last line.
class LogTextEvent : public QEvent {
 public:
  explicit LogTextEvent(QString text, bool replace_last_line = false)
      : QEvent(WM_APPEND_LOG), text_(std::move(text)), replace_(replace_last_line) {}
  const QString& text() const { return text_; }
  bool replaceLastLine() const { return replace_; }

 private:
  QString text_;
  bool replace_;
};

}  // namespace torvane
