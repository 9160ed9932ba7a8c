// Executable directory and path helpers.
#include "settings/app_paths.h"

#include <mutex>

#include "platform/executable_path.h"
#include "platform/path_syntax.h"

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

}  // namespace

std::string GetAppDirectory() {
  {
    std::lock_guard<std::mutex> lock(OverrideMutex());
    if (DirectoryOverride()) return *DirectoryOverride();
  }
  const std::string exe = platform::ExecutablePath();
  const size_t slash = exe.rfind(platform::PathSeparator());
  if (slash == std::string::npos) return std::string();
  return exe.substr(0, slash + 1);
}

std::string MakeAbsolutePath(std::string_view path, std::string_view app_directory) {
  if (platform::IsAbsolutePath(path)) return std::string(path);
  if (app_directory.empty()) return std::string(path);
  if (platform::PathStartsWith(path, app_directory)) return std::string(path);
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
