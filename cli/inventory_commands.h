// torvane-cli's `list` and the JSON form of `info`: what is attached, for
// people and for scripts.
#pragma once

#include "cli/cli_session.h"

namespace torvane::cli {

// Every HID interface with its kind, serial number and port; with `json`
// one JSON array on standard output.
int RunList(CliSession& session, bool json);

// The device `info` would report, as one JSON object on standard output:
// the interface, its info text and whether the boot update is advised.
int RunInfoJson(CliSession& session);

}  // namespace torvane::cli
