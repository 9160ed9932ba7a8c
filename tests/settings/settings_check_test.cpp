// Settings a tool must not act on: files that exist but cannot be used,
// and number or flag values that do not parse.
#include "settings/settings_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/utf8_path.h"
#include "settings/ini_file.h"
#include "settings/settings_file_io.h"
#include "tests/settings/scratch_dir.h"

namespace torvane {
namespace {

TEST(SettingsCheck, FilesThatExistButCannotBeUsedSayWhy) {
  testing::ScratchDir dir;
  EXPECT_EQ(UnusableSettingsFileReason(dir.File("missing.ini")), "");
  EXPECT_EQ(UnusableSettingsFileReason(dir.Write("ok.ini", "[Config]\nVID=1\n")), "");
  std::filesystem::create_directory(platform::PathFromUtf8(dir.File("dir.ini")));
  dir.Write("huge.ini", std::string(kMaxSettingsFileSize + 1, ';'));
  dir.Write("utf16.ini", std::string("\xFF\xFE[\0C\0]\0", 8));
  for (const char* name : {"dir.ini", "huge.ini", "utf16.ini"}) {
    EXPECT_NE(UnusableSettingsFileReason(dir.File(name)), "") << name;
  }
}

TEST(SettingsCheck, NumbersAndFlagsThatDoNotParseAreNamed) {
  testing::ScratchDir dir;
  CIni ini;
  ini.SetPathName(dir.Write("Torvane.ini",
                            "[Config]\nVID=none\nPID=12345\nUsage Page=0x00FF\nUsage=-1\nApp Address=l000\n"
                            "Disable User Input=on\n[OldBoot]\nVID=\nPID=+5045\n"
                            "[Boot]\nVID=0x\nPID=FFFFFFFF\nUsage Page=ffff\nBoot Update Check=TRUE\n"));
  std::set<std::string> keys;
  for (const UnparsableSetting& bad : FindUnparsableSettings(ini)) {
    keys.insert(bad.key);
    EXPECT_FALSE(bad.reason.empty()) << bad.key;
    if (bad.key == "Config/App Address") {
      EXPECT_EQ(bad.value, "l000");
    }
  }
  const std::set<std::string> expected = {"Config/VID", "Config/PID", "Config/App Address",
                                          "Config/Disable User Input", "Boot/VID", "Boot/PID"};
  EXPECT_EQ(keys, expected);
}

}  // namespace
}  // namespace torvane
