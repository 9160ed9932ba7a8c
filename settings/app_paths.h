// The executable's directory and file names made absolute against it: the
// settings file and the bootloader update files live beside the executable.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// The directory of the running executable (in UTF-8), ending with the
// system's separator ('/', or '\' on Windows), or empty when it cannot be
// determined. A directory set with SetAppDirectoryForTesting is returned
// instead while one is set.
std::string GetAppDirectory();

// Makes `path` absolute against the executable's directory:
//  - an absolute path ("/x"; on Windows also "C:\x" or "\\server\x") is
//    returned as is;
//  - with no known directory the path is returned as is;
//  - a path that already begins with the directory (compared as the
//    system compares names: case-sensitively on Linux, not on Windows) is
//    returned as is;
//  - any other name is put behind the directory.
std::string MakeAbsolutePath(std::string_view path);

// The same rule against a given directory (which ends with a separator or is
// empty).
std::string MakeAbsolutePath(std::string_view path, std::string_view app_directory);

// Lets tests place "the executable's directory" elsewhere; std::nullopt
// restores the real one.
void SetAppDirectoryForTesting(std::optional<std::string> directory);

}  // namespace torvane
