// File names travel through the core as UTF-8 strings. A std::filesystem::path
// made from a std::string takes the bytes in the system's narrow encoding,
// which on Windows is the ANSI code page, not UTF-8: a Chinese folder name
// comes out mangled. These two convert explicitly on every system.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvane::platform {

std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace torvane::platform
