// Checksums of the boot protocol.
#include "device/boot_protocol.h"

namespace torvane {

namespace {
// Table-driven CRC-16/MODBUS (reflected polynomial 0xA001), same result as
// the bitwise definition, about eight times faster on large images.
struct Crc16Table {
  uint16_t entries[256];
  constexpr Crc16Table() : entries{} {
    for (unsigned i = 0; i < 256; ++i) {
      uint16_t reg = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit) {
        reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : static_cast<uint16_t>(reg >> 1);
      }
      entries[i] = reg;
    }
  }
};
constexpr Crc16Table kCrc16Table;
}  // namespace

uint16_t boot_crc16(const uint8_t* data, uint32_t count) {
  uint16_t reg = 0xFFFF;
  for (uint32_t i = 0; i < count; ++i) {
    reg = static_cast<uint16_t>((reg >> 8) ^ kCrc16Table.entries[(reg ^ data[i]) & 0xFF]);
  }
  return static_cast<uint16_t>(((reg & 0xFF) << 8) | (reg >> 8));
}

uint32_t boot_xor32(const uint8_t* data, uint32_t count) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i + 4 <= count; i += 4) sum ^= boot_get_u32(data + i);
  return sum;
}

uint16_t boot_xor16(const uint8_t* data, uint32_t count) {
  uint16_t sum = 0;
  for (uint32_t i = 0; i + 2 <= count; i += 2) sum ^= boot_get_u16(data + i);
  return sum;
}

}  // namespace torvane
