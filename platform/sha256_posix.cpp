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

namespace {
EVP_MD_CTX* Ctx(void* state) { return static_cast<EVP_MD_CTX*>(state); }
}  // namespace

Sha256Stream::Sha256Stream() : state_(EVP_MD_CTX_new()) {
  if (state_ != nullptr && EVP_DigestInit_ex(Ctx(state_), EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(Ctx(state_));
    state_ = nullptr;
  }
}

Sha256Stream::~Sha256Stream() { EVP_MD_CTX_free(Ctx(state_)); }

Sha256Stream::Sha256Stream(const Sha256Stream& other) {
  if (other.state_ == nullptr) return;
  state_ = EVP_MD_CTX_new();
  if (state_ != nullptr && EVP_MD_CTX_copy_ex(Ctx(state_), Ctx(other.state_)) != 1) {
    EVP_MD_CTX_free(Ctx(state_));
    state_ = nullptr;
  }
}

void Sha256Stream::Update(const uint8_t* data, size_t length) {
  if (state_ != nullptr && EVP_DigestUpdate(Ctx(state_), data, length) != 1) {
    EVP_MD_CTX_free(Ctx(state_));
    state_ = nullptr;
  }
}

std::optional<std::array<uint8_t, 32>> Sha256Stream::Finish() {
  std::optional<std::array<uint8_t, 32>> result;
  std::array<uint8_t, 32> sha{};
  unsigned int sha_length = 0;
  if (state_ != nullptr && EVP_DigestFinal_ex(Ctx(state_), sha.data(), &sha_length) == 1 && sha_length == sha.size()) {
    result = sha;
  }
  EVP_MD_CTX_free(Ctx(state_));
  state_ = nullptr;
  return result;
}

}  // namespace torvane::platform
