// Where the running program lives: the settings file and the boot update
// files sit beside it.
#pragma once

#include <string>

namespace torvane::platform {

// The full path of the running executable in UTF-8, links resolved as the
// system reports them, or empty when it cannot be determined.
std::string ExecutablePath();

}  // namespace torvane::platform
