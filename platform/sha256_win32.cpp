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

namespace {

// The provider every stream hashes through, opened once for the process.
BCRYPT_ALG_HANDLE Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      return BCRYPT_ALG_HANDLE{nullptr};
    }
    return algorithm;
  }();
  return provider;
}

BCRYPT_HASH_HANDLE Hash(void* state) { return static_cast<BCRYPT_HASH_HANDLE>(state); }

}  // namespace

Sha256Stream::Sha256Stream() {
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (Provider() != nullptr && BCRYPT_SUCCESS(::BCryptCreateHash(Provider(), &hash, nullptr, 0, nullptr, 0, 0))) {
    state_ = hash;
  }
}

Sha256Stream::~Sha256Stream() {
  if (state_ != nullptr) ::BCryptDestroyHash(Hash(state_));
}

Sha256Stream::Sha256Stream(const Sha256Stream& other) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (other.state_ != nullptr && BCRYPT_SUCCESS(::BCryptDuplicateHash(Hash(other.state_), &hash, nullptr, 0, 0))) {
    state_ = hash;
  }
}

void Sha256Stream::Update(const uint8_t* data, size_t length) {
  for (size_t done = 0; state_ != nullptr && done < length;) {
    const ULONG n = static_cast<ULONG>(std::min<size_t>(length - done, 1u << 30));
    if (!BCRYPT_SUCCESS(::BCryptHashData(Hash(state_), const_cast<PUCHAR>(data + done), n, 0))) {
      ::BCryptDestroyHash(Hash(state_));
      state_ = nullptr;
    }
    done += n;
  }
}

std::optional<std::array<uint8_t, 32>> Sha256Stream::Finish() {
  std::optional<std::array<uint8_t, 32>> result;
  std::array<uint8_t, 32> sha{};
  if (state_ != nullptr && BCRYPT_SUCCESS(::BCryptFinishHash(Hash(state_), sha.data(), static_cast<ULONG>(sha.size()), 0))) {
    result = sha;
  }
  if (state_ != nullptr) ::BCryptDestroyHash(Hash(state_));
  state_ = nullptr;
  return result;
}

}  // namespace torvane::platform
