// The executable's path from GetModuleFileNameW, converted to UTF-8.
#include "platform/executable_path.h"

#include <windows.h>

#include <vector>

#include "platform/wide_text_win32.h"

namespace torvane::platform {

std::string ExecutablePath() {
  // Long paths may exceed MAX_PATH: grow until the name fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return WideToUtf8(std::wstring_view(buffer.data(), n));
    if (buffer.size() >= 1u << 16) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace torvane::platform
