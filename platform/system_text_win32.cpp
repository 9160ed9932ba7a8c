// Windows: the system ANSI code page, looked up from the system locale
// rather than with GetACP(), which answers 65001 when the program's
// manifest asks for UTF-8; converted with MultiByteToWideChar.
#include "platform/system_text.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

namespace torvane::platform {

namespace {

UINT SystemAnsiCodePage() {
  DWORD code_page = 0;
  if (::GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&code_page), sizeof(code_page) / sizeof(wchar_t)) == 0) {
    return CP_UTF8;
  }
  return code_page;
}

}  // namespace

std::optional<std::string> SystemTextToUtf8(const std::string& bytes) {
  const UINT code_page = SystemAnsiCodePage();
  if (code_page == CP_UTF8 || code_page == 0 || code_page == 20127 /* US-ASCII */) return std::nullopt;
  if (bytes.empty()) return std::string();
  const int n = ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return WideToUtf8(wide);
}

}  // namespace torvane::platform
