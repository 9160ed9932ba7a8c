// Firmware image preparation: turns a download job (an image file and an
// optional header file) into the exact bytes the bootloader receives and
// the length and checksum its start command announces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/boot_protocol.h"

namespace torvane {

// What to flash: the image, and optionally a header sent in front of it.
struct DownloadJob {
  std::string image_path;
  std::string header_path;  // empty: no header
};

// The bytes to send and the start parameters. Layout of `buffer`: the
// header, then the image, each padded with 0xFF to a multiple of 4 bytes.
struct PreparedImage {
  std::vector<uint8_t> buffer;   // total_length bytes
  uint32_t header_length = 0;    // header file length rounded up to 4; 0 without one
  uint32_t image_length = 0;     // image file length rounded up to 4
  uint32_t total_length = 0;     // header_length + image_length
  uint32_t start_length = 0;     // BootStartParams.length
  uint32_t start_checksum = 0;   // BootStartParams.checksum
};

// Bytes at the front of the buffer that the CRC scheme sends as block 0
// but leaves out of the announced length and checksum.
inline constexpr uint32_t kCrcUncoveredPrefix = 48;

// Reads the files and fills `*out`. Start parameters:
//  - CHECKSUM_XOR: length = image_length, checksum = boot_xor32 over the
//    image (this scheme serves the old bootloader, which takes no header);
//  - CHECKSUM_CRC16: length = total_length - 48, checksum = boot_crc16 of
//    the bytes from offset 48 on, widened to 32 bits.
// Refuses (returns false, `*out` emptied, reason in `*error`) a missing,
// unopenable, non-regular or empty image or named header, a read that
// fails or ends early, a padded length that does not fit in 32 bits, a
// buffer that cannot be allocated, CHECKSUM_CRC16 with fewer than 48
// bytes, and CHECKSUM_XOR with a header. Both files are closed before it
// returns, on every path.
bool PrepareImage(const DownloadJob& job, ChecksumScheme scheme, PreparedImage* out,
                  std::string* error = nullptr);

}  // namespace torvane
