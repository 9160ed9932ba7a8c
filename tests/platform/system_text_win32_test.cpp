// Device text in the system ANSI code page: a Chinese Windows (code page
// 936) shows GBK bytes as Chinese, a Western one (1252) as Latin letters,
// whatever code page the program's manifest asks for.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/system_text.h"

namespace torvane {
namespace {

TEST(SystemTextWin32, DecodesTheSystemAnsiCodePage) {
  DWORD code_page = 0;
  ASSERT_NE(::GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                             reinterpret_cast<LPWSTR>(&code_page), sizeof(code_page) / sizeof(wchar_t)),
            0);
  const std::string gbk_version = "\xB0\xE6\xB1\xBE";  // 版本 in GBK
  const auto text = platform::SystemTextToUtf8(gbk_version);
  switch (code_page) {
    case 936:
      EXPECT_EQ(text, "版本");
      break;
    case 1252:
      EXPECT_EQ(text, "\xC2\xB0\xC3\xA6\xC2\xB1\xC2\xBE");  // °æ±¾
      break;
    default:
      GTEST_SKIP() << "system code page " << code_page;
  }
}

}  // namespace
}  // namespace torvane
