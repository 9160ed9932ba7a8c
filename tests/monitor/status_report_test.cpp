// The found-device report and the boot-update advice, text for text.
#include <gtest/gtest.h>

#include <cstring>

#include "monitor/info_text.h"
#include "monitor/status_report.h"
#include "platform/system_text.h"

namespace torvane {
namespace {

BootInfo InfoWith(const std::string& text) {
  BootInfo info;
  std::memcpy(info.bytes.data(), text.data(), std::min(text.size(), info.bytes.size()));
  return info;
}

const std::string kNewest = "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016";
const std::string kAdvice =
    "\n------------------------------------\nZAVRO更新版本信息:\n" + kNewest +
    "\n========================================\n"
    " 请点击[更新BOOT]按钮升级至最新Boot版本\n"
    " 升级期间请不要断开设备电源及USB！！\n"
    "========================================\n";

TEST(StatusReport, SimpleCodes) {
  EXPECT_EQ(SimpleReportText(RC_NO_DEVICE), "没有发现设备");
  EXPECT_EQ(SimpleReportText(RC_WAITING), "设备等待烧录");
  EXPECT_EQ(SimpleReportText(RC_ERROR), "设备异常");
  for (int code : {0, static_cast<int>(RC_OPENED), 5, 254, static_cast<int>(RC_FOUND)}) EXPECT_EQ(SimpleReportText(code), "") << code;
}

TEST(StatusReport, CurrentBootloaderWithTheNewestTextIsNotAdvised) {
  int advised = 1;
  auto r = BuildFoundReport(DS_BOOT, 0, InfoWith(kNewest), kNewest, true, &advised);
  EXPECT_EQ(r.message, "发现一个可烧录设备, 设备信息:\n" + kNewest);
  EXPECT_FALSE(r.update_caption);
  EXPECT_EQ(advised, 0);
  // With the check off any text passes.
  r = BuildFoundReport(DS_BOOT, 0, InfoWith("anything"), kNewest, false, &advised);
  EXPECT_EQ(advised, 0);
  EXPECT_FALSE(r.update_caption);
}

TEST(StatusReport, TextDifferingOnlyInCaseIsAdvised) {
  int advised = 0;
  std::string lower = kNewest;
  lower[0] = 'z';
  auto r = BuildFoundReport(DS_BOOT, 0, InfoWith(lower), kNewest, true, &advised);
  EXPECT_EQ(advised, 1);
  EXPECT_TRUE(r.update_caption);
  EXPECT_EQ(r.message, "发现一个可烧录设备, 设备信息:\n" + lower + kAdvice);
}

TEST(StatusReport, EmptyTextWithTheCheckOnIsAdvised) {
  int advised = 0;
  auto r = BuildFoundReport(DS_BOOT, 0, BootInfo{}, kNewest, true, &advised);
  EXPECT_EQ(r.message, "发现一个可烧录设备, 设备信息:\n" + kAdvice);
  EXPECT_EQ(advised, 1);
}

TEST(StatusReport, OldBootloaderIsAlwaysAdvised) {
  int advised = 0;
  auto r = BuildFoundReport(DS_OLDBOOT, 0, InfoWith(kNewest), kNewest, false, &advised);
  EXPECT_TRUE(r.update_caption);
  EXPECT_EQ(r.message, "发现一个旧版本可烧录设备, 设备信息:\n" + kNewest + kAdvice);
  EXPECT_EQ(advised, 0);
}

TEST(StatusReport, ApplicationClearsTheFlagButAFailedQueryKeepsIt) {
  int advised = 1;
  auto r = BuildFoundReport(DS_APP, 0, InfoWith("APP 1.0"), kNewest, true, &advised);
  EXPECT_EQ(advised, 0);
  EXPECT_EQ(r.message, "发现一个HID设备, 设备信息:\nAPP 1.0");
  advised = 1;
  r = BuildFoundReport(DS_APP, -1, BootInfo{}, kNewest, true, &advised);
  EXPECT_EQ(advised, 1);
  EXPECT_TRUE(r.update_caption);
  EXPECT_EQ(r.message, "发现一个HID设备, 设备信息:未知" + kAdvice);
}

TEST(StatusReport, FortyEightCharacterTextIsShownAndComparedWhole) {
  const std::string text(48, 'V');
  int advised = 1;
  auto r = BuildFoundReport(DS_BOOT, 0, InfoWith(text), text, true, &advised);
  EXPECT_EQ(advised, 0);
  EXPECT_FALSE(r.update_caption);
  EXPECT_EQ(r.message, "发现一个可烧录设备, 设备信息:\n" + text);
}

TEST(StatusReport, ControlCharactersFromTheDeviceAreShownAsEscapes) {
  if (platform::SystemTextToUtf8("")) GTEST_SKIP() << "the system's character set is not UTF-8";
  int advised = 0;
  // A forged line, terminal controls, and a right-to-left override that
  // would show "exe.jpg" (a dash after it is text and stays).
  const std::string hostile = "\x1B]0;t\x07\x1B[2J\r\nok\x7F\xC2\x9B\xE2\x80\xAEgpj.exe\xE2\x81\xA6\xE2\x80\x94";
  auto r = BuildFoundReport(DS_BOOT, 0, InfoWith(hostile), hostile, true, &advised);
  EXPECT_EQ(r.message, "发现一个可烧录设备, 设备信息:\n\\x1B]0;t\\x07\\x1B[2J\\x0D\\x0Aok\\x7F\\x9B\\u202Egpj.exe\\u2066\xE2\x80\x94");
  EXPECT_EQ(advised, 0);  // compared as sent
}

TEST(InfoText, CutsAt48AndNeverReadsPastTheRecord) {
  BootInfo info;
  info.bytes.fill('A');  // no NUL at all
  EXPECT_EQ(ConvertInfoText(info), std::string(48, 'A'));
  info = InfoWith(std::string(47, 'B'));
  EXPECT_EQ(ConvertInfoText(info), std::string(47, 'B'));
  info = InfoWith("abc");
  info.bytes[4] = 'x';  // bytes after the NUL are ignored
  EXPECT_EQ(ConvertInfoText(info), "abc");
}

TEST(InfoText, InvalidBytesAreReplaced) {
  // The system text of a Windows code page: tests/platform/system_text_win32_test.cpp.
  if (platform::SystemTextToUtf8("")) GTEST_SKIP() << "the system's character set is not UTF-8";
  EXPECT_EQ(LocaleBytesToUtf8(std::string("ok\xFF", 3)), "ok\xEF\xBF\xBD");
  EXPECT_EQ(LocaleBytesToUtf8("版本"), "版本");
  EXPECT_EQ(LocaleBytesToUtf8(std::string("\xE7\x89", 2)), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace torvane
