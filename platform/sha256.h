// SHA-256 of a run of bytes: libcrypto on Linux, BCrypt on Windows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace torvane::platform {

std::optional<std::array<uint8_t, 32>> Sha256(const uint8_t* data, size_t length);

// A SHA-256 taken a piece at a time. A copy goes on from where the original
// stands, so bytes that many digests share are hashed once.
class Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream& other);
  Sha256Stream& operator=(const Sha256Stream&) = delete;

  void Update(const uint8_t* data, size_t length);
  // The digest of every byte given; none when the system failed at any
  // step. The stream takes no more bytes after it.
  std::optional<std::array<uint8_t, 32>> Finish();

 private:
  void* state_ = nullptr;  // the system's hash object; null once failed
};

}  // namespace torvane::platform
