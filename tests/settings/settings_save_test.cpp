#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/ini_file.h"
#include "settings/settings_file_io.h"
#include "settings/settings_model.h"
#include "tests/settings/save_test_support.h"
#include "tests/settings/scratch_dir.h"

namespace torvane {
namespace {

using testing::Defaults;
using testing::ReadWholeFile;
using testing::SaveSettingsTest;

TEST(IdentityTextForFile, WritesTheBoxValueWithoutLeadingZeros) {
  EXPECT_EQ(IdentityTextForFile("0534"), "534");
  EXPECT_EQ(IdentityTextForFile("0002"), "2");
  EXPECT_EQ(IdentityTextForFile(""), "0");
  EXPECT_EQ(IdentityTextForFile("zz"), "0");
  EXPECT_EQ(IdentityTextForFile("12345"), "2345");
  EXPECT_EQ(IdentityTextForFile("-1"), "FFFF");
  EXPECT_EQ(IdentityTextForFile("abcd"), "ABCD");
}

TEST_F(SaveSettingsTest, FirstSaveCreatesRecentAndConfigOnly) {
  const std::string path = dir_.File("Torvane.ini");
  ASSERT_TRUE(SaveSettingsToFile(path, Defaults()));
  EXPECT_EQ(ReadWholeFile(path),
            "[Recent]\n"
            "File Path=\n"
            "\n"
            "[Config]\n"
            "VID=534\n"
            "PID=2\n"
            "Usage Page=1\n"
            "Usage=0\n"
            "Disable User Input=0\n");
  const Settings s = Reload(path);
  EXPECT_EQ(s.app_vid, 0x534);
  EXPECT_EQ(s.app_pid, 2);
  EXPECT_EQ(s.app_usage_page, 1);
  EXPECT_EQ(s.app_usage, 0);
  EXPECT_EQ(s.app_address, 0x1000u);
  EXPECT_EQ(StrayFiles("Torvane.ini"), 0u);
}

TEST_F(SaveSettingsTest, WrittenValuesReadBack) {
  const std::string path = dir_.File("Torvane.ini");
  SavedSettings v;
  v.file_path = "/home/op/fw/\xE5\x9B\xBA\xE4\xBB\xB6 v2.bin";
  v.vid_text = "1a2b";
  v.pid_text = "0x00ff";
  v.usage_page_text = "ff00";
  v.usage_text = "";  // an emptied box is saved as 0
  v.disable_user_input = true;
  ASSERT_TRUE(SaveSettingsToFile(path, v));
  const Settings s = Reload(path);
  EXPECT_EQ(s.file_path, v.file_path);
  EXPECT_EQ(s.app_vid, 0x1A2B);
  EXPECT_EQ(s.app_pid, 0x00FF);
  EXPECT_EQ(s.app_usage_page, 0xFF00);
  EXPECT_EQ(s.app_usage, 0x0000);  // not the default 0000 by accident: 0 was written
  EXPECT_TRUE(s.disable_user_input);
  EXPECT_NE(ReadWholeFile(path).find("Usage=0\n"), std::string::npos);

  v.vid_text = "";
  ASSERT_TRUE(SaveSettingsToFile(path, v));
  EXPECT_EQ(Reload(path).app_vid, 0x0000);  // 0, not the default 0x0534
}

TEST_F(SaveSettingsTest, KeepsCommentsForeignKeysAndUnwrittenSections) {
  const std::string original =
      "; Torvane settings -- keep this comment\n"
      "[Recent]\n"
      "File Path=/old.bin\n"
      "\n"
      "[Config]\n"
      "VID=0534\n"
      "PID = 0002 \n"
      "App Address=8000\n"
      "Note=operator's own key\n"
      "\n"
      "[OldBoot]\n"
      "VID=0484F\n"
      "\n"
      "[Boot]\n"
      "; newest bootloader\n"
      "Boot Update Check=1\n"
      "Boot Bin Info=ZAVRO:0.4\n"
      "\n"
      "[Extra]\n"
      "Anything=goes\n";
  const std::string path = dir_.Write("Torvane.ini", original);
  SavedSettings v = Defaults();
  v.file_path = "/new.bin";
  ASSERT_TRUE(SaveSettingsToFile(path, v));
  EXPECT_EQ(ReadWholeFile(path),
            "; Torvane settings -- keep this comment\n"
            "[Recent]\n"
            "File Path=/new.bin\n"
            "\n"
            "[Config]\n"
            "VID=534\n"
            "PID = 2 \n"
            "App Address=8000\n"
            "Note=operator's own key\n"
            "Usage Page=1\n"
            "Usage=0\n"
            "Disable User Input=0\n"
            "\n"
            "[OldBoot]\n"
            "VID=0484F\n"
            "\n"
            "[Boot]\n"
            "; newest bootloader\n"
            "Boot Update Check=1\n"
            "Boot Bin Info=ZAVRO:0.4\n"
            "\n"
            "[Extra]\n"
            "Anything=goes\n");
}

TEST_F(SaveSettingsTest, KeepsByteOrderMarkAndWindowsLineEnds) {
  const std::string path =
      dir_.Write("Torvane.ini", "\xEF\xBB\xBF[Config]\r\nVID=0534\r\nApp Address=8000\r\n");
  ASSERT_TRUE(SaveSettingsToFile(path, Defaults()));
  EXPECT_EQ(ReadWholeFile(path),
            "\xEF\xBB\xBF[Config]\r\nVID=534\r\nApp Address=8000\r\nPID=2\r\nUsage Page=1\r\nUsage=0\r\n"
            "Disable User Input=0\r\n\r\n[Recent]\r\nFile Path=\r\n");
  EXPECT_EQ(Reload(path).app_address, 0x8000u);
}

TEST_F(SaveSettingsTest, PathWithLineBreakCannotRewriteOtherSections) {
  const std::string path = dir_.Write("Torvane.ini", "[Boot]\nVID=484F\n");
  SavedSettings v = Defaults();
  v.file_path = "/a.bin\n[Boot]\nVID=1234";
  ASSERT_TRUE(SaveSettingsToFile(path, v));
  const Settings s = Reload(path);
  EXPECT_EQ(s.file_path, "/a.bin");
  EXPECT_EQ(s.boot_vid, 0x484F);
}

TEST_F(SaveSettingsTest, FailuresLeaveTheOldFileIntact) {
  // No such directory.
  EXPECT_FALSE(SaveSettingsToFile(dir_.File("missing/Torvane.ini"), Defaults()));
  // An empty name.
  EXPECT_FALSE(SaveSettingsToFile("", Defaults()));
  // A directory in the file's place.
  std::filesystem::create_directory(dir_.File("Torvane.ini"));
  EXPECT_FALSE(SaveSettingsToFile(dir_.File("Torvane.ini"), Defaults()));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("Torvane.ini")));

  // Not text this tool can edit line by line.
  const std::string utf16(std::string("\xFF\xFE[\0C\0]\0", 8));
  const std::string binary_path = dir_.Write("utf16.ini", utf16);
  EXPECT_FALSE(SaveSettingsToFile(binary_path, Defaults()));
  EXPECT_EQ(ReadWholeFile(binary_path), utf16);

  // Larger than any settings file.
  const std::string huge = "[Config]\nVID=1\nPad=" + std::string(kMaxSettingsFileSize, 'x') + "\n";
  const std::string huge_path = dir_.Write("huge.ini", huge);
  EXPECT_FALSE(SaveSettingsToFile(huge_path, Defaults()));
  EXPECT_EQ(ReadWholeFile(huge_path), huge);
}

TEST(ReplaceFileAtomically, ReportsWhyItFailed) {
  std::string error;
  EXPECT_FALSE(ReplaceFileAtomically("/nonexistent-dir/x.ini", "data", &error));
  EXPECT_NE(error.find("/nonexistent-dir/x.ini"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(ReplaceFileAtomically("", "data", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace torvane
