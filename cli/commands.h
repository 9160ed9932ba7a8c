// The torvane-cli commands; each returns the process exit status.
#pragma once

#include <string>

#include "cli/cli_session.h"
#include "cli/wait_option.h"

namespace torvane::cli {

struct FlashOptions {
  std::string image;
  WaitTime wait;  // wait this long for a flashable device
  std::string address;  // --address text: empty, "auto" or hexadecimal
};

struct EnterBootOptions {
  // How long the application device gets to come back as a bootloader.
  WaitTime wait{false, std::chrono::seconds(5)};
};

int RunInfo(CliSession& session);
int RunEnterBoot(CliSession& session, const EnterBootOptions& options);
int RunFlash(CliSession& session, const FlashOptions& options);
int RunConfig(CliSession& session);

}  // namespace torvane::cli
