// Windows file names: '\' separates ('/' is accepted too), a drive letter
// with a separator, a UNC name or a leading separator is absolute, and
// letter case does not count.
#include "platform/path_syntax.h"

namespace torvane::platform {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

char PathSeparator() { return '\\'; }

bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && IsSeparator(path.front())) return true;
  const bool drive = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return drive && path[1] == ':' && IsSeparator(path[2]);
}

bool PathStartsWith(std::string_view path, std::string_view prefix) {
  if (path.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    const char a = path[i];
    const char b = prefix[i];
    if (IsSeparator(a) && IsSeparator(b)) continue;
    if (FoldCase(a) != FoldCase(b)) return false;
  }
  return true;
}

}  // namespace torvane::platform
