// Setting and removing a job file's lock in its text, leaving every other
// byte as it was: the admin's comments, order and line ends stay.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job/production_job.h"

namespace torvane {

// The lock the text holds (none: unlocked). False with the problem for text
// that is not a job file (lines that are not INI, no [job] section) or a
// password given twice or malformed: such a file is mended by hand.
bool ReadJobLockText(std::string_view text, std::optional<JobLock>* lock, JobProblem* problem);

// The text with "password = <value>" in its [lock] section: the password
// line replaced, or put under a [lock] header without one, or a [lock]
// section added at the end. With an empty value, the password line goes,
// and the [lock] header too when nothing else is in its section. For text
// ReadJobLockText accepts.
std::string EditJobLockText(std::string_view text, std::string_view value);

}  // namespace torvane
