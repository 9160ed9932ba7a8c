// Dialog-unit conversion and the progress texts: pure functions.
#include <gtest/gtest.h>

#include <iterator>

#include "ui/dialog_template.h"
#include "ui/dialog_units.h"
#include "download/progress_text.h"

namespace torvane {
namespace {

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(10, 9, 4), 23);   // 22.5
  EXPECT_EQ(MulDiv(11, 9, 4), 25);   // 24.75
  EXPECT_EQ(MulDiv(9, 9, 4), 20);    // 20.25
  EXPECT_EQ(MulDiv(-10, 9, 4), -23);
  EXPECT_EQ(MulDiv(10, -9, 4), -23);
  EXPECT_EQ(MulDiv(10, 9, -4), -23);
  EXPECT_EQ(MulDiv(0, 9, 4), 0);
  EXPECT_EQ(MulDiv(5, 9, 0), 0);
  // No intermediate overflow.
  EXPECT_EQ(MulDiv(2000000000, 3, 4), 1500000000);
}

TEST(DialogUnits, ConvertThroughBaseUnits) {
  const DialogBaseUnits base{9, 19};
  EXPECT_EQ(DialogUnitsToPixelsX(240, base), 540);
  EXPECT_EQ(DialogUnitsToPixelsY(235, base), 558);  // 558.125
  EXPECT_EQ(DialogUnitsToPixelsX(45, base), 101);   // 101.25
  EXPECT_EQ(DialogUnitsToPixelsY(63, base), 150);   // 149.625
  EXPECT_EQ(DialogUnitsToPixelsY(4, DialogBaseUnits{6, 13}), 7);  // 6.5 -> 7
}

// The template as the window's description gives it, written out here:
// id (-1 for labels and the group box), caption, x, y, width, height.
TEST(DialogTemplate, MainDialogControlsInTemplateOrder) {
  struct Want {
    int id;
    const char* caption;
    int x, y, cx, cy;
  } const want[] = {
      {1001, "", 45, 63, 136, 14},      {1004, "清除", 165, 89, 60, 16},
      {1005, "开启烧录模式", 22, 89, 60, 16}, {1002, "烧录", 92, 89, 60, 16},
      {-1, "选择文件", 6, 66, 33, 10},  {-1, "", 4, 2, 232, 113},
      {1000, "", 4, 120, 232, 108},     {1003, "打开", 185, 63, 40, 14},
      {1006, "", 45, 17, 60, 14},       {-1, "VID", 6, 20, 33, 10},
      {1007, "", 45, 40, 60, 14},       {-1, "PID", 6, 43, 33, 10},
      {1008, "", 165, 17, 60, 14},      {-1, "Usage Page", 117, 20, 42, 10},
      {1009, "", 165, 40, 60, 14},      {-1, "Usage", 117, 43, 42, 10},
  };
  ASSERT_EQ(kMainDialogControls.size(), std::size(want));
  EXPECT_EQ(kMainDialogWidthDu, 240);
  EXPECT_EQ(kMainDialogHeightDu, 235);
  for (size_t i = 0; i < std::size(want); ++i) {
    const TemplateControl& c = kMainDialogControls[i];
    const Want& w = want[i];
    EXPECT_EQ(c.id, w.id) << "entry " << i;
    EXPECT_STREQ(c.caption, w.caption) << "entry " << i;
    EXPECT_EQ(c.rect.x, w.x) << "entry " << i;
    EXPECT_EQ(c.rect.y, w.y) << "entry " << i;
    EXPECT_EQ(c.rect.cx, w.cx) << "entry " << i;
    EXPECT_EQ(c.rect.cy, w.cy) << "entry " << i;
  }
}

TEST(ProgressText, EachKindGivesItsLine) {
  auto prepare = DownloadProgressEntry(1, 12345);  // value not looked at
  ASSERT_TRUE(prepare);
  EXPECT_EQ(prepare->text, "准备下载\r\n");
  EXPECT_FALSE(prepare->replace_last_line);

  auto percent = DownloadProgressEntry(2, 92);
  ASSERT_TRUE(percent);
  EXPECT_EQ(percent->text, "正在下载: 92\r\n");
  EXPECT_TRUE(percent->replace_last_line);

  auto ok = DownloadProgressEntry(3, 0);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->text, "下载成功,设备即将重启\r\n");
  EXPECT_FALSE(ok->replace_last_line);
}

TEST(ProgressText, EveryNonZeroResultIsFailure) {
  for (int value : {1, 3, 6, -1, 2, 255, -2147483647 - 1, 2147483647}) {
    auto entry = DownloadProgressEntry(3, value);
    ASSERT_TRUE(entry) << value;
    EXPECT_EQ(entry->text, "下载失败\r\n") << value;
    EXPECT_FALSE(entry->replace_last_line);
  }
}

TEST(ProgressText, OtherKindsShowNothing) {
  for (int kind : {0, 4, -1, 5, 0x0500, 2147483647}) {
    EXPECT_FALSE(DownloadProgressEntry(kind, 0)) << kind;
  }
}

TEST(ProgressText, PercentFormatsAnySignedValue) {
  EXPECT_EQ(DownloadProgressEntry(2, 0)->text, "正在下载: 0\r\n");
  EXPECT_EQ(DownloadProgressEntry(2, 100)->text, "正在下载: 100\r\n");
  EXPECT_EQ(DownloadProgressEntry(2, -2147483647 - 1)->text, "正在下载: -2147483648\r\n");
}

}  // namespace
}  // namespace torvane
