// Windows files: the read-only attribute is respected when the settings
// file is replaced, a directory is no settings file, and a failed replace
// leaves no temporary file behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_io.h"
#include "platform/utf8_path.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

size_t FilesIn(const std::string& dir) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(dir))) {
    (void)entry;
    ++n;
  }
  return n;
}

TEST(FileIoWin32, ReadOnlyAttributeIsRespected) {
  testing::TempDir dir;
  const std::string file = dir.Write("Torvane.ini", {'o', 'l', 'd'});
  ASSERT_TRUE(::SetFileAttributesW(platform::PathFromUtf8(file).c_str(), FILE_ATTRIBUTE_READONLY));
  std::string error;
  EXPECT_FALSE(platform::ReplaceFileAtomically(file, "new", &error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
  std::string contents;
  EXPECT_EQ(platform::ReadSmallFile(file, 16, &contents, nullptr), platform::SmallFileRead::Ok);
  EXPECT_EQ(contents, "old");
  ::SetFileAttributesW(platform::PathFromUtf8(file).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(FileIoWin32, DirectoriesMissingAndOversizedFiles) {
  testing::TempDir dir;
  std::string contents;
  EXPECT_EQ(platform::ReadSmallFile(dir.path(), 16, &contents, nullptr), platform::SmallFileRead::NotRegular);
  EXPECT_EQ(platform::ReadSmallFile(dir.path() + "\\none.ini", 16, &contents, nullptr),
            platform::SmallFileRead::Missing);
  EXPECT_EQ(platform::ReadSmallFile(dir.path() + "\\none\\below.ini", 16, &contents, nullptr),
            platform::SmallFileRead::Missing);
  const std::string big = dir.Write("big.ini", std::vector<uint8_t>(17, 'x'));
  EXPECT_EQ(platform::ReadSmallFile(big, 16, &contents, nullptr), platform::SmallFileRead::TooLarge);
  // Replacing a directory or into a missing folder fails without a trace.
  EXPECT_FALSE(platform::ReplaceFileAtomically(dir.path(), "x"));
  std::string error;
  EXPECT_FALSE(platform::ReplaceFileAtomically(dir.path() + "\\none\\a.ini", "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(FilesIn(dir.path()), 1u);
}

}  // namespace
}  // namespace torvane
