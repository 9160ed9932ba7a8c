// SHA-256 of a run of bytes: libcrypto on Linux, BCrypt on Windows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace torvane::platform {

std::optional<std::array<uint8_t, 32>> Sha256(const uint8_t* data, size_t length);

}  // namespace torvane::platform
