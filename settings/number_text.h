// Number <-> text conversions shared by the settings file and the identity
// edit boxes. The settings format comes from a platform whose `long` is 32
// bits wide, so the parsers reproduce that platform's wcstoul/wcstol results
// exactly (saturation, negation modulo 2^32) instead of relying on the
// 64-bit C library functions of this one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvane {

// Unsigned base-16 conversion with a 32-bit unsigned long:
//  - leading white space (space, \t, \n, \v, \f, \r) is skipped;
//  - one '+' or '-' is accepted, then an optional "0x"/"0X" prefix
//    ("0x" with no digit after it reads as the digit 0);
//  - conversion stops at the first character that is not a hex digit;
//  - text without any digit gives 0;
//  - a value beyond 32 bits gives 0xFFFFFFFF, with or without a sign;
//  - otherwise a minus sign negates the value modulo 2^32.
uint32_t ParseHexU32(std::string_view text);

// Signed base-10 conversion with a 32-bit long: white space, sign and
// digits as above (no prefix); no digit gives 0; out-of-range values
// saturate to INT32_MIN / INT32_MAX.
int32_t ParseDecI32(std::string_view text);

// Smallest buffer FormatNumber writes into (64 binary digits + terminator).
inline constexpr size_t kFormatNumberBufferSize = 65;

// Writes `value` as text into `buffer` (at least kFormatNumberBufferSize
// chars) and returns the number of characters written (terminator
// excluded). Base 2: binary digits without leading zeros; base 8: "%o";
// base 16: "%X" (upper case, no prefix, no leading zeros); any other base:
// "%u". A null buffer writes nothing and returns 0.
size_t FormatNumber(uint32_t value, int base, char* buffer);

// Convenience form returning the text.
std::string FormatNumber(uint32_t value, int base);

}  // namespace torvane
