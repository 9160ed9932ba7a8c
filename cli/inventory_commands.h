// torvane-cli's `list` and the JSON form of `info`: what is attached, for
// people and for scripts.
#pragma once

#include <string>

#include "cli/cli_session.h"

namespace torvane::cli {

// Every HID interface with its kind, serial number and port; with `json`
// one JSON array on standard output.
int RunList(CliSession& session, bool json);

// The device `info` would report, as one JSON object on standard output:
// the interface, its info text and whether the boot update is advised.
// Every outcome is one object; one that is not found or failed has "error".
int RunInfoJson(CliSession& session);

// The object of an `info --json` that ended before looking (bad settings):
// {"found":false,"error":...}. Returns `status`.
int PrintInfoJsonError(int status, const std::string& error);

}  // namespace torvane::cli
