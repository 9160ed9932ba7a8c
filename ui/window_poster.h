// How a worker thread reaches the window that hosts the device monitor and
// the download worker: it posts one of the numbered messages of
// control_ids.h, or a text for the log pane. Each toolkit queues the post to
// its UI thread, where posts are handled one at a time in the order they
// were posted. Once the window has gone, posts are dropped (false).
#pragma once

#include <cstdint>
#include <string>

namespace torvane {

class WindowPoster {
 public:
  virtual ~WindowPoster() = default;
  // Any thread. message: kMsgDownloadProgress, kMsgEnumDone, ...
  virtual bool Post(int message, int64_t wparam, int64_t lparam) = 0;
  // Any thread: lands in the log pane (UTF-8, "\r\n" line ends).
  virtual bool PostLogUtf8(const std::string& text, bool replace_last_line = false) = 0;
};

}  // namespace torvane
