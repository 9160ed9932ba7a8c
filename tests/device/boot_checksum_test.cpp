// Checksums of the boot protocol against published vectors and the bitwise
// definition of the CRC.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "device/boot_protocol.h"

namespace torvane {
namespace {

// The CRC as the protocol defines it, bit by bit, before the byte exchange.
uint16_t crc16_register_bitwise(const std::vector<uint8_t>& data) {
  uint16_t reg = 0xFFFF;
  for (uint8_t b : data) {
    reg ^= b;
    for (int i = 0; i < 8; ++i) reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : static_cast<uint16_t>(reg >> 1);
  }
  return reg;
}

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

TEST(BootCrc16, CheckValueOfTheDigitsGoesOutHighByteFirst) {
  const auto digits = bytes_of("123456789");
  const uint16_t crc = boot_crc16(digits.data(), static_cast<uint32_t>(digits.size()));
  EXPECT_EQ(crc, 0x374B);
  uint8_t field[2];
  boot_put_u16(field, crc);
  EXPECT_EQ(field[0], 0x4B);
  EXPECT_EQ(field[1], 0x37);
}

TEST(BootCrc16, EmptyInputGivesTheInitialRegister) {
  EXPECT_EQ(boot_crc16(nullptr, 0), 0xFFFF);
}

TEST(BootCrc16, BlockOfFFBytes) {
  const std::vector<uint8_t> block(48, 0xFF);
  EXPECT_EQ(crc16_register_bitwise(block), 0x6470);
  EXPECT_EQ(boot_crc16(block.data(), 48), 0x7064);
}

TEST(BootCrc16, TableMatchesTheBitwiseDefinition) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> data(static_cast<size_t>(rng() % 300));
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const uint16_t reg = crc16_register_bitwise(data);
    const uint16_t swapped = static_cast<uint16_t>(((reg & 0xFF) << 8) | (reg >> 8));
    ASSERT_EQ(boot_crc16(data.data(), static_cast<uint32_t>(data.size())), swapped) << data.size();
  }
}

TEST(BootXor, Vectors) {
  const std::vector<uint8_t> d = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(boot_xor32(d.data(), 8), 0x0C040404u);
  EXPECT_EQ(boot_xor16(d.data(), 8), 0x0800);
  uint8_t field[2];
  boot_put_u16(field, boot_xor16(d.data(), 8));
  EXPECT_EQ(field[0], 0x00);  // low byte first, unlike the CRC
  EXPECT_EQ(field[1], 0x08);
}

TEST(BootXor, TrailingBytesAreIgnored) {
  const std::vector<uint8_t> d = {1, 2, 3, 4, 5, 6, 7, 8, 0xAA, 0xBB, 0xCC};
  EXPECT_EQ(boot_xor32(d.data(), 11), 0x0C040404u);
  EXPECT_EQ(boot_xor16(d.data(), 9), 0x0800);
  EXPECT_EQ(boot_xor32(d.data(), 3), 0u);
  EXPECT_EQ(boot_xor16(d.data(), 1), 0);
  EXPECT_EQ(boot_xor32(nullptr, 0), 0u);
}

TEST(BootStartParams, PackLittleEndian) {
  const auto bytes = boot_pack_start_params({0x08001000, 0x00012345, 0x0000374B});
  const std::array<uint8_t, 12> want = {0x00, 0x10, 0x00, 0x08, 0x45, 0x23, 0x01, 0x00, 0x4B, 0x37, 0x00, 0x00};
  EXPECT_EQ(bytes, want);
}

}  // namespace
}  // namespace torvane
