// File names reach the core as UTF-8 and must name the same file on every
// system, Chinese folder names included.
#include "platform/utf8_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file_io.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

TEST(Utf8Path, ChineseNamesRoundTripAndNameTheSameFile) {
  testing::TempDir dir;
  const std::string folder = dir.path() + "/固件 文件夹";
  ASSERT_TRUE(std::filesystem::create_directory(platform::PathFromUtf8(folder)));
  const std::string file = folder + "/应用.bin";
  { std::ofstream(platform::PathFromUtf8(file), std::ios::binary) << "data"; }

  bool listed = false;
  for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(folder))) {
    listed = listed || platform::PathToUtf8(entry.path().filename()) == "应用.bin";
  }
  EXPECT_TRUE(listed);
  std::string contents;
  EXPECT_EQ(platform::ReadSmallFile(file, 16, &contents, nullptr), platform::SmallFileRead::Ok);
  EXPECT_EQ(contents, "data");
  EXPECT_TRUE(platform::ReplaceFileAtomically(file, "new\r\n\x1A tail"));
  EXPECT_EQ(platform::ReadSmallFile(file, 16, &contents, nullptr), platform::SmallFileRead::Ok);
  EXPECT_EQ(contents, "new\r\n\x1A tail");
}

}  // namespace
}  // namespace torvane
