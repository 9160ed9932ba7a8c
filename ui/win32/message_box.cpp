#include "ui/win32/message_box.h"

#include "ui/win32/win32_text.h"

namespace torvane {

namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;  // UI thread only
  return hook;
}
}  // namespace

std::string WindowTextUtf8(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return WideToUtf8(text);
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  if (Hook()) return Hook()(text, type);
  return MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), type);
}

void SetMessageBoxHookForTesting(MessageBoxHook hook) { Hook() = std::move(hook); }

}  // namespace torvane
