#include "station/image_digest.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <limits>
#include <optional>

#include "platform/sha256.h"

namespace torvane {

namespace {

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length) {
  uLong sum = crc;
  for (size_t done = 0; done < length;) {
    const size_t n = std::min<size_t>(length - done, UINT_MAX);
    sum = crc32(sum, data + done, static_cast<uInt>(n));
    done += n;
  }
  return static_cast<uint32_t>(sum);
}

std::string Hex(const std::optional<std::array<uint8_t, 32>>& sha) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  if (!sha) return text;
  for (uint8_t byte : *sha) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  return text;
}

// SHA-256 takes its input in blocks of this many bytes.
constexpr size_t kShaBlock = 64;

}  // namespace

ImageDigest DigestBytes(const uint8_t* data, size_t length) {
  ImageDigest digest;
  digest.crc32 = Crc32(0, data, length);
  digest.sha256 = Hex(platform::Sha256(data, length));
  return digest;
}

SharedImageDigest::SharedImageDigest(const uint8_t* base, size_t length, size_t offset, size_t width)
    : length_(length), offset_(offset), width_(width), block_(offset / kShaBlock * kShaBlock),
      // crc32_combine takes the length behind as a z_off_t (32 bits on Windows).
      usable_(offset <= length && width <= length - offset &&
              length - offset - width <= static_cast<size_t>(std::numeric_limits<z_off_t>::max())) {
  if (!usable_) return;
  crc_before_ = Crc32(0, base, offset);
  crc_after_ = Crc32(0, base + offset + width, length - offset - width);
  sha_before_.Update(base, block_);
}

ImageDigest SharedImageDigest::Of(const uint8_t* copy, size_t length) const {
  if (!usable_ || length != length_) return DigestBytes(copy, length);
  ImageDigest digest;
  const uint32_t crc = Crc32(crc_before_, copy + offset_, width_);
  digest.crc32 = static_cast<uint32_t>(
      crc32_combine(crc, crc_after_, static_cast<z_off_t>(length - offset_ - width_)));
  platform::Sha256Stream sha(sha_before_);
  sha.Update(copy + block_, length - block_);
  digest.sha256 = Hex(sha.Finish());
  return digest;
}

}  // namespace torvane
