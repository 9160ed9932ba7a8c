// Diagnostics for developers on standard error; nothing reaches the operator.
#pragma once

#include <string>

namespace torvane {

// Writes "[<application name>] <text>" to standard error. The formatted text
// is cut to 1023 characters. Any thread may call it.
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the text as it stands (no prefix, no line end) to standard error.
void DebugOutput(const std::string& text);

// The executable's file name without extension ("torvane").
std::string ApplicationName();

// Traces are on by default; a console tool whose standard error carries its
// own messages turns them off unless asked for them.
void SetDebugTraceEnabled(bool enabled);

// Milliseconds of a monotonic clock, for timing traces.
long long TickCountMs();

}  // namespace torvane
