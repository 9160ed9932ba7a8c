#include "monitor/printable_text.h"

#include <cstdio>

namespace torvane {

namespace {

void AppendEscape(std::string& out, unsigned code_point) {
  char escape[8];
  std::snprintf(escape, sizeof escape, code_point > 0xFF ? "\\u%04X" : "\\x%02X", code_point);
  out += escape;
}

// U+202A..U+202E (E2 80 AA..AE) and U+2066..U+2069 (E2 81 A6..A9): the
// code point when `at` starts one, else 0.
unsigned BidiControlAt(std::string_view utf8, size_t at) {
  if (at + 2 >= utf8.size() || static_cast<unsigned char>(utf8[at]) != 0xE2) return 0;
  const auto second = static_cast<unsigned char>(utf8[at + 1]);
  const auto third = static_cast<unsigned char>(utf8[at + 2]);
  if (second == 0x80 && third >= 0xAA && third <= 0xAE) return 0x2000 + third - 0x80;
  if (second == 0x81 && third >= 0xA6 && third <= 0xA9) return 0x2040 + third - 0x80;
  return 0;
}

}  // namespace

std::string EscapeControlCharacters(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F) {
      AppendEscape(out, c);
    } else if (const unsigned bidi = BidiControlAt(utf8, i); bidi != 0) {
      AppendEscape(out, bidi);
      i += 2;
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
