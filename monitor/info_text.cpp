#include "monitor/info_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

namespace torvane {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

bool codeset_is_utf8_like(const char* codeset) {
  return codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "UTF-8") == 0 ||
         std::strcmp(codeset, "utf8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
}

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

std::string convert_with_iconv(const std::string& bytes, const char* codeset) {
  iconv_t cd = iconv_open("UTF-8", codeset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return sanitize_utf8(bytes);
  std::string out;
  std::string input = bytes;
  char* in = input.data();
  size_t in_left = input.size();
  char buffer[256];
  while (in_left > 0) {
    char* outp = buffer;
    size_t out_left = sizeof(buffer);
    const size_t rc = iconv(cd, &in, &in_left, &outp, &out_left);
    out.append(buffer, sizeof(buffer) - out_left);
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Invalid or incomplete sequence: replace one byte and go on.
      out += kReplacement;
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
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
  const char* codeset = nl_langinfo(CODESET);
  if (codeset_is_utf8_like(codeset)) return sanitize_utf8(bytes);
  return convert_with_iconv(bytes, codeset);
}

std::string ConvertInfoText(const BootInfo& info) {
  return cut_to_chars(LocaleBytesToUtf8(boot_info_text(info)), kInfoTextMaxChars);
}

}  // namespace torvane
