// SHA-256 through OpenSSL's libcrypto.
#include "platform/sha256.h"

#include <openssl/evp.h>

namespace torvane::platform {

std::optional<std::array<uint8_t, 32>> Sha256(const uint8_t* data, size_t length) {
  std::array<uint8_t, 32> sha{};
  unsigned int sha_length = 0;
  if (EVP_Digest(data, length, sha.data(), &sha_length, EVP_sha256(), nullptr) != 1 || sha_length != sha.size()) {
    return std::nullopt;
  }
  return sha;
}

}  // namespace torvane::platform
