// Firmware image preparation: turns a download job (an image file and an
// optional header file) into the exact bytes the bootloader receives and
// the length and checksum its start command announces.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "device/boot_protocol.h"
#include "download/image_buffer.h"

namespace torvane {

// What to flash: the image, and optionally a header sent in front of it.
struct DownloadJob {
  std::string image_path;
  std::string header_path;  // empty: no header
};

// The bytes to send and the start parameters. Layout of `buffer`: the
// header, then the image, each padded with 0xFF to a multiple of 4 bytes.
struct PreparedImage {
  ImageBuffer buffer;            // total_length bytes
  uint32_t header_length = 0;    // header file length rounded up to 4; 0 without one
  uint32_t image_length = 0;     // image file length rounded up to 4
  uint32_t total_length = 0;     // header_length + image_length
  uint32_t start_length = 0;     // BootStartParams.length
  uint32_t start_checksum = 0;   // BootStartParams.checksum
  // The lowest address of an Intel HEX or S-record image; none for a raw one.
  std::optional<uint32_t> file_load_address;
};

// Bytes at the front of the buffer that the CRC scheme sends as block 0
// but leaves out of the announced length and checksum.
inline constexpr uint32_t kCrcUncoveredPrefix = 48;

// Image files of this many bytes or more are mapped rather than read, so
// memory stays bounded whatever their size. Smaller ones (every real
// firmware) are read: a copy that a rebuild of the file cannot change
// under a running transfer.
inline constexpr uint64_t kMapImagesFrom = uint64_t{64} << 20;

struct PrepareControl {
  // Either raised: preparation stops within a few milliseconds and fails.
  const std::atomic<int32_t>* cancel = nullptr;
  const std::atomic<int32_t>* stop = nullptr;
  uint64_t map_images_from = kMapImagesFrom;
};

// Reads the files and fills `*out`. An image file in Intel HEX or
// S-record form (DetectImageFormat) contributes its data from the lowest
// to the highest address, gaps 0xFF, and its lowest address; a raw one
// its bytes. Start parameters:
//  - CHECKSUM_XOR: length = image_length, checksum = boot_xor32 over the
//    image (this scheme serves the old bootloader, which takes no header);
//  - CHECKSUM_CRC16: length = total_length - 48, checksum = boot_crc16 of
//    the bytes from offset 48 on, widened to 32 bits.
// Refuses (returns false, `*out` emptied, reason in `*error`: which file
// and what is wrong) a missing, unopenable, non-regular or empty image or
// named header, a read that fails or ends early, a padded length that does
// not fit in 32 bits, a buffer that cannot be had, CHECKSUM_CRC16 with
// fewer than 48 bytes, CHECKSUM_XOR with a header, and every refusal of
// ReadRecordImage (with its line number); also fails when
// `control` asks it to stop, reading records as well. Both files are closed before it returns, on
// every path.
bool PrepareImage(const DownloadJob& job, ChecksumScheme scheme, PreparedImage* out,
                  std::string* error = nullptr, const PrepareControl& control = {});

}  // namespace torvane
