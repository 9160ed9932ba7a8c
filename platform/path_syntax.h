// How this system writes file names: the separator, which names are
// absolute, and whether names differ by letter case.
#pragma once

#include <string_view>

namespace torvane::platform {

// The separator the system itself puts between a directory and a name.
char PathSeparator();

// Whether `path` names a file independent of any current directory
// ("/x" on Linux; "C:\x", "C:/x", "\\server\share", "\x" on Windows).
bool IsAbsolutePath(std::string_view path);

// Whether `path` begins with `prefix` under the system's name comparison:
// exact on Linux, ASCII case-insensitive with '/' and '\' alike on Windows.
bool PathStartsWith(std::string_view path, std::string_view prefix);

}  // namespace torvane::platform
