// Image preparation against what differs between systems: bytes a text
// mode would change (CR LF, 0x1A), a Chinese folder name, directories and
// missing files, an Intel HEX image, and the mapped path for large images.
// Runs on Linux and under Wine alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download/prepare_image.h"
#include "platform/utf8_path.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

// Every byte value, with CR LF pairs and 0x1A (end of file in text mode)
// in the middle and at the very end.
Bytes TextModeTraps() {
  Bytes b;
  for (int i = 0; i < 256; ++i) b.push_back(static_cast<uint8_t>(i));
  const std::string traps = "\r\n\n\r\x1A\r\n\x1A";
  b.insert(b.end(), traps.begin(), traps.end());
  return b;
}

TEST(PrepareImagePortable, BytesAreTakenAsStoredReadOrMapped) {
  testing::TempDir dir;
  const Bytes bytes = TextModeTraps();
  const std::string file = dir.Write("crlf.bin", bytes);
  for (uint64_t map_from : {uint64_t{1} << 40, uint64_t{1}}) {
    PrepareControl control;
    control.map_images_from = map_from;
    PreparedImage out;
    std::string error;
    ASSERT_TRUE(PrepareImage({file, file}, CHECKSUM_CRC16, &out, &error, control)) << error;
    ASSERT_EQ(out.image_length, bytes.size());  // already a multiple of 4
    EXPECT_EQ(out.buffer.mapped(), map_from == 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
      ASSERT_EQ(out.buffer[i], bytes[i]) << "header byte " << i;
      ASSERT_EQ(out.buffer[out.header_length + i], bytes[i]) << "image byte " << i;
    }
  }
}

TEST(PrepareImagePortable, ChineseFolderNamesAndRefusals) {
  testing::TempDir dir;
  const std::string folder = dir.path() + "/固件 目录";
  ASSERT_TRUE(std::filesystem::create_directory(platform::PathFromUtf8(folder)));
  const Bytes bytes(100, 0x5A);
  const std::string file = folder + "/应用.bin";
  {
    std::ofstream out(platform::PathFromUtf8(file), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  PreparedImage out;
  std::string error;
  ASSERT_TRUE(PrepareImage({file, ""}, CHECKSUM_XOR, &out, &error)) << error;
  EXPECT_EQ(out.image_length, 100u);
  EXPECT_EQ(out.buffer[99], 0x5A);

  EXPECT_FALSE(PrepareImage({folder, ""}, CHECKSUM_XOR, &out, &error));
  EXPECT_NE(error.find("不是普通文件 (是目录)"), std::string::npos) << error;
  EXPECT_FALSE(PrepareImage({folder + "/无.bin", ""}, CHECKSUM_XOR, &out, &error));
  EXPECT_NE(error.find("无法打开"), std::string::npos) << error;
  EXPECT_NE(error.find("无.bin"), std::string::npos) << error;
}

TEST(PrepareImagePortable, IntelHexWithWindowsLineEnds) {
  testing::TempDir dir;
  const std::string text = ":0400000001020304F2\r\n:00000001FF\r\n";
  const std::string file = dir.Write("app.hex", Bytes(text.begin(), text.end()));
  PreparedImage out;
  std::string error;
  ASSERT_TRUE(PrepareImage({file, ""}, CHECKSUM_XOR, &out, &error)) << error;
  EXPECT_EQ(out.buffer, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(out.file_load_address, 0u);
}

}  // namespace
}  // namespace torvane
