// Addresses and record fields in messages: "0x" and upper-case hex digits,
// zero-padded to a fixed width.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace torvane {

// `value` as "0x" followed by at least `digits` upper-case hex digits.
inline std::string HexText(uint64_t value, int digits = 8) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

}  // namespace torvane
