// Checksums of what was sent, for the record of a unit: CRC-32 (zlib) and
// SHA-256 (platform/sha256.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sha256.h"

namespace torvane {

struct ImageDigest {
  uint32_t crc32 = 0;
  std::string sha256;  // 64 lower-case hex digits
};

ImageDigest DigestBytes(const uint8_t* data, size_t length);

// The digests of many copies of one image that differ only in `width`
// bytes at `offset` (each unit's serial number): what the copies share is
// summed once here, so a copy costs the CRC-32 of its own bytes, joined to
// the shared parts, and the SHA-256 from the 64-byte block those bytes begin
// in (the state before it is kept). Of() gives what DigestBytes gives.
class SharedImageDigest {
 public:
  SharedImageDigest(const uint8_t* base, size_t length, size_t offset, size_t width);
  // The digest of `copy`, which must equal the base outside the bytes named
  // above; one of another length (or bytes not inside it) is summed whole.
  ImageDigest Of(const uint8_t* copy, size_t length) const;

 private:
  size_t length_, offset_, width_, block_;
  bool usable_;
  uint32_t crc_before_ = 0;  // of the bytes in front
  uint32_t crc_after_ = 0;   // of the bytes behind, on their own
  platform::Sha256Stream sha_before_;  // of the whole blocks in front
};

}  // namespace torvane
