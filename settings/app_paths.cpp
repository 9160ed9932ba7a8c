// Executable directory and path helpers.
#include "settings/app_paths.h"

#include <unistd.h>

#include <mutex>
#include <vector>

namespace torvane {

namespace {

std::mutex& OverrideMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::string>& DirectoryOverride() {
  static std::optional<std::string> directory;
  return directory;
}

// The full path of the running executable, without a length limit.
std::string ExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    if (buffer.size() >= 1u << 20) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string GetAppDirectory() {
  {
    std::lock_guard<std::mutex> lock(OverrideMutex());
    if (DirectoryOverride()) return *DirectoryOverride();
  }
  const std::string exe = ExecutablePath();
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return std::string();
  return exe.substr(0, slash + 1);
}

std::string MakeAbsolutePath(std::string_view path, std::string_view app_directory) {
  if (!path.empty() && path.front() == '/') return std::string(path);
  if (app_directory.empty()) return std::string(path);
  if (path.substr(0, app_directory.size()) == app_directory) return std::string(path);
  std::string result(app_directory);
  result += path;
  return result;
}

std::string MakeAbsolutePath(std::string_view path) { return MakeAbsolutePath(path, GetAppDirectory()); }

void SetAppDirectoryForTesting(std::optional<std::string> directory) {
  std::lock_guard<std::mutex> lock(OverrideMutex());
  DirectoryOverride() = std::move(directory);
}

}  // namespace torvane
