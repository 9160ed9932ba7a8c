// Job files for the station window tests.
#pragma once

#include <string>

namespace torvane::testing {

// Writes `name` beside `image` (which must exist): a job flashing it, its
// SHA-256 pinned, with `extra` lines after it in [job] (count, record, ...)
// and `more` after those (other sections); locked with `password` unless it
// is empty. Returns the job file's path.
std::string WriteJobFile(const std::string& image, const std::string& name, const std::string& extra,
                         const std::string& more = "", const std::string& password = "");

}  // namespace torvane::testing
