// torvane-cli job: checking a production job file without touching devices,
// and locking it with an admin password or removing the lock.
#pragma once

#include <string>

#include "cli/cli_session.h"

namespace torvane::cli {

struct JobOptions {
  std::string file;
};

// Loads the job, prepares its image as the station would (the settings'
// App Address unless the job says otherwise) and checks it against its pin;
// prints a summary (0), or every problem by line and key (2). A job file
// that cannot be read at all: 1.
int RunJobCheck(const CliSession& session, const JobOptions& options);

// Locks the job with the password on standard input (after the current one
// when it is locked already), or with `lock` false removes the lock, which
// takes the current password. 0 done; 1 the file cannot be read or
// written; 2 not a job file, no such lock, or a wrong or empty password.
int RunJobLock(const JobOptions& options, bool lock);

}  // namespace torvane::cli
