// Read side of the private-profile (INI) format, built on SimpleIni:
// section and key names compare without regard to ASCII letter case,
// blanks around values are not part of them, a UTF-8 byte-order mark and
// CRLF / CR line ends are accepted, lines starting with ';' or '#' are
// comments. Where a key appears more than once the first occurrence counts.
// A value in one enclosing pair of double or single quotes reads without
// them (File Path="/home/a b/app.bin"), as the platform's profile reading
// does.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace torvane {

class ProfileReader {
 public:
  // An empty profile: every lookup gives its default.
  ProfileReader();
  ~ProfileReader();
  ProfileReader(ProfileReader&&) noexcept;
  ProfileReader& operator=(ProfileReader&&) noexcept;

  // Loads the file at `path`. A missing, unreadable, non-regular or
  // oversized file (see settings_file_io.h) reads as an empty profile.
  static ProfileReader FromFile(const std::string& path);
  // Parses profile text held in memory.
  static ProfileReader FromText(std::string_view text);

  // Private-profile string read: copies the value of `key` in `section`, or
  // `default_value` (null = empty) when either is missing, into `buffer` of
  // `size` chars including the terminator, and returns the number of chars
  // copied. A value that does not fit is cut to size - 1 chars and size - 1
  // is returned. With size 0 or a null buffer nothing is written and 0 is
  // returned. A null section or key reads as missing.
  size_t GetString(const char* section, const char* key, const char* default_value, char* buffer,
                   size_t size) const;

  // The whole value, if the key exists.
  bool Lookup(const char* section, const char* key, std::string* value) const;
  bool HasKey(const char* section, const char* key) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The value without one enclosing pair of matching quotes, if it has one.
std::string_view UnquoteProfileValue(std::string_view value);

// One-shot form of ProfileReader::GetString over a file.
size_t ReadProfileString(const char* section, const char* key, const char* default_value, char* buffer,
                         size_t size, const std::string& file);

}  // namespace torvane
