// 32-bit wcstoul/wcstol emulation and number formatting.
#include "settings/number_text.h"

#include <algorithm>
#include <cstdio>

namespace torvane {

namespace {

bool IsConversionSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Skips white space and reads an optional sign; returns the index of the
// first character after them.
size_t SkipSpaceAndSign(std::string_view text, bool* negative) {
  size_t i = 0;
  while (i < text.size() && IsConversionSpace(text[i])) ++i;
  *negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    *negative = text[i] == '-';
    ++i;
  }
  return i;
}

}  // namespace

uint32_t ParseHexU32(std::string_view text) {
  bool negative = false;
  size_t i = SkipSpaceAndSign(text, &negative);
  // "0x" followed by no hex digit converts the "0" alone: the value is 0
  // either way, so the prefix can be skipped unconditionally.
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;

  uint64_t value = 0;
  bool any_digit = false;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0) break;
    any_digit = true;
    if (!overflow) {
      value = value * 16 + static_cast<uint64_t>(digit);
      if (value > UINT32_MAX) overflow = true;
    }
  }
  if (!any_digit) return 0;
  // The unsigned conversion saturates regardless of the sign.
  if (overflow) return UINT32_MAX;
  const uint32_t magnitude = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - magnitude) : magnitude;
}

int32_t ParseDecI32(std::string_view text) {
  bool negative = false;
  size_t i = SkipSpaceAndSign(text, &negative);
  // The magnitude may reach 2^31 for a negative value (INT32_MIN).
  const uint64_t limit = negative ? uint64_t{1} << 31 : uint64_t{INT32_MAX};

  uint64_t value = 0;
  bool any_digit = false;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    any_digit = true;
    if (!overflow) {
      value = value * 10 + static_cast<uint64_t>(text[i] - '0');
      if (value > limit) overflow = true;
    }
  }
  if (!any_digit) return 0;
  if (overflow) return negative ? INT32_MIN : INT32_MAX;
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
}

size_t FormatNumber(uint32_t value, int base, char* buffer) {
  if (buffer == nullptr) return 0;
  int written = 0;
  switch (base) {
    case 2: {
      // Least significant digit first, then reversed in place.
      size_t count = 0;
      uint32_t rest = value;
      do {
        buffer[count++] = static_cast<char>('0' + (rest & 1u));
        rest >>= 1;
      } while (rest != 0 && count < kFormatNumberBufferSize - 1);
      buffer[count] = '\0';
      std::reverse(buffer, buffer + count);
      return count;
    }
    case 8:
      written = std::snprintf(buffer, kFormatNumberBufferSize, "%o", static_cast<unsigned>(value));
      break;
    case 16:
      written = std::snprintf(buffer, kFormatNumberBufferSize, "%X", static_cast<unsigned>(value));
      break;
    default:
      written = std::snprintf(buffer, kFormatNumberBufferSize, "%u", static_cast<unsigned>(value));
      break;
  }
  return written > 0 ? static_cast<size_t>(written) : 0;
}

std::string FormatNumber(uint32_t value, int base) {
  char buffer[kFormatNumberBufferSize] = {};
  const size_t length = FormatNumber(value, base, buffer);
  return std::string(buffer, length);
}

}  // namespace torvane
