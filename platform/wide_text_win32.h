// UTF-8 <-> UTF-16 for the Windows sources of this folder: the core keeps
// every text in UTF-8, Windows takes and gives UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace torvane::platform {

// Invalid UTF-8 sequences become U+FFFD.
inline std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// Unpaired surrogates become U+FFFD.
inline std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), n, nullptr, nullptr);
  }
  return utf8;
}

// The text of a Windows error code (GetLastError), without the line end.
inline std::string SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  if (text.empty()) return "Windows error " + std::to_string(code);
  return WideToUtf8(text);
}

}  // namespace torvane::platform
