// The torvane-cli commands; each returns the process exit status.
#pragma once

#include <string>

#include "cli/cli_session.h"

namespace torvane::cli {

struct FlashOptions {
  std::string image;
  double wait_seconds = 0;  // wait this long for a flashable device
};

int RunInfo(CliSession& session);
int RunEnterBoot(CliSession& session);
int RunFlash(CliSession& session, const FlashOptions& options);
int RunConfig(CliSession& session);

}  // namespace torvane::cli
