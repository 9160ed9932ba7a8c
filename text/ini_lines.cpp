#include "text/ini_lines.h"

#include <cstdint>

namespace torvane {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsComment(std::string_view rest) { return rest.empty() || rest[0] == ';' || rest[0] == '#'; }

// Whether `text` is well-formed UTF-8 without NUL (no overlong forms, no
// surrogates, nothing beyond U+10FFFF).
bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    uint32_t code;
    if ((c & 0xE0) == 0xC0) length = 2, code = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) length = 3, code = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) length = 4, code = c & 0x07;
    else return false;
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// The value after '=': quoted, or up to an inline comment. False with the
// reason for a quote left open or text after the closing one.
bool ReadValue(std::string_view raw, std::string* value, std::string* why) {
  raw = Trim(raw);
  if (!raw.empty() && raw[0] == '"') {
    const size_t close = raw.find('"', 1);
    if (close == std::string_view::npos) {
      *why = "the value's quote is not closed";
      return false;
    }
    if (!IsComment(Trim(raw.substr(close + 1)))) {
      *why = "text after the value's closing quote";
      return false;
    }
    *value = std::string(raw.substr(1, close - 1));
    return true;
  }
  size_t end = raw.size();
  for (size_t i = 0; i < raw.size(); ++i) {
    if ((raw[i] == ';' || raw[i] == '#') && (i == 0 || IsBlank(raw[i - 1]))) {
      end = i;
      break;
    }
  }
  *value = std::string(Trim(raw.substr(0, end)));
  return true;
}

}  // namespace

IniLines ReadIniLines(std::string_view text) {
  IniLines out;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string section;
  int number = 0;
  while (!text.empty()) {
    ++number;
    size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    if (end == std::string_view::npos) {
      text = {};
    } else {
      text.remove_prefix(end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1));
    }
    if (!IsUtf8(line)) {
      out.errors.push_back({number, "not UTF-8 text"});
      continue;
    }
    line = Trim(line);
    if (IsComment(line)) continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      const std::string_view name = close == std::string_view::npos ? "" : Trim(line.substr(1, close - 1));
      if (close == std::string_view::npos || name.empty() || !IsComment(Trim(line.substr(close + 1)))) {
        out.errors.push_back({number, "not a section header: " + std::string(line)});
        continue;
      }
      section = std::string(name);
      out.sections.push_back({number, section});
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      out.errors.push_back({number, "not a \"key = value\" line: " + std::string(line)});
      continue;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) {
      out.errors.push_back({number, "a value without a key"});
      continue;
    }
    IniLines::Entry entry{number, section, std::string(key), {}};
    std::string why;
    if (!ReadValue(line.substr(equals + 1), &entry.value, &why)) {
      out.errors.push_back({number, std::string(key) + ": " + why});
      continue;
    }
    out.entries.push_back(std::move(entry));
  }
  return out;
}

}  // namespace torvane
