// station --job FILE: the job sets the station's options. An option given as
// well must say what the job says (a conflict is refused, never settled
// quietly one way or the other); a locked job takes none of them.
#pragma once

#include <string>
#include <vector>

#include "cli/station_command.h"
#include "job/production_job.h"

namespace torvane::cli {

// Fills *options from `job` (the options given on the command line are
// marked in options->given). False with one line per refusal in *refusals:
// the option, the job's key, its line when known, and why.
bool ApplyJobToStationOptions(const ProductionJob& job, StationOptions* options, std::vector<std::string>* refusals);

}  // namespace torvane::cli
