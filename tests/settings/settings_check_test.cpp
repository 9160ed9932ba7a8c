// Settings a tool must not act on: files that exist but cannot be used,
// and number or flag values that do not parse.
#include "settings/settings_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/utf8_path.h"
#include "settings/ini_file.h"
#include "settings/settings_file_io.h"
#include "settings/settings_model.h"
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

// Only values the readers would read as something else than they plainly
// say are refused; each is checked against what the reader gives.
TEST(SettingsCheck, RefusesOnlyValuesReadOtherwiseThanTheyPlainlySay) {
  const struct {
    const char* key;
    const char* value;
    bool refused;
  } cases[] = {
      {"VID", "534 ; comment", false},  {"VID", "0x534", false},    {"VID", "534h", true},
      {"VID", "12 34", true},           {"App Address", "l000", true},
      {"Boot Update Check", "false", false}, {"Boot Update Check", "no", false}, {"Boot Update Check", "OFF", false},
      {"Boot Update Check", "0 # off", false}, {"Boot Update Check", "yes", false}, {"Boot Update Check", "True", false},
      {"Boot Update Check", "on", true},    {"Boot Update Check", "true ; on", true}, {"Boot Update Check", "enable", true},
  };
  for (const auto& c : cases) {
    testing::ScratchDir dir;
    const std::string section = std::string(c.key) == "App Address" ? "Config" : "Boot";
    CIni ini;
    ini.SetPathName(dir.Write("Torvane.ini", "[" + section + "]\n" + c.key + "=" + c.value + "\n"));
    const auto found = FindUnparsableSettings(ini);
    EXPECT_EQ(!found.empty(), c.refused) << c.key << "=" << c.value;
    if (c.refused) continue;
    // What is accepted is read as it says.
    const Settings s = LoadSettingsFromIni(ini);
    if (std::string(c.key) == "VID") {
      EXPECT_EQ(s.boot_vid, 0x534) << c.value;
    } else {
      const bool on = std::string(c.value) == "yes" || std::string(c.value) == "True";
      EXPECT_EQ(s.boot_update_check, on) << c.value;
    }
  }
}

}  // namespace
}  // namespace torvane
