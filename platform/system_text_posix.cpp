// Linux: the locale's charset (nl_langinfo), converted with iconv. The C
// locale (ANSI_X3.4-1968) counts as UTF-8.
#include "platform/system_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

namespace torvane::platform {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

bool CodesetIsUtf8Like(const char* codeset) {
  return codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "UTF-8") == 0 ||
         std::strcmp(codeset, "utf8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
}

}  // namespace

std::optional<std::string> SystemTextToUtf8(const std::string& bytes) {
  const char* codeset = nl_langinfo(CODESET);
  if (CodesetIsUtf8Like(codeset)) return std::nullopt;
  iconv_t cd = iconv_open("UTF-8", codeset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
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

}  // namespace torvane::platform
