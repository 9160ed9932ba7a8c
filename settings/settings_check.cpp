#include "settings/settings_check.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "settings/ini_file.h"
#include "settings/settings_file_io.h"

namespace torvane {

namespace {

enum class ValueKind { Hex16, Hex32, Flag };

struct NumberKey {
  const char* section;
  const char* key;
  ValueKind kind;
};

constexpr NumberKey kNumberKeys[] = {
    {"Config", "VID", ValueKind::Hex16},         {"Config", "PID", ValueKind::Hex16},
    {"Config", "Usage Page", ValueKind::Hex16},  {"Config", "Usage", ValueKind::Hex16},
    {"Config", "App Address", ValueKind::Hex32}, {"Config", "Disable User Input", ValueKind::Flag},
    {"OldBoot", "VID", ValueKind::Hex16},        {"OldBoot", "PID", ValueKind::Hex16},
    {"Boot", "VID", ValueKind::Hex16},           {"Boot", "PID", ValueKind::Hex16},
    {"Boot", "Usage Page", ValueKind::Hex16},    {"Boot", "Usage", ValueKind::Hex16},
    {"Boot", "Boot Update Check", ValueKind::Flag},
};

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view SkipSpace(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) text.remove_prefix(1);
  return text;
}

std::string_view SkipSign(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  return text;
}

// What may follow a value the readers read as it is meant: blanks, or a
// comment after them.
bool OnlyCommentAfter(std::string_view rest) {
  rest = SkipSpace(rest);
  return rest.empty() || rest.front() == ';' || rest.front() == '#';
}

bool StartsWithWord(std::string_view text, const char* word) {
  const size_t n = std::strlen(word);
  return text.size() >= n && strncasecmp(text.data(), word, n) == 0 && OnlyCommentAfter(text.substr(n));
}

// Empty when the readers read the text as what it plainly says, else what
// is wrong. The readers read a flag as a decimal number (stopping at the
// first other character; no digit is 0), except that the whole text "true"
// or "yes" is 1; a number as hexadecimal, likewise stopping at the first
// other character. So "534 ; comment" is 0x534 as meant, "false" is 0 as
// meant, but "on" or "true ; comment" read as 0 and "l000" reads as 0.
std::string CheckValue(std::string_view text, ValueKind kind) {
  if (kind == ValueKind::Flag) {
    const std::string word(text);
    if (strcasecmp(word.c_str(), "true") == 0 || strcasecmp(word.c_str(), "yes") == 0) return {};
    const std::string_view value = SkipSpace(text);
    std::string_view digits = SkipSign(value);
    size_t count = 0;
    while (count < digits.size() && std::isdigit(static_cast<unsigned char>(digits[count])) != 0) ++count;
    if (count > 0 && OnlyCommentAfter(digits.substr(count))) return {};
    for (const char* off : {"false", "no", "off"}) {
      if (StartsWithWord(value, off)) return {};
    }
    for (const char* on : {"true", "yes", "on"}) {
      if (StartsWithWord(value, on)) return "会被读作 0 (关); 要打开请写 1";
    }
    return "不是开关值(应为 0、1、true 或 yes)";
  }
  std::string_view digits = SkipSign(SkipSpace(text));
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
  const unsigned long long limit = kind == ValueKind::Hex16 ? 0xFFFFULL : 0xFFFFFFFFULL;
  unsigned long long value = 0;
  size_t count = 0;
  for (; count < digits.size() && HexDigitValue(digits[count]) >= 0; ++count) {
    if (value <= limit) value = value * 16 + static_cast<unsigned>(HexDigitValue(digits[count]));  // stops growing past the limit
  }
  if (count == 0 || !OnlyCommentAfter(digits.substr(count))) return "不是十六进制数";
  if (value <= limit) return {};
  return kind == ValueKind::Hex16 ? "超出范围(最大 FFFF)" : "超出范围(最大 FFFFFFFF)";
}

}  // namespace

std::string UnusableSettingsFileReason(const std::string& path) {
  std::string text;
  int os_error = 0;
  switch (ReadSettingsFile(path, &text, &os_error)) {
    case SettingsFileRead::Missing:
      return {};
    case SettingsFileRead::NotRegular:
      return "不是普通文件";
    case SettingsFileRead::TooLarge:
      return "文件过大(超过 " + std::to_string(kMaxSettingsFileSize / 1024) + " KiB)";
    case SettingsFileRead::Error:
      if (os_error == EACCES || os_error == EPERM) return "没有读取权限";
      return std::string("无法读取: ") + std::strerror(os_error);
    case SettingsFileRead::Ok:
      break;
  }
  // A NUL byte means text in another encoding (UTF-16) or no text at all:
  // its keys would silently not be found.
  if (text.find('\0') != std::string::npos) return "不是 UTF-8 文本(含 NUL 字节, 可能是 UTF-16 编码)";
  return {};
}

std::vector<UnparsableSetting> FindUnparsableSettings(const CIni& ini) {
  std::vector<UnparsableSetting> found;
  for (const NumberKey& k : kNumberKeys) {
    std::string text;
    ini.GetString(k.section, k.key, text);
    if (text.empty()) continue;  // missing or empty: the default
    std::string reason = CheckValue(text, k.kind);
    if (!reason.empty()) found.push_back({std::string(k.section) + "/" + k.key, text, std::move(reason)});
  }
  return found;
}

}  // namespace torvane
