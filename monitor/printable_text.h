// Text that came from a device, made safe to print: a terminal or the log
// pane must show what the device sent, never obey it.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// Replaces every control character of UTF-8 text with a visible escape
// "\xHH" (its code point in hexadecimal): C0 controls except line feed,
// DEL, and the C1 controls U+0080..U+009F. Everything else is kept as it
// is, line feeds included.
std::string EscapeControlCharacters(std::string_view utf8);

}  // namespace torvane
