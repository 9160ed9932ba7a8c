#include "job/serial_patch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

PreparedImage Prepare(const std::string& image, const std::string& header, ChecksumScheme scheme) {
  PreparedImage prepared;
  std::string error;
  EXPECT_TRUE(PrepareImage({image, header}, scheme, &prepared, &error)) << error;
  return prepared;
}

// Patching a prepared image gives what preparing an image that already
// holds the serial gives: the same bytes, length and checksum.
TEST(SerialPatch, EqualsPreparingThePatchedFile) {
  testing::TempDir dir;
  const Bytes image = testing::PatternBytes(4098);  // padded to 4100
  const Bytes header = testing::PatternBytes(20, 99);
  const Bytes serial = {'S', 'N', '0', '0', '1', '0', '0', '7'};
  struct Case {
    ChecksumScheme scheme;
    bool with_header;
    uint32_t offset;  // in the buffer
    Bytes bytes;
  };
  const Case cases[] = {
      {CHECKSUM_CRC16, false, 0, serial},                 // wholly in the uncovered block 0
      {CHECKSUM_CRC16, false, 44, serial},                // across the 48-byte boundary
      {CHECKSUM_CRC16, false, 48, serial},
      {CHECKSUM_CRC16, false, 1001, serial},              // unaligned
      {CHECKSUM_CRC16, false, 4098 - 8, serial},          // the image's last bytes
      {CHECKSUM_CRC16, false, 2000, {0x12}},
      {CHECKSUM_CRC16, true, 12, {0xAA, 0xBB, 0xCC, 0xDD}},  // in the header
      {CHECKSUM_CRC16, true, 20 + 4098 - 8, serial},
      {CHECKSUM_XOR, false, 0, serial},
      {CHECKSUM_XOR, false, 1001, serial},
      {CHECKSUM_XOR, false, 4098 - 3, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.scheme) + " header " + std::to_string(c.with_header) + " offset " +
                 std::to_string(c.offset));
    const std::string header_path = c.with_header ? dir.Write("header.bin", header) : "";
    const uint32_t front = c.with_header ? 20 : 0;
    const PreparedImage base = Prepare(dir.Write("base.bin", image), header_path, c.scheme);

    Bytes whole = c.with_header ? header : Bytes();
    whole.insert(whole.end(), image.begin(), image.end());
    std::copy(c.bytes.begin(), c.bytes.end(), whole.begin() + c.offset);
    const Bytes patched_header(whole.begin(), whole.begin() + front);
    const PreparedImage expected = Prepare(dir.Write("patched.bin", Bytes(whole.begin() + front, whole.end())),
                                           c.with_header ? dir.Write("header.bin", patched_header) : "", c.scheme);
    PreparedImage out;
    std::string error;
    ASSERT_TRUE(PatchSerial(base, c.offset, c.bytes, c.scheme, &out, &error)) << error;
    EXPECT_TRUE(out.buffer == Bytes(expected.buffer.begin(), expected.buffer.end()));
    EXPECT_EQ(out.total_length, expected.total_length);
    EXPECT_EQ(out.start_length, expected.start_length);
    EXPECT_EQ(out.start_checksum, expected.start_checksum);
    EXPECT_TRUE(base.buffer == Bytes(base.buffer.begin(), base.buffer.end()));
  }
}

TEST(SerialPatch, Refusals) {
  testing::TempDir dir;
  const PreparedImage crc = Prepare(dir.Write("a.bin", testing::PatternBytes(100)), "", CHECKSUM_CRC16);
  struct Case {
    const char* name;
    uint32_t offset;
    size_t width;
    ChecksumScheme scheme;
    const char* reason;
  };
  const Case cases[] = {
      {"past the end", 97, 4, CHECKSUM_CRC16, "do not lie inside the image's 100 bytes"},
      {"far past the end", 0xFFFFFFFF, 4, CHECKSUM_CRC16, "do not lie inside"},
      {"other scheme", 0, 4, CHECKSUM_XOR, "prepared for the other checksum scheme"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PreparedImage out;
    std::string error;
    EXPECT_FALSE(PatchSerial(crc, c.offset, Bytes(c.width, 0x55), c.scheme, &out, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_TRUE(out.buffer.empty());
  }
}

}  // namespace
}  // namespace torvane
