// torvane-cli station: flashes every device plugged in, in parallel, hands
// off, with a record of each unit.
#pragma once

#include <string>

#include "cli/cli_session.h"
#include "cli/wait_option.h"

namespace torvane::cli {

// Which of the options below were given on the command line.
struct StationOptionsGiven {
  bool image = false;
  bool enter_boot = false;
  bool count = false;
  bool record = false;
  bool attempts = false;
  bool address = false;
  bool boot_wait = false;
};

struct StationOptions {
  std::string job;    // --job FILE: the job sets the options below
  StationOptionsGiven given;
  std::string image;
  bool enter_boot = false;
  int count = 0;      // 0: until interrupted
  std::string record;
  int attempts = 1;
  std::string address;  // --address text: empty, "auto" or hexadecimal
  WaitTime boot_wait{false, std::chrono::seconds(5)};  // an application's return as a bootloader
};

int RunStation(CliSession& session, const StationOptions& options);

}  // namespace torvane::cli
