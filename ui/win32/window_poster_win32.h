// Worker posts to a Win32 window: the numbered messages of control_ids.h go
// to the window's queue as they are; a log text travels on the heap in the
// message's lParam and is freed by the window (or by Detach when the window
// goes first). After Detach, posts are dropped.
#pragma once

#include <windows.h>

#include <mutex>

#include "ui/window_poster.h"

namespace torvane {

// lParam of kMsgAppendLog.
struct PostedLogText {
  std::string text;  // UTF-8, "\r\n" line ends
  bool replace_last_line = false;
};

class Win32Poster final : public WindowPoster {
 public:
  explicit Win32Poster(HWND window) : window_(window) {}

  bool Post(int message, int64_t wparam, int64_t lparam) override;
  bool PostLogUtf8(const std::string& text, bool replace_last_line = false) override;

  // UI thread, before the window is destroyed: no more posts, and the log
  // texts still queued are freed.
  void Detach();

 private:
  std::mutex mutex_;
  HWND window_;
};

}  // namespace torvane
