// The console the command-line tool runs in: whether a stream is a
// terminal, UTF-8 output with terminal control sequences, a line typed
// without being shown, and the operator's interrupt requests (Ctrl-C).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace torvane::platform {

// Whether `stream` (stdout or stderr) is an interactive terminal or console.
bool IsTerminal(std::FILE* stream);

// The terminal's size in character cells; false when `stream` is no
// terminal or the size is unknown.
bool TerminalCells(std::FILE* stream, int* columns, int* rows);

// Makes the console show UTF-8 text and act on VT control sequences
// (Windows: console output code page 65001 and
// ENABLE_VIRTUAL_TERMINAL_PROCESSING; a Linux terminal already does both).
// Harmless when the streams are files or pipes.
void PrepareConsoleOutput();

// Reads one line of standard input, without its line end, into *line (at
// most `max_bytes`; a longer line is refused). From a terminal with
// `hidden`, what is typed is not shown (a password). Text typed into a
// Windows console comes as UTF-8 whatever its code page; piped input is
// taken as it is. False at the end of input, on an error or a line too long.
bool ReadInputLine(std::string* line, bool hidden, size_t max_bytes);

enum class InterruptKind {
  kInterrupt,  // Ctrl-C (SIGINT), Ctrl-Break
  kHangup,     // the terminal closed (SIGHUP), the console window closing
  kTerminate,  // SIGTERM; log-off, shut-down
};

// Called for each request, on a thread of the system's choosing (a signal
// handler on Linux, a thread of its own on Windows): may only touch atomic
// state. Returns true when the request is taken care of, false to end the
// process now the system's default way (for a second Ctrl-C).
using InterruptHandler = bool (*)(InterruptKind kind);

// Routes interrupt requests to `handler` until ReleaseInterrupts. Without
// `with_hangup`, a closed terminal ends the process the default way.
void CatchInterrupts(InterruptHandler handler, bool with_hangup = false);
// Back to the system's default: the next request ends the process.
void ReleaseInterrupts();

}  // namespace torvane::platform
