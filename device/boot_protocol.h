// The boot protocol: request/reply frames in HID reports, its four commands,
// the status preset and the three checksums (CRC-16 for the current
// bootloader, XOR-32/XOR-16 for the old one). All fields little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/hid_link.h"

namespace torvane {

inline constexpr uint16_t BOOT_FRAME_MAGIC = 0x90EB;
inline constexpr uint16_t BOOT_REPLY_MAGIC = 0x09D7;
inline constexpr size_t BOOT_FRAME_BUFFER_SIZE = 128;
inline constexpr uint32_t BOOT_BLOCK_SIZE = 48;
inline constexpr int BOOT_STATUS_NONE = -1;

inline constexpr uint16_t BOOT_CMD_DATA = 0;
inline constexpr uint16_t BOOT_CMD_INFO = 2;
inline constexpr uint16_t BOOT_CMD_START = 3;
inline constexpr uint16_t BOOT_CMD_ENTER_BOOT = 7;

// Frame offsets (from the report-ID byte).
inline constexpr size_t BOOT_OFF_REPORT_ID = 0;
inline constexpr size_t BOOT_OFF_MAGIC = 1;
inline constexpr size_t BOOT_OFF_COMMAND = 3;
inline constexpr size_t BOOT_OFF_PAYLOAD = 5;
inline constexpr size_t BOOT_OFF_BLOCK_INDEX = 5;
inline constexpr size_t BOOT_OFF_BLOCK_CHECKSUM = 9;
inline constexpr size_t BOOT_OFF_BLOCK_LENGTH = 11;
inline constexpr size_t BOOT_OFF_BLOCK_DATA = 13;

// Reply offsets (from the first byte of the reply proper).
inline constexpr size_t BOOT_REPLY_OFF_MAGIC = 0;
inline constexpr size_t BOOT_REPLY_OFF_COMMAND = 2;
inline constexpr size_t BOOT_REPLY_OFF_STATUS = 4;
inline constexpr size_t BOOT_REPLY_OFF_INFO = 8;

inline constexpr size_t BOOT_INFO_SIZE = 48;

enum ChecksumScheme { CHECKSUM_XOR, CHECKSUM_CRC16 };

// Payload of BOOT_CMD_START; serialised to frame offsets 5..16.
struct BootStartParams {
  uint32_t load_address = 0;
  uint32_t length = 0;
  uint32_t checksum = 0;
};
inline constexpr size_t BOOT_START_PARAMS_SIZE = 12;

// The 48-byte record of an info reply. Its text runs to the first NUL.
struct BootInfo {
  std::array<uint8_t, BOOT_INFO_SIZE> bytes{};
};

// The info text: bytes up to the first NUL, or all 48 bytes of a record
// without one (never reads past the record).
std::string boot_info_text(const BootInfo& info);

// Serialises start parameters little-endian into 12 bytes.
std::array<uint8_t, BOOT_START_PARAMS_SIZE> boot_pack_start_params(const BootStartParams& params);

// Exchanges one command frame; stores the device's status on a valid reply.
// Returns -1 on every path: callers read the status.
int boot_send_command(HidDevice* device, uint16_t command, const uint8_t* payload,
                      int payload_length, int* status);

// Sends a caller-built block frame (byte 0 is overwritten with the output
// report ID). Returns 0 when a valid reply came (status stored), else -1.
int boot_send_block(HidDevice* device, const uint8_t* frame, int frame_length, int* status);

// Sends BOOT_CMD_INFO; on status 0 copies the 48-byte record into *info.
// Returns -1 on every path.
int boot_query_info(HidDevice* device, int* status, BootInfo* info);

// CRC-16/MODBUS, returned with its two bytes exchanged so that it goes out
// high byte first when stored little-endian.
uint16_t boot_crc16(const uint8_t* data, uint32_t count);
// Continues a CRC over further bytes: boot_crc16(a + b) equals
// boot_crc16_update(boot_crc16(a), b), so large images go in pieces.
uint16_t boot_crc16_update(uint16_t crc, const uint8_t* data, uint32_t count);
uint32_t boot_xor32(const uint8_t* data, uint32_t count);
uint16_t boot_xor16(const uint8_t* data, uint32_t count);

// Little-endian field helpers shared by the tool and the simulated device.
inline void boot_put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void boot_put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t boot_get_u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t boot_get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace torvane
