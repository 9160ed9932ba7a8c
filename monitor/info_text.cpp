#include "monitor/info_text.h"

#include <optional>

#include "platform/system_text.h"

namespace torvane {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at p (within n bytes), 0 if invalid.
size_t utf8_sequence_length(const unsigned char* p, size_t n) {
  const unsigned char c = p[0];
  size_t len;
  uint32_t min;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) { len = 2; min = 0x80; }
  else if ((c & 0xF0) == 0xE0) { len = 3; min = 0x800; }
  else if ((c & 0xF8) == 0xF0) { len = 4; min = 0x10000; }
  else return 0;
  if (len > n) return 0;
  uint32_t cp = c & (0x7F >> len);
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

std::string sanitize_utf8(const std::string& bytes) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t len = utf8_sequence_length(p + i, bytes.size() - i);
    if (len == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(bytes, i, len);
      i += len;
    }
  }
  return out;
}

std::string cut_to_chars(const std::string& utf8, size_t max_chars) {
  size_t chars = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (chars == max_chars) return utf8.substr(0, i);
      ++chars;
    }
  }
  return utf8;
}

}  // namespace

std::string LocaleBytesToUtf8(const std::string& bytes) {
  if (std::optional<std::string> converted = platform::SystemTextToUtf8(bytes)) return *converted;
  return sanitize_utf8(bytes);
}

std::string ConvertInfoText(const BootInfo& info) {
  return cut_to_chars(LocaleBytesToUtf8(boot_info_text(info)), kInfoTextMaxChars);
}

}  // namespace torvane
