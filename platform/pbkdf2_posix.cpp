// PBKDF2 and random bytes through OpenSSL's libcrypto.
#include "platform/pbkdf2.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>

namespace torvane::platform {

bool Pbkdf2Sha256(std::string_view password, const uint8_t* salt, size_t salt_length, uint32_t iterations,
                  uint8_t* out, size_t length) {
  if (password.size() > INT_MAX || salt_length > INT_MAX || length > INT_MAX || iterations == 0 ||
      iterations > INT_MAX) {
    return false;
  }
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(salt_length),
                           static_cast<int>(iterations), EVP_sha256(), static_cast<int>(length), out) == 1;
}

bool SystemRandomBytes(uint8_t* out, size_t length) {
  return length <= INT_MAX && RAND_bytes(out, static_cast<int>(length)) == 1;
}

}  // namespace torvane::platform
