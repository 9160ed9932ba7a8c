#include "settings/profile_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/profile_reader.h"

namespace torvane {
namespace {

std::string Set(const std::string& text, const char* section, const char* key, const std::string& value) {
  ProfileText profile(text);
  EXPECT_TRUE(profile.SetString(section, key, value));
  return profile.Text();
}

TEST(ProfileText, UnchangedWithoutEdits) {
  const std::string text = "\xEF\xBB\xBF; c\r\n[A]\r\nk = v \r\n\r\n#x\rlast";
  EXPECT_EQ(ProfileText(text).Text(), text);
  EXPECT_EQ(ProfileText("").Text(), "");
}

TEST(ProfileText, ReplacesTheValueInPlace) {
  EXPECT_EQ(Set("[Config]\nVID=0534\nPID=2\n", "Config", "VID", "534"), "[Config]\nVID=534\nPID=2\n");
  // Spacing around the value and the key's own spelling are kept.
  EXPECT_EQ(Set("[config]\n  vid =  0534  \n", "Config", "VID", "534"), "[config]\n  vid =  534  \n");
  EXPECT_EQ(Set("[Config]\nVID=\n", "Config", "VID", "1"), "[Config]\nVID=1\n");
  EXPECT_EQ(Set("[Recent]\nFile Path=/a.bin\n", "Recent", "File Path", ""), "[Recent]\nFile Path=\n");
}

TEST(ProfileText, KeepsEveryOtherLine) {
  const std::string before =
      "; Torvane settings\n"
      "[Recent]\n"
      "File Path=/old.bin\n"
      "\n"
      "[Config]\n"
      "; the application's identity\n"
      "VID=0534\n"
      "App Address = 8000\n"
      "Foreign Key=kept\n"
      "\n"
      "[Boot]\n"
      "Boot Update Check=1\n";
  const std::string after = Set(before, "Config", "VID", "534");
  EXPECT_EQ(after, "; Torvane settings\n"
                   "[Recent]\n"
                   "File Path=/old.bin\n"
                   "\n"
                   "[Config]\n"
                   "; the application's identity\n"
                   "VID=534\n"
                   "App Address = 8000\n"
                   "Foreign Key=kept\n"
                   "\n"
                   "[Boot]\n"
                   "Boot Update Check=1\n");
}

TEST(ProfileText, AddsAMissingKeyAfterTheSectionsLastEntry) {
  EXPECT_EQ(Set("[Config]\nVID=1\n\n; boot\n[Boot]\nVID=2\n", "Config", "PID", "3"),
            "[Config]\nVID=1\nPID=3\n\n; boot\n[Boot]\nVID=2\n");
  EXPECT_EQ(Set("[Config]\n[Boot]\n", "Config", "PID", "3"), "[Config]\nPID=3\n[Boot]\n");
  // Into the first of two sections of that name.
  EXPECT_EQ(Set("[Config]\nA=1\n[Config]\nB=2\n", "Config", "C", "3"), "[Config]\nA=1\nC=3\n[Config]\nB=2\n");
  // A last line without a line end gets one first.
  EXPECT_EQ(Set("[Config]\nVID=1", "Config", "PID", "3"), "[Config]\nVID=1\nPID=3\n");
}

TEST(ProfileText, AppendsAMissingSection) {
  EXPECT_EQ(Set("", "Recent", "File Path", ""), "[Recent]\nFile Path=\n");
  EXPECT_EQ(Set("[Boot]\nVID=1\n", "Config", "VID", "534"), "[Boot]\nVID=1\n\n[Config]\nVID=534\n");
  EXPECT_EQ(Set("[Boot]\nVID=1", "Config", "VID", "534"), "[Boot]\nVID=1\n\n[Config]\nVID=534\n");
  EXPECT_EQ(Set("[Boot]\n\n", "Config", "VID", "534"), "[Boot]\n\n[Config]\nVID=534\n");
}

TEST(ProfileText, NewLinesFollowTheFilesLineEnds) {
  EXPECT_EQ(Set("\xEF\xBB\xBF[Config]\r\nVID=1\r\n", "Config", "PID", "2"),
            "\xEF\xBB\xBF[Config]\r\nVID=1\r\nPID=2\r\n");
  EXPECT_EQ(Set("[Config]\r\nVID=1\r\n", "Recent", "File Path", "x"),
            "[Config]\r\nVID=1\r\n\r\n[Recent]\r\nFile Path=x\r\n");
}

TEST(ProfileText, LineBreaksInAValueCannotInjectLines) {
  const std::string text = Set("[Boot]\nVID=484F\n", "Recent", "File Path", "/a.bin\n[Boot]\nVID=1234");
  EXPECT_EQ(text, "[Boot]\nVID=484F\n\n[Recent]\nFile Path=/a.bin\n");
  EXPECT_EQ(Set("", "S", "K", std::string("a\0b", 3)), "[S]\nK=a\n");
  EXPECT_EQ(Set("", "S", "K", "a\rb"), "[S]\nK=a\n");
}

TEST(ProfileText, RefusesNamesTheFormatCannotHold) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "K"},      {"S", ""},     {"S]", "K"},   {"S\n", "K"},   {" S", "K"},
      {"S", "K="},    {"S", "[K"},   {"S", ";K"},   {"S", "#K"},    {"S", "K "},
      {"S", "K\r"},
  };
  for (const auto& [section, key] : bad) {
    ProfileText profile("[S]\nK=1\n");
    EXPECT_FALSE(profile.SetString(section, key, "v")) << section << "/" << key;
    EXPECT_EQ(profile.Text(), "[S]\nK=1\n");
  }
}

