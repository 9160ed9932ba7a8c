// A scratch directory removed with everything in it at the end of a test.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/unique_temp_dir.h"

namespace torvane::testing {

class TempDir {
 public:
  TempDir() {
    path_ = MakeUniqueTempDir("torvane-test");
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(platform::PathFromUtf8(path_), ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // With a trailing slash, as the application directory is given.
  std::string dir() const { return path_ + "/"; }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream out(platform::PathFromUtf8(file), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

 private:
  std::string path_;
};

// n bytes of a recognisable pattern.
inline std::vector<uint8_t> PatternBytes(size_t n, uint8_t seed = 1) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

}  // namespace torvane::testing
