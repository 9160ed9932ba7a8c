// Writes of log lines and traces that never hold up the thread writing
// them. Progress and traces: a standard stream that is closed, or full
// because nobody reads it, loses the text instead of blocking the UI or a
// worker thread. Result lines (a verdict, a summary, a warning that a unit
// was not recorded) must arrive whole: a writer thread of their own waits
// for a slow reader (Ctrl-S, a stalled CI log), so no caller waits either.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// Writes `text` to the file descriptor without ever waiting for room: what
// the stream cannot take at once is dropped. Pipes, FIFOs and terminals are
// written through a non-blocking description of their own (the shared one,
// which the parent shell also uses, keeps its flags); regular files are
// written as usual. Returns whether all of the text was written. Any
// thread; writes do not interleave. While result lines for `fd` wait, the
// text queues behind them (never overtaking them) and is written without
// waiting when its turn comes; beyond 64 KiB of such text queued, it is
// dropped at once.
bool WriteWithoutBlocking(int fd, std::string_view text);

// Queues `text` for `fd`: written whole and in the order queued, waiting
// for the reader as long as it takes. Only a reader that is gone (EPIPE)
// or a failing stream loses it. Any thread; returns at once.
void WriteResult(int fd, std::string text);

// Waits until every queued result line is written or lost. True when all
// of them arrived.
bool FlushResults();

// errno of the first result line that could not be written; 0 when none.
int ResultWriteError();

// SIGPIPE ends a process that writes to a pipe whose reader has gone; both
// programs ignore it, so such a write only fails (EPIPE).
void IgnoreBrokenPipes();

}  // namespace torvane
