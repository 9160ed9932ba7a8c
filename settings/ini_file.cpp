// CIni reads through ProfileReader: the file is parsed once per read, and
// the growing-buffer loop runs against that parsed copy.
#include "settings/ini_file.h"

#include <new>

#include "settings/number_text.h"
#include "settings/profile_reader.h"

namespace torvane {

namespace {

constexpr size_t kGetStringStep = 512;

bool EqualsNoCaseAscii(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

}  // namespace

CIni::~CIni() = default;

void CIni::SetPathName(std::string_view path) { m_pathName = std::string(path); }

std::string CIni::GetPathName() const { return m_pathName.value_or(std::string()); }

std::unique_ptr<char[]> CIni::GetString(const char* section, const char* key,
                                        const char* default_value) const {
  const ProfileReader reader =
      m_pathName ? ProfileReader::FromFile(*m_pathName) : ProfileReader();
  size_t size = kGetStringStep;
  for (;;) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size + 1]);
    if (!buffer) return nullptr;
    const size_t count = reader.GetString(section, key, default_value, buffer.get(), size);
    // A count of size - 1 may mean the value was cut: read again, larger.
    if (count + 1 < size) return buffer;
    size += kGetStringStep;
  }
}

void CIni::GetString(const char* section, const char* key, std::string& value,
                     const char* default_value) const {
  const std::unique_ptr<char[]> buffer = GetString(section, key, default_value);
  value = buffer ? buffer.get() : "";
}

bool CIni::GetBool(const char* section, const char* key) const {
  std::string text;
  GetString(section, key, text);
  if (text.size() > kIniNumberTextLimit) text.resize(kIniNumberTextLimit);
  if (text.empty()) return false;
  if (EqualsNoCaseAscii(text, "true") || EqualsNoCaseAscii(text, "yes")) return true;
  return ParseDecI32(text) != 0;
}

bool CIni::HasKey(const char* section, const char* key) const {
  if (!m_pathName) return false;
  return ProfileReader::FromFile(*m_pathName).HasKey(section, key);
}

}  // namespace torvane
