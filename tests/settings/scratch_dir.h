// A temporary directory for one test, removed with everything in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/unique_temp_dir.h"

namespace torvane::testing {

class ScratchDir {
 public:
  ScratchDir() {
    path_ = MakeUniqueTempDir("torvane-settings");
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(platform::PathFromUtf8(path_), ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  std::string Write(const std::string& name, const std::string& contents) const {
    const std::string file = File(name);
    std::ofstream(platform::PathFromUtf8(file), std::ios::binary | std::ios::trunc) << contents;
    return file;
  }

 private:
  std::string path_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace torvane::testing
