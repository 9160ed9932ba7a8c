// Text helpers for error reports of the HID layer: the first line of a
// (possibly multi-line) message and the UTF-8 form of a wide library string.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// The text up to (not including) its first carriage return or line feed.
std::string hid_first_line(std::string_view text);

// UTF-8 encoding of a wide string as hidapi hands it out (UTF-32 on Linux);
// null gives an empty string, invalid code points become U+FFFD.
std::string hid_wide_to_utf8(const wchar_t* text);

}  // namespace torvane
