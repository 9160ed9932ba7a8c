// Text a device hands over in the system's own character set (the info
// record of a bootloader): the locale's charset on Linux, the system ANSI
// code page on Windows.
#pragma once

#include <optional>
#include <string>

namespace torvane::platform {

// `bytes` converted from the system's character set to UTF-8, invalid
// bytes replaced by U+FFFD; nullopt when that character set is UTF-8 (or
// ASCII, or unknown), so the caller takes the bytes as UTF-8 itself.
std::optional<std::string> SystemTextToUtf8(const std::string& bytes);

}  // namespace torvane::platform
