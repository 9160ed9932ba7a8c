// PBKDF2 and random bytes through BCrypt: an HMAC-SHA256 provider for the
// derivation, the system-preferred generator for random bytes.
#include "platform/pbkdf2.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <climits>

namespace torvane::platform {

bool Pbkdf2Sha256(std::string_view password, const uint8_t* salt, size_t salt_length, uint32_t iterations,
                  uint8_t* out, size_t length) {
  if (password.size() > ULONG_MAX || salt_length > ULONG_MAX || length > ULONG_MAX || iterations == 0) return false;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
    return false;
  }
  const bool ok = BCRYPT_SUCCESS(::BCryptDeriveKeyPBKDF2(
      algorithm, reinterpret_cast<PUCHAR>(const_cast<char*>(password.data())), static_cast<ULONG>(password.size()),
      const_cast<PUCHAR>(salt), static_cast<ULONG>(salt_length), iterations, out, static_cast<ULONG>(length), 0));
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

bool SystemRandomBytes(uint8_t* out, size_t length) {
  return length <= ULONG_MAX &&
         BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, out, static_cast<ULONG>(length), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace torvane::platform