TEST(ProfileText, QuotedValuesReadWithoutTheirQuotesAndKeepThemWhenSaved) {
  const std::string text = "[Recent]\nFile Path=\"/home/a b/app.bin\"\nOther='x'\nOdd=\"y'\n";
  const ProfileReader reader = ProfileReader::FromText(text);
  std::string value;
  ASSERT_TRUE(reader.Lookup("Recent", "File Path", &value));
  EXPECT_EQ(value, "/home/a b/app.bin");
  ASSERT_TRUE(reader.Lookup("Recent", "Other", &value));
  EXPECT_EQ(value, "x");
  ASSERT_TRUE(reader.Lookup("Recent", "Odd", &value));
  EXPECT_EQ(value, "\"y'");  // not one matching pair
  EXPECT_EQ(Set(text, "Recent", "File Path", "/home/a b/app.bin"), text);
  EXPECT_EQ(Set(text, "Recent", "Other", "z"), "[Recent]\nFile Path=\"/home/a b/app.bin\"\nOther='z'\nOdd=\"y'\n");
}

// Whatever the text, the value written is the value the reader finds, and
// no other key the reader sees changes.
TEST(ProfileText, WhatIsWrittenIsWhatIsRead) {
  const std::vector<std::string> texts = {
      "",
      "[Config]\nVID=1\n",
      "[config]\nvid=1\nVID=2\n",
      "[Config]\nPID=1\n[Boot]\nVID=2\n[CONFIG]\nVID=3\n",
      "VID=orphan\n[Config]\n",
      "[Config\nVID=in broken section\n",
      "[Config]\n[Broken\nVID=in broken section\n[Other]\nX=1\n",
      "\xEF\xBB\xBF[Config]\r\n; VID=commented\r\n  VID  =  9  \r\n",
      "[Config]\rVID=1\rPID=2",
      "# [Config]\n;VID=1\n[Config]\n  # VID=2\nPID=3",
      "[ Config ] trailing text\nVID=5\n",
      "[]\nVID=1\n[Config]\nX=\n",
      "[Config]\nVID='quoted'\n",
  };
  const std::vector<std::pair<const char*, const char*>> probes = {
      {"Config", "VID"}, {"Config", "PID"}, {"Config", "X"}, {"Boot", "VID"}, {"Other", "X"}, {"Recent", "File Path"}};
  for (const std::string& text : texts) {
    for (const std::string value : {"534", "", "a b", "\"q\"", "'q'", " padded "}) {
      ProfileText profile(text);
      ASSERT_TRUE(profile.SetString("Config", "VID", value));
      const ProfileReader before = ProfileReader::FromText(text);
      const ProfileReader after = ProfileReader::FromText(profile.Text());
      std::string read;
      ASSERT_TRUE(after.Lookup("Config", "VID", &read)) << text;
      EXPECT_EQ(read, value) << text;
      for (const auto& [section, key] : probes) {
        if (std::string(section) == "Config" && std::string(key) == "VID") continue;
        std::string was, now;
        EXPECT_EQ(before.Lookup(section, key, &was), after.Lookup(section, key, &now)) << text;
        EXPECT_EQ(was, now) << text << " " << section << "/" << key;
      }
    }
  }
}

}  // namespace
}  // namespace torvane
