// Checksums of the boot protocol.
#include "device/boot_protocol.h"

namespace torvane {

namespace {
// Table-driven CRC-16/MODBUS (reflected polynomial 0xA001), same result as
// the bitwise definition. entries is the byte table; slice[k] advances a
// byte that is followed by k more, so eight bytes are folded per step
// (slicing-by-8, several times faster again on large images).
struct Crc16Table {
  uint16_t entries[256];
  uint16_t slice[8][256];
  constexpr Crc16Table() : entries{}, slice{} {
    for (unsigned i = 0; i < 256; ++i) {
      uint16_t reg = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit) {
        reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : static_cast<uint16_t>(reg >> 1);
      }
      entries[i] = reg;
      slice[0][i] = reg;
    }
    for (unsigned i = 0; i < 256; ++i) {
      for (int k = 1; k < 8; ++k) {
        slice[k][i] = static_cast<uint16_t>((slice[k - 1][i] >> 8) ^ entries[slice[k - 1][i] & 0xFF]);
      }
    }
  }
};
constexpr Crc16Table kCrc16Table;
}  // namespace

uint16_t boot_crc16(const uint8_t* data, uint32_t count) { return boot_crc16_update(0xFFFF, data, count); }

uint16_t boot_crc16_update(uint16_t crc, const uint8_t* data, uint32_t count) {
  // The result is the register with its bytes exchanged; 0xFFFF, the
  // starting register, reads the same both ways.
  uint16_t reg = static_cast<uint16_t>(((crc & 0xFF) << 8) | (crc >> 8));
  uint32_t i = 0;
  for (; count - i >= 8; i += 8) {
    const uint8_t* p = data + i;
    const unsigned low = (reg ^ p[0]) & 0xFF;
    const unsigned high = ((reg >> 8) ^ p[1]) & 0xFF;
    const auto& t = kCrc16Table.slice;
    reg = static_cast<uint16_t>(t[7][low] ^ t[6][high] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                                t[1][p[6]] ^ t[0][p[7]]);
  }
  for (; i < count; ++i) {
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
