#include "monitor/printable_text.h"

#include <cstdio>

namespace torvane {

namespace {

void AppendEscape(std::string& out, unsigned code_point) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\x%02X", code_point);
  out += escape;
}

}  // namespace

std::string EscapeControlCharacters(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7F) {
      AppendEscape(out, c);
    } else if (c == 0xC2 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80) {
      // U+0080..U+009F are encoded C2 80..C2 9F.
      AppendEscape(out, static_cast<unsigned char>(utf8[i + 1]));
      ++i;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

}  // namespace torvane
