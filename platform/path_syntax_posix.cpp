// Linux file names: '/' separates, a leading '/' is absolute, case counts.
#include "platform/path_syntax.h"

namespace torvane::platform {

char PathSeparator() { return '/'; }

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

bool PathStartsWith(std::string_view path, std::string_view prefix) {
  return path.substr(0, prefix.size()) == prefix;
}

}  // namespace torvane::platform
