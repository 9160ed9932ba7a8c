#include "ui/win32/window_poster_win32.h"

#include <memory>

#include "ui/control_ids.h"

namespace torvane {

bool Win32Poster::Post(int message, int64_t wparam, int64_t lparam) {
  std::lock_guard<std::mutex> lock(mutex_);
  return window_ != nullptr && PostMessageW(window_, static_cast<UINT>(message), static_cast<WPARAM>(wparam),
                                            static_cast<LPARAM>(lparam)) != 0;
}

bool Win32Poster::PostLogUtf8(const std::string& text, bool replace_last_line) {
  auto entry = std::make_unique<PostedLogText>(PostedLogText{text, replace_last_line});
  std::lock_guard<std::mutex> lock(mutex_);
  if (window_ == nullptr) return false;
  if (PostMessageW(window_, kMsgAppendLog, 0, reinterpret_cast<LPARAM>(entry.get())) == 0) return false;
  entry.release();  // the window frees it
  return true;
}

void Win32Poster::Detach() {
  HWND window;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window = window_;
    window_ = nullptr;
  }
  if (window == nullptr) return;
  MSG message;
  while (PeekMessageW(&message, window, kMsgAppendLog, kMsgAppendLog, PM_REMOVE)) {
    delete reinterpret_cast<PostedLogText*>(message.lParam);
  }
}

}  // namespace torvane
