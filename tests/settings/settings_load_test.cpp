#include <gtest/gtest.h>

#include <string>

#include "settings/ini_file.h"
#include "settings/settings_model.h"
#include "tests/settings/scratch_dir.h"

namespace torvane {
namespace {

class LoadSettingsTest : public ::testing::Test {
 protected:
  Settings Load(const std::string& contents, SettingSources* sources = nullptr) {
    CIni ini;
    ini.SetPathName(dir_.Write("Torvane.ini", contents));
    return LoadSettingsFromIni(ini, sources);
  }
  uint16_t Vid(const std::string& value) { return Load("[Config]\nVID=" + value + "\n").app_vid; }

  testing::ScratchDir dir_;
};

TEST_F(LoadSettingsTest, MissingFileGivesEveryDefault) {
  CIni ini;
  ini.SetPathName(dir_.File("Torvane.ini"));
  SettingSources sources;
  const Settings s = LoadSettingsFromIni(ini, &sources);
  EXPECT_EQ(s.file_path, "");
  EXPECT_EQ(s.app_vid, 0x0534);
  EXPECT_EQ(s.app_pid, 0x0002);
  EXPECT_EQ(s.app_usage_page, 0x0001);
  EXPECT_EQ(s.app_usage, 0x0000);
  EXPECT_EQ(s.app_address, 0x1000u);
  EXPECT_FALSE(s.disable_user_input);
  EXPECT_EQ(s.old_boot_vid, 0x484F);
  EXPECT_EQ(s.old_boot_pid, 0x5045);
  EXPECT_EQ(s.boot_vid, 0x484F);
  EXPECT_EQ(s.boot_pid, 0x5048);
  EXPECT_EQ(s.boot_usage_page, 0xFFFF);
  EXPECT_EQ(s.boot_usage, 0xFFFF);
  EXPECT_EQ(s.boot_update_bin, "burn_boot_0.3.0.0.bin");
  EXPECT_EQ(s.boot_bin_info, "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_EQ(s.boot_update_bin_header, "head_1.0_2016_04_22.bin");
  EXPECT_FALSE(s.boot_update_check);
  EXPECT_EQ(sources.size(), 17u);
  for (const auto& [key, source] : sources) EXPECT_EQ(source, SettingSource::Default) << key;
}

TEST_F(LoadSettingsTest, HexValuesEmptyMeansDefaultUnparsableMeansZero) {
  EXPECT_EQ(Vid(""), 0x0534);
  EXPECT_EQ(Vid("   "), 0x0534);  // blanks are not part of the value
  EXPECT_EQ(Vid("zz"), 0x0000);
  EXPECT_EQ(Vid("0x1A2B"), 0x1A2B);
  EXPECT_EQ(Vid("12345"), 0x2345);
  EXPECT_EQ(Vid("-1"), 0xFFFF);
  EXPECT_EQ(Vid("0534"), 0x0534);
  EXPECT_EQ(Vid("FFFFFFFFFF"), 0xFFFF);
}

TEST_F(LoadSettingsTest, AppAddressKeepsAll32Bits) {
  EXPECT_EQ(Load("[Config]\nApp Address=8000\n").app_address, 0x8000u);
  EXPECT_EQ(Load("[Config]\nApp Address=\n").app_address, 0x1000u);
  EXPECT_EQ(Load("[Config]\nApp Address=08004000\n").app_address, 0x08004000u);
  EXPECT_EQ(Load("[Config]\nApp Address=123456789\n").app_address, 0xFFFFFFFFu);
  EXPECT_EQ(Load("[Config]\nApp Address=-1000\n").app_address, 0xFFFFF000u);
}

TEST_F(LoadSettingsTest, HexValuesCountOnlyTheFirst64Characters) {
  EXPECT_EQ(Vid(std::string(63, '0') + "1"), 0x0001);
  // The digit past the 64th character is dropped: zeros read as 0, not
  // as the default.
  EXPECT_EQ(Vid(std::string(64, '0') + "1"), 0x0000);
  EXPECT_EQ(Load("[Config]\nApp Address=" + std::string(60, '0') + "12345678\n").app_address, 0x1234u);
}

TEST_F(LoadSettingsTest, EveryKeyIsReadFromItsSection) {
  SettingSources sources;
  const Settings s = Load(
      "[Recent]\nFile Path=/home/op/app.bin\n"
      "[Config]\nVID=1111\nPID=2222\nUsage Page=3333\nUsage=4444\nApp Address=8000\nDisable User Input=yes\n"
      "[OldBoot]\nVID=5555\nPID=6666\n"
      "[Boot]\nVID=7777\nPID=8888\nUsage Page=9999\nUsage=AAAA\n"
      "Boot Update Bin=b.bin\nBoot Bin Info=INFO 1\nBoot Update Bin Header=h.bin\nBoot Update Check=1\n",
      &sources);
  EXPECT_EQ(s.file_path, "/home/op/app.bin");
  EXPECT_EQ(s.app_vid, 0x1111);
  EXPECT_EQ(s.app_pid, 0x2222);
  EXPECT_EQ(s.app_usage_page, 0x3333);
  EXPECT_EQ(s.app_usage, 0x4444);
  EXPECT_EQ(s.app_address, 0x8000u);
  EXPECT_TRUE(s.disable_user_input);
  EXPECT_EQ(s.old_boot_vid, 0x5555);
  EXPECT_EQ(s.old_boot_pid, 0x6666);
  EXPECT_EQ(s.boot_vid, 0x7777);
  EXPECT_EQ(s.boot_pid, 0x8888);
  EXPECT_EQ(s.boot_usage_page, 0x9999);
  EXPECT_EQ(s.boot_usage, 0xAAAA);
  EXPECT_EQ(s.boot_update_bin, "b.bin");
  EXPECT_EQ(s.boot_bin_info, "INFO 1");
  EXPECT_EQ(s.boot_update_bin_header, "h.bin");
  EXPECT_TRUE(s.boot_update_check);
  EXPECT_EQ(sources.size(), 17u);
  for (const auto& [key, source] : sources) EXPECT_EQ(source, SettingSource::File) << key;
  EXPECT_TRUE(sources.count("OldBoot/VID"));
  EXPECT_TRUE(sources.count("Boot/Boot Update Bin Header"));
}

TEST_F(LoadSettingsTest, SectionsDoNotLeakIntoEachOther) {
  const Settings s = Load("[Boot]\nVID=1234\n");
  EXPECT_EQ(s.boot_vid, 0x1234);
  EXPECT_EQ(s.app_vid, 0x0534);
  EXPECT_EQ(s.old_boot_vid, 0x484F);
}

TEST_F(LoadSettingsTest, TextValuesAreReadWhole) {
  const std::string long_path = "/" + std::string(700, 'd') + "/app.bin";
  const std::string long_bin = std::string(1500, 'b') + ".bin";
  const Settings s = Load("[Recent]\nFile Path=" + long_path + "\n[Boot]\nBoot Update Bin=" + long_bin + "\n");
  EXPECT_EQ(s.file_path, long_path);
  EXPECT_EQ(s.boot_update_bin, long_bin);
}

TEST_F(LoadSettingsTest, PresentEmptyTextIsEmptyNotTheDefault) {
  SettingSources sources;
  const Settings s = Load("[Boot]\nBoot Update Bin=\n", &sources);
  EXPECT_EQ(s.boot_update_bin, "");
  EXPECT_EQ(sources["Boot/Boot Update Bin"], SettingSource::File);
  EXPECT_EQ(s.boot_bin_info, "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_EQ(sources["Boot/Boot Bin Info"], SettingSource::Default);
}

TEST_F(LoadSettingsTest, HandEditedWindowsFile) {
  const Settings s = Load(
      "\xEF\xBB\xBF; edited in Notepad\r\n[config]\r\nvid = 1a2b\r\nDISABLE USER INPUT = True\r\n"
      "[recent]\r\nfile path = /srv/\xE5\x9B\xBA\xE4\xBB\xB6.bin \r\n");
  EXPECT_EQ(s.app_vid, 0x1A2B);
  EXPECT_TRUE(s.disable_user_input);
  EXPECT_EQ(s.file_path, "/srv/\xE5\x9B\xBA\xE4\xBB\xB6.bin");
}

TEST_F(LoadSettingsTest, GarbageFileGivesDefaults) {
  const Settings s = Load(std::string("\x00\x01\x02[Config]\nVID=1\n", 17));
  EXPECT_EQ(s.app_vid, 0x0534);
  static const char kUtf16[] = "\xFF\xFE[\0C\0o\0n\0f\0i\0g\0]\0\n\0V\0I\0D\0=\0001\0";
  const Settings t = Load(std::string(kUtf16, sizeof kUtf16 - 1));
  EXPECT_EQ(t.app_vid, 0x0534);
}

}  // namespace
}  // namespace torvane
