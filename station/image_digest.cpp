#include "station/image_digest.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <climits>

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

  unsigned char sha[EVP_MAX_MD_SIZE];
  unsigned int sha_length = 0;
  if (EVP_Digest(data, length, sha, &sha_length, EVP_sha256(), nullptr) == 1) {
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < sha_length; ++i) {
      digest.sha256 += kHex[sha[i] >> 4];
      digest.sha256 += kHex[sha[i] & 0xF];
    }
  }
  return digest;
}

}  // namespace torvane
