#include "station/image_digest.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "platform/sha256.h"

namespace torvane {

ImageDigest DigestBytes(const uint8_t* data, size_t length) {
  ImageDigest digest;
  uLong crc = crc32(0L, Z_NULL, 0);
  for (size_t done = 0; done < length;) {
    const size_t n = std::min<size_t>(length - done, UINT_MAX);
    crc = crc32(crc, data + done, static_cast<uInt>(n));
    done += n;
  }
  digest.crc32 = static_cast<uint32_t>(crc);

  if (const auto sha = platform::Sha256(data, length)) {
    static const char kHex[] = "0123456789abcdef";
    for (uint8_t byte : *sha) {
      digest.sha256 += kHex[byte >> 4];
      digest.sha256 += kHex[byte & 0xF];
    }
  }
  return digest;
}

}  // namespace torvane
