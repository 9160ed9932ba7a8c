// Checksums of what was sent, for the record of a unit: CRC-32 (zlib) and
// SHA-256 (platform/sha256.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane {

struct ImageDigest {
  uint32_t crc32 = 0;
  std::string sha256;  // 64 lower-case hex digits
};

ImageDigest DigestBytes(const uint8_t* data, size_t length);

}  // namespace torvane
