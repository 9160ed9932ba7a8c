// Numbers as upper-case hex digits, zero-padded to a fixed width: addresses
// and record fields in messages ("0x" before them), USB identities (none).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace torvane {

// `value` as at least `digits` upper-case hex digits.
inline std::string HexDigits(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

// `value` as "0x" followed by at least `digits` upper-case hex digits.
inline std::string HexText(uint64_t value, int digits = 8) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

}  // namespace torvane
