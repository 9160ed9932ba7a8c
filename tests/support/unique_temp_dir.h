// A new, empty directory under the system's temporary directory, made on
// every system (mkdtemp is POSIX only). Empty when none could be made.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#include "platform/utf8_path.h"

namespace torvane::testing {

// The name (UTF-8) of a directory made for the caller alone.
inline std::string MakeUniqueTempDir(const std::string& prefix) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return std::string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / (prefix + "-" + std::to_string(random() % 1000000000u));
    if (std::filesystem::create_directory(candidate, ec)) return platform::PathToUtf8(candidate);
  }
  return std::string();
}

}  // namespace torvane::testing
