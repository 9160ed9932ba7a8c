// Dialog-unit conversion and the progress texts: pure functions.
#include <gtest/gtest.h>

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

TEST(DialogTemplate, MainDialogControlsInTemplateOrder) {
  ASSERT_EQ(kMainDialogControls.size(), 16u);
  const int expected_ids[] = {IDC_EDIT_PATH, IDC_BTN_CLEAR, IDC_BTN_ENTER_FLASH_MODE, IDC_BTN_FLASH,
                              IDC_STATIC,    IDC_STATIC,    IDC_LOG,                  IDC_BTN_OPEN,
                              IDC_EDIT_VID,  IDC_STATIC,    IDC_EDIT_PID,             IDC_STATIC,
                              IDC_EDIT_USAGE_PAGE, IDC_STATIC, IDC_EDIT_USAGE, IDC_STATIC};
  for (size_t i = 0; i < kMainDialogControls.size(); ++i) {
    EXPECT_EQ(kMainDialogControls[i].id, expected_ids[i]) << "entry " << i;
    // Every control lies inside the 240 x 235 dialog.
    const DialogRect& r = kMainDialogControls[i].rect;
    EXPECT_LE(r.x + r.cx, kMainDialogWidthDu) << "entry " << i;
    EXPECT_LE(r.y + r.cy, kMainDialogHeightDu) << "entry " << i;
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
