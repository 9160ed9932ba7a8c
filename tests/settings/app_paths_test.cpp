#include "settings/app_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/path_syntax.h"
#include "platform/utf8_path.h"

namespace torvane {
namespace {

TEST(GetAppDirectory, IsTheRunningExecutablesDirectory) {
  const std::string dir = GetAppDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), platform::PathSeparator());
  EXPECT_TRUE(platform::IsAbsolutePath(dir)) << dir;
  // This test program is in it.
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(dir))) {
    found = found || entry.path().stem() == "torvane_settings_tests";
  }
  EXPECT_TRUE(found) << dir;
}

TEST(GetAppDirectory, TestOverrideReplacesAndRestores) {
  const std::string real = GetAppDirectory();
  SetAppDirectoryForTesting("/opt/elsewhere/");
  EXPECT_EQ(GetAppDirectory(), "/opt/elsewhere/");
  EXPECT_EQ(MakeAbsolutePath("Torvane.ini"), "/opt/elsewhere/Torvane.ini");
  SetAppDirectoryForTesting(std::nullopt);
  EXPECT_EQ(GetAppDirectory(), real);
}

TEST(MakeAbsolutePath, PutsRelativeNamesBehindTheDirectory) {
  EXPECT_EQ(MakeAbsolutePath("Torvane.ini", "/opt/torvane/"), "/opt/torvane/Torvane.ini");
  EXPECT_EQ(MakeAbsolutePath("sub/head.bin", "/opt/torvane/"), "/opt/torvane/sub/head.bin");
  EXPECT_EQ(MakeAbsolutePath("", "/opt/torvane/"), "/opt/torvane/");
  EXPECT_EQ(MakeAbsolutePath("Torvane.ini"), GetAppDirectory() + "Torvane.ini");
}

TEST(MakeAbsolutePath, LeavesAbsolutePathsAlone) {
  // Into the directory itself.
  EXPECT_EQ(MakeAbsolutePath("/opt/torvane/Torvane.ini", "/opt/torvane/"), "/opt/torvane/Torvane.ini");
  // Into another directory: kept as given, never glued behind the
  // executable's directory.
  EXPECT_EQ(MakeAbsolutePath("/home/op/fw/app.bin", "/opt/torvane/"), "/home/op/fw/app.bin");
  EXPECT_EQ(MakeAbsolutePath("/OPT/TORVANE/x.bin", "/opt/torvane/"), "/OPT/TORVANE/x.bin");
  EXPECT_EQ(MakeAbsolutePath("/", "/opt/torvane/"), "/");
}

TEST(MakeAbsolutePath, UnknownDirectoryLeavesTheNameAlone) {
  EXPECT_EQ(MakeAbsolutePath("Torvane.ini", ""), "Torvane.ini");
  SetAppDirectoryForTesting(std::string());
  EXPECT_EQ(MakeAbsolutePath("Torvane.ini"), "Torvane.ini");
  SetAppDirectoryForTesting(std::nullopt);
}

}  // namespace
}  // namespace torvane
