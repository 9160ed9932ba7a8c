// UTF-8 <-> UTF-16 for the Win32 windows: the shared logic keeps every text
// in UTF-8, the window functions take and give UTF-16.
#pragma once

#include "platform/wide_text_win32.h"

namespace torvane {

using platform::Utf8ToWide;
using platform::WideToUtf8;

// A window's text in UTF-8.
std::string WindowTextUtf8(HWND window);

}  // namespace torvane
