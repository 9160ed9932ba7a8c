// Password hashing for locked files: PBKDF2-HMAC-SHA256 and random salt from
// the system (libcrypto on Linux, BCrypt on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace torvane::platform {

// Derives `length` bytes from `password` and `salt` with `iterations`
// rounds into `out`. False when the system library fails.
bool Pbkdf2Sha256(std::string_view password, const uint8_t* salt, size_t salt_length, uint32_t iterations,
                  uint8_t* out, size_t length);

// Fills `out` with `length` bytes from the system's cryptographic random
// source. False when it fails (never fills with weaker bytes).
bool SystemRandomBytes(uint8_t* out, size_t length);

}  // namespace torvane::platform
