// Turns the info record of a bootloader into the text shown to the operator.
#pragma once

#include <string>

#include "device/boot_protocol.h"

namespace torvane {

// Largest number of characters shown of an info text: a record without a
// NUL is all of its 48 bytes.
inline constexpr size_t kInfoTextMaxChars = BOOT_INFO_SIZE;

// The record's text (up to its first NUL, never past the record) converted
// from the system's character set (the locale's on Linux, the system ANSI
// code page on Windows) to UTF-8, invalid bytes replaced by
// U+FFFD, cut to 48 characters. The C/POSIX locale counts as UTF-8.
std::string ConvertInfoText(const BootInfo& info);

// The same conversion for raw bytes.
std::string LocaleBytesToUtf8(const std::string& bytes);

}  // namespace torvane
