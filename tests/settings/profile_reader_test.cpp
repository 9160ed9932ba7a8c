#include "settings/profile_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/settings_file_io.h"
#include "tests/settings/scratch_dir.h"

namespace torvane {
namespace {

std::string Value(const ProfileReader& reader, const char* section, const char* key,
                  const char* def = "<default>") {
  char buffer[256];
  reader.GetString(section, key, def, buffer, sizeof buffer);
  return buffer;
}

TEST(ProfileReader, NamesIgnoreCaseAndValuesAreTrimmed) {
  const ProfileReader r = ProfileReader::FromText(
      "[Config]\n"
      "VID = 0534  \n"
      "\tusage page\t=\t1\t\n"
      "Inner Space = a b  c\n"
      "[ Boot ]\n"
      "Boot Update Bin=  burn.bin\n");
  EXPECT_EQ(Value(r, "config", "vid"), "0534");
  EXPECT_EQ(Value(r, "CONFIG", "Usage Page"), "1");
  EXPECT_EQ(Value(r, "Config", "Inner Space"), "a b  c");
  EXPECT_EQ(Value(r, "boot", "BOOT UPDATE BIN"), "burn.bin");
}

TEST(ProfileReader, MissingSectionKeyOrFileGivesTheDefault) {
  const ProfileReader r = ProfileReader::FromText("[Config]\nVID=1\n");
  EXPECT_EQ(Value(r, "Config", "PID"), "<default>");
  EXPECT_EQ(Value(r, "Boot", "VID"), "<default>");
  EXPECT_EQ(Value(r, "Config", "PID", nullptr), "");
  EXPECT_EQ(Value(ProfileReader::FromFile("/nonexistent/Torvane.ini"), "Config", "VID"), "<default>");
  EXPECT_EQ(Value(ProfileReader::FromFile(""), "Config", "VID"), "<default>");
  EXPECT_EQ(Value(r, nullptr, "VID"), "<default>");
  EXPECT_EQ(Value(r, "Config", nullptr), "<default>");
}

TEST(ProfileReader, PresentEmptyValueIsNotTheDefault) {
  const ProfileReader r = ProfileReader::FromText("[Boot]\nBoot Update Bin=\n");
  EXPECT_TRUE(r.HasKey("Boot", "Boot Update Bin"));
  EXPECT_EQ(Value(r, "Boot", "Boot Update Bin"), "");
}

TEST(ProfileReader, ByteOrderMarkAndWindowsLineEnds) {
  const ProfileReader r = ProfileReader::FromText(
      "\xEF\xBB\xBF[Recent]\r\nFile Path=/tmp/\xE5\x9B\xBA\xE4\xBB\xB6.bin\r\n[Config]\r\nVID=1A2B\r\n");
  EXPECT_EQ(Value(r, "Recent", "File Path"), "/tmp/\xE5\x9B\xBA\xE4\xBB\xB6.bin");
  EXPECT_EQ(Value(r, "Config", "VID"), "1A2B");
  // Old Mac line ends too.
  const ProfileReader cr = ProfileReader::FromText("[Config]\rVID=7\rPID=8");
  EXPECT_EQ(Value(cr, "Config", "VID"), "7");
  EXPECT_EQ(Value(cr, "Config", "PID"), "8");
}

TEST(ProfileReader, CommentsAndMalformedLinesAreSkipped) {
  const ProfileReader r = ProfileReader::FromText(
      "; leading comment\n"
      "Orphan=before any section\n"
      "[Config]\n"
      "# VID=1111\n"
      "  ; PID=2222\n"
      "no equals sign here\n"
      "=no key\n"
      "VID=3333\n"
      "[Broken\n"
      "PID=4444\n");
  EXPECT_EQ(Value(r, "Config", "VID"), "3333");
  // Entries below a header without ']' belong to no section.
  EXPECT_EQ(Value(r, "Config", "PID"), "<default>");
  EXPECT_EQ(Value(r, "Broken", "PID"), "<default>");
  EXPECT_FALSE(r.HasKey("Config", "# VID"));
  // A bare '[' names no section either, not even with the lines below it.
  const ProfileReader bare = ProfileReader::FromText("[ \nConfig]\nVID=1\n[\n[Recent]\nFile Path=x\n");
  EXPECT_EQ(Value(bare, "Config", "VID"), "<default>");
  EXPECT_EQ(Value(bare, "Recent", "File Path"), "x");
  const ProfileReader bare_after_bom = ProfileReader::FromText("\xEF\xBB\xBF[\n[Recent]\r\nFile Path=x\r\n");
  EXPECT_EQ(Value(bare_after_bom, "Recent", "File Path"), "x");
}

TEST(ProfileReader, FirstOccurrenceWinsAcrossRepeatedSections) {
  const ProfileReader r = ProfileReader::FromText(
      "[Config]\nVID=1\nvid=2\n[Boot]\nVID=9\n[CONFIG]\nVID=3\nPID=4\n");
  EXPECT_EQ(Value(r, "Config", "VID"), "1");
  EXPECT_EQ(Value(r, "Config", "PID"), "4");  // sections of one name merge
}

TEST(ProfileReader, CutsToCapacityMinusOne) {
  const ProfileReader r = ProfileReader::FromText("[S]\nK=abcdefgh\n");
  char buffer[16] = {};
  EXPECT_EQ(r.GetString("S", "K", nullptr, buffer, 8), 7u);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(r.GetString("S", "K", nullptr, buffer, 9), 8u);
  EXPECT_STREQ(buffer, "abcdefgh");
  EXPECT_EQ(r.GetString("S", "K", nullptr, buffer, 1), 0u);
  EXPECT_STREQ(buffer, "");
  // The default is cut the same way.
  EXPECT_EQ(r.GetString("S", "Missing", "0123456789", buffer, 4), 3u);
  EXPECT_STREQ(buffer, "012");
  // Nothing to write into.
  buffer[0] = 'x';
  EXPECT_EQ(r.GetString("S", "K", nullptr, buffer, 0), 0u);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(r.GetString("S", "K", nullptr, nullptr, 8), 0u);
}

TEST(ProfileReader, NonRegularAndOversizedFilesReadAsEmpty) {
  testing::ScratchDir dir;
  EXPECT_EQ(Value(ProfileReader::FromFile(dir.path()), "Config", "VID"), "<default>");
  EXPECT_EQ(Value(ProfileReader::FromFile("/dev/null"), "Config", "VID"), "<default>");

  std::string big = "[Config]\nVID=1\n";
  big += "Pad=" + std::string(kMaxSettingsFileSize, 'x') + "\n";
  const std::string file = dir.Write("big.ini", big);
  EXPECT_EQ(Value(ProfileReader::FromFile(file), "Config", "VID"), "<default>");

  std::string contents;
  EXPECT_EQ(ReadSettingsFile(file, &contents), SettingsFileRead::TooLarge);
  EXPECT_TRUE(contents.empty());
  EXPECT_EQ(ReadSettingsFile(dir.path(), &contents), SettingsFileRead::NotRegular);
  EXPECT_EQ(ReadSettingsFile(dir.File("none.ini"), &contents), SettingsFileRead::Missing);
  EXPECT_EQ(ReadSettingsFile(dir.File("none.ini/below"), &contents), SettingsFileRead::Missing);
}

TEST(ProfileReader, OneShotFileRead) {
  testing::ScratchDir dir;
  const std::string file = dir.Write("t.ini", "[Config]\nVID=0534\n");
  char buffer[16];
  EXPECT_EQ(ReadProfileString("Config", "VID", "x", buffer, sizeof buffer, file), 4u);
  EXPECT_STREQ(buffer, "0534");
}

}  // namespace
}  // namespace torvane
