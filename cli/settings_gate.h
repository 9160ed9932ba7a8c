// torvane-cli never acts on settings it cannot trust: a settings file that
// exists but cannot be read, or (for commands that talk to devices) a
// number or flag value that does not parse, stops the command with the
// reason on standard error.
#pragma once

#include "cli/cli_session.h"

namespace torvane::cli {

enum class CommandNeeds {
  Settings,  // reads the settings only (list)
  Devices,   // talks to devices with them (info, enter-boot, flash)
};

// 0 when the command may go on; otherwise the exit status, after the
// reason has been printed.
int CheckSettingsBeforeCommand(const CliSession& session, CommandNeeds needs);

}  // namespace torvane::cli
