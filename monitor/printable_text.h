// Text that came from a device, made safe to print: a terminal or the log
// pane must show what the device sent, never obey it.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// Replaces every control character of UTF-8 text with a visible escape, so
// a device cannot forge a log line or reorder what is shown: C0 controls
// (line feed included), DEL and the C1 controls U+0080..U+009F become
// "\xHH"; the bidirectional embedding, override and isolate characters
// U+202A..U+202E and U+2066..U+2069 become "\uHHHH". Everything else is
// kept as it is.
std::string EscapeControlCharacters(std::string_view utf8);

}  // namespace torvane
