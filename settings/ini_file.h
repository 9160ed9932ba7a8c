// CIni: the settings-file reader. Holds the settings file's path and reads
// values with the private-profile semantics of ProfileReader.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

class CIni {
 public:
  CIni() = default;
  virtual ~CIni();
  CIni(const CIni&) = default;
  CIni& operator=(const CIni&) = default;

  // Replaces the path of the settings file.
  void SetPathName(std::string_view path);
  // The path, or empty while none is set.
  std::string GetPathName() const;
  bool HasPathName() const { return m_pathName.has_value(); }

  // Owned-buffer form: the value of `key` in `section`, or `default_value`
  // (null = empty) when the key or the file is missing. The buffer grows in
  // steps of 512 chars until the value fits, so a value of any length is
  // returned whole. Without a path every read gives the default. Returns
  // null only when memory runs out.
  std::unique_ptr<char[]> GetString(const char* section, const char* key,
                                    const char* default_value = nullptr) const;

  // String-object form of the same read; used for the text keys.
  void GetString(const char* section, const char* key, std::string& value,
                 const char* default_value = nullptr) const;

  // A flag: empty or missing -> false; "true" or "yes" in any letter case
  // -> true; otherwise the signed decimal value of the first 64 characters
  // (32-bit wcstol rules) is tested for non-zero.
  bool GetBool(const char* section, const char* key) const;

  // Whether the key is present in the file (with any value, even empty).
  bool HasKey(const char* section, const char* key) const;

 private:
  std::optional<std::string> m_pathName;
};

// Number and flag values count only their first 64 characters.
inline constexpr size_t kIniNumberTextLimit = 64;

}  // namespace torvane
