#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/settings/scratch_dir.h"

namespace torvane {
namespace {

class CIniTest : public ::testing::Test {
 protected:
  CIni IniWith(const std::string& contents) {
    CIni ini;
    ini.SetPathName(dir_.Write("Torvane.ini", contents));
    return ini;
  }
  testing::ScratchDir dir_;
};

TEST_F(CIniTest, PathIsAbsentUntilSetAndReplacedBySetPathName) {
  CIni ini;
  EXPECT_FALSE(ini.HasPathName());
  EXPECT_EQ(ini.GetPathName(), "");
  // Without a file every read gives its default.
  EXPECT_STREQ(ini.GetString("Config", "VID", "dflt").get(), "dflt");
  EXPECT_STREQ(ini.GetString("Config", "VID").get(), "");
  EXPECT_FALSE(ini.GetBool("Config", "Disable User Input"));
  EXPECT_FALSE(ini.HasKey("Config", "VID"));

  const std::string first = dir_.Write("a.ini", "[S]\nK=a\n");
  const std::string second = dir_.Write("b.ini", "[S]\nK=b\n");
  ini.SetPathName(first);
  EXPECT_EQ(ini.GetPathName(), first);
  EXPECT_STREQ(ini.GetString("S", "K").get(), "a");
  ini.SetPathName(second);
  EXPECT_STREQ(ini.GetString("S", "K").get(), "b");
}

TEST_F(CIniTest, BothGetStringFormsAgree) {
  const CIni ini = IniWith("[Boot]\nBoot Bin Info = ZAVRO:1  \nEmpty=\n");
  std::string value = "stale";
  ini.GetString("Boot", "Boot Bin Info", value);
  EXPECT_EQ(value, "ZAVRO:1");
  EXPECT_STREQ(ini.GetString("Boot", "Boot Bin Info").get(), "ZAVRO:1");
  ini.GetString("Boot", "Missing", value, "fallback");
  EXPECT_EQ(value, "fallback");
  ini.GetString("Boot", "Missing", value);
  EXPECT_EQ(value, "");
  ini.GetString("Boot", "Empty", value, "fallback");
  EXPECT_EQ(value, "");  // present but empty is not missing
}

// Values around the 512-char steps of the growing read come back whole:
// 510 chars fit the first read, 511 need a second.
TEST_F(CIniTest, GrowingReadReturnsValuesWhole) {
  for (size_t length : {0u, 1u, 509u, 510u, 511u, 512u, 513u, 1021u, 1022u, 1023u, 1024u, 5000u}) {
    std::string value(length, 'p');
    if (length > 0) value.back() = 'Z';
    const CIni ini = IniWith("[Recent]\nFile Path=" + value + "\n");
    const std::unique_ptr<char[]> buffer = ini.GetString("Recent", "File Path");
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(std::strlen(buffer.get()), length);
    EXPECT_EQ(std::string(buffer.get()), value);
  }
  // A long default is returned whole too.
  const CIni ini = IniWith("");
  const std::string long_default(1500, 'd');
  EXPECT_EQ(std::string(ini.GetString("S", "K", long_default.c_str()).get()), long_default);
}

TEST_F(CIniTest, GetBoolRules) {
  struct Case {
    const char* value;
    bool expected;
  };
  const Case cases[] = {
      {"true", true}, {"TRUE", true}, {"tRuE", true}, {"yes", true}, {"YES", true}, {"Yes", true},
      {"1", true},    {"2", true},    {"-1", true},   {"1abc", true}, {" 7 ", true},
      {"on", false},  {"0", false},   {"0x1", false}, {"", false},    {"no", false}, {"false", false},
      {"truex", false}, {"yes!", false}, {"-0", false},
  };
  for (const Case& c : cases) {
    const CIni ini = IniWith(std::string("[Config]\nDisable User Input=") + c.value + "\n");
    EXPECT_EQ(ini.GetBool("Config", "Disable User Input"), c.expected) << "value: \"" << c.value << "\"";
  }
  EXPECT_FALSE(IniWith("[Config]\n").GetBool("Config", "Disable User Input"));
}

TEST_F(CIniTest, GetBoolCountsOnlyTheFirst64Characters) {
  EXPECT_TRUE(IniWith("[C]\nF=" + std::string(63, '0') + "1\n").GetBool("C", "F"));
  EXPECT_FALSE(IniWith("[C]\nF=" + std::string(64, '0') + "1\n").GetBool("C", "F"));
  // Over 64 characters "true" is no longer the whole text.
  EXPECT_FALSE(IniWith("[C]\nF=true" + std::string(70, 'x') + "\n").GetBool("C", "F"));
}

TEST_F(CIniTest, HasKeyTellsPresentFromMissing) {
  const CIni ini = IniWith("[Config]\nVID=\n");
  EXPECT_TRUE(ini.HasKey("config", "vid"));
  EXPECT_FALSE(ini.HasKey("Config", "PID"));
}

}  // namespace
}  // namespace torvane
