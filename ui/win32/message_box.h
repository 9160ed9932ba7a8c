// The message boxes of the Win32 windows, Chinese like the rest of the
// program. Tests answer them instead of a person through a hook.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace torvane {

// MessageBoxW with UTF-8 texts; returns the button pressed (IDOK, IDYES...).
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);

// While set, the hook answers every box (text, type) instead of a person.
using MessageBoxHook = std::function<int(const std::string& text, UINT type)>;
void SetMessageBoxHookForTesting(MessageBoxHook hook);

}  // namespace torvane
