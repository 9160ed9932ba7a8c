// Writing text to a standard stream (a C runtime descriptor): at once or
// not at all, for progress and traces, or waiting for the reader, for
// result lines. monitor/stream_output.h orders the two.
#pragma once

#include <string_view>

namespace torvane::platform {

// Writes `text` without waiting for room where the system allows it (Linux:
// a non-blocking description of the stream's own; Windows: anonymous pipes
// have no non-blocking writes short of the legacy PIPE_NOWAIT mode, which
// would change the parent's handle too, so a pipe nobody reads holds the
// writer). False when not all of it went (full, reader gone, ...). Callers
// serialise these calls.
bool WriteNowOrDrop(int fd, std::string_view text);

// Writes all of `text`, waiting for room as long as it takes; 0, or the
// errno that ended it (EPIPE: the reader is gone).
int WriteWaiting(int fd, std::string_view text);

// A write to a pipe whose reader has gone only fails (EPIPE) rather than
// ending the process (SIGPIPE on Linux; Windows has no such signal).
void IgnoreBrokenPipes();

// A write beyond a file size limit only fails (EFBIG) rather than ending the
// process (SIGXFSZ on Linux; Windows has no such limit).
void IgnoreFileSizeLimitSignal();

}  // namespace torvane::platform
