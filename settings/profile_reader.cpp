// Private-profile reading on SimpleIni (char interface, UTF-8 passed
// through untouched).
#include "settings/profile_reader.h"

// Debian's SimpleIni.h keeps the template bodies behind SI_IMPLEMENTATION;
// this is the only file that includes it, so they are instantiated here.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <algorithm>
#include <cstring>

#include "settings/settings_file_io.h"

namespace torvane {

struct ProfileReader::Impl {
  CSimpleIniA ini;
  Impl() {
    ini.SetUnicode(true);
    // Every occurrence is kept so that the first one can be chosen.
    ini.SetMultiKey(true);
    ini.SetMultiLine(false);
    ini.SetQuotes(false);
    ini.SetAllowKeyOnly(false);
  }
};

std::string_view UnquoteProfileValue(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

ProfileReader::ProfileReader() : impl_(std::make_unique<Impl>()) {}
ProfileReader::~ProfileReader() = default;
ProfileReader::ProfileReader(ProfileReader&&) noexcept = default;
ProfileReader& ProfileReader::operator=(ProfileReader&&) noexcept = default;

ProfileReader ProfileReader::FromFile(const std::string& path) {
  std::string text;
  if (ReadSettingsFile(path, &text) != SettingsFileRead::Ok) return ProfileReader();
  return FromText(text);
}

namespace {

// SimpleIni skips blanks and line ends after '[', so a header line holding
// nothing but '[' would take its name from the lines below it ("[" then
// "[Recent]" reads as a section "[Recent"). Such a line names no section,
// like any header without ']': a '?' after the bracket keeps it on its line.
std::string ConfineBareHeaderOpeners(std::string_view text) {
  std::string out(text);
  // SimpleIni drops a leading UTF-8 byte order mark, so the first line
  // starts after it.
  size_t pos = out.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  while (pos < out.size()) {
    const size_t end = std::min(out.find_first_of("\r\n", pos), out.size());
    const size_t first = out.find_first_not_of(" \t", pos);
    if (first < end && out[first] == '[' && out.find_first_not_of(" \t", first + 1) >= end) {
      out.insert(first + 1, 1, '?');
      pos = end + 2;
    } else {
      pos = end + 1;
    }
  }
  return out;
}

}  // namespace

ProfileReader ProfileReader::FromText(std::string_view original) {
  ProfileReader reader;
  const std::string text = ConfineBareHeaderOpeners(original);
  if (!text.empty() && reader.impl_->ini.LoadData(text.data(), text.size()) < 0) {
    // Out of memory while parsing: nothing partial is kept.
    reader.impl_->ini.Reset();
  }
  return reader;
}

bool ProfileReader::Lookup(const char* section, const char* key, std::string* value) const {
  if (section == nullptr || key == nullptr) return false;
  CSimpleIniA::TNamesDepend values;
  if (!impl_->ini.GetAllValues(section, key, values) || values.empty()) return false;
  // Sections of the same name are merged; the earliest line in the file wins.
  const auto first = std::min_element(values.begin(), values.end(),
                                      [](const CSimpleIniA::Entry& a, const CSimpleIniA::Entry& b) {
                                        return a.nOrder < b.nOrder;
                                      });
  if (value != nullptr) value->assign(UnquoteProfileValue(first->pItem != nullptr ? first->pItem : ""));
  return true;
}

bool ProfileReader::HasKey(const char* section, const char* key) const {
  return Lookup(section, key, nullptr);
}

size_t ProfileReader::GetString(const char* section, const char* key, const char* default_value,
                                char* buffer, size_t size) const {
  if (buffer == nullptr || size == 0) return 0;
  std::string value;
  if (!Lookup(section, key, &value)) value = default_value != nullptr ? default_value : "";
  const size_t count = std::min(value.size(), size - 1);
  std::memcpy(buffer, value.data(), count);
  buffer[count] = '\0';
  return count;
}

size_t ReadProfileString(const char* section, const char* key, const char* default_value, char* buffer,
                         size_t size, const std::string& file) {
  return ProfileReader::FromFile(file).GetString(section, key, default_value, buffer, size);
}

}  // namespace torvane
