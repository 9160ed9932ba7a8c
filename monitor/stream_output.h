// Writes of log lines and traces that never hold up the thread writing
// them: a standard stream that is closed, or full because nobody reads it,
// loses the text instead of blocking the UI or a worker thread.
#pragma once

#include <string_view>

namespace torvane {

// Writes `text` to the file descriptor without ever waiting for room: what
// the stream cannot take at once is dropped. Pipes, FIFOs and terminals are
// written through a non-blocking description of their own (the shared one,
// which the parent shell also uses, keeps its flags); regular files are
// written as usual. Returns whether all of the text was written. Any
// thread; writes do not interleave.
bool WriteWithoutBlocking(int fd, std::string_view text);

// SIGPIPE ends a process that writes to a pipe whose reader has gone; both
// programs ignore it, so such a write only fails (EPIPE).
void IgnoreBrokenPipes();

}  // namespace torvane
