// SHA-256 through BCrypt. The algorithm provider is opened here (MinGW-w64
// has no BCRYPT_SHA256_ALG_HANDLE pseudo-handle); input longer than a ULONG
// is hashed in pieces.
#include "platform/sha256.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <algorithm>

namespace torvane::platform {

std::optional<std::array<uint8_t, 32>> Sha256(const uint8_t* data, size_t length) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return std::nullopt;
  }
  std::optional<std::array<uint8_t, 32>> result;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
    bool ok = true;
    for (size_t done = 0; ok && done < length;) {
      const ULONG n = static_cast<ULONG>(std::min<size_t>(length - done, 1u << 30));
      ok = BCRYPT_SUCCESS(::BCryptHashData(hash, const_cast<PUCHAR>(data + done), n, 0));
      done += n;
    }
    std::array<uint8_t, 32> sha{};
    if (ok && BCRYPT_SUCCESS(::BCryptFinishHash(hash, sha.data(), static_cast<ULONG>(sha.size()), 0))) result = sha;
    ::BCryptDestroyHash(hash);
  }
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
  return result;
}

}  // namespace torvane::platform
