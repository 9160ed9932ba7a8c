// Windows: the stream behind a C runtime descriptor is written with
// WriteFile on its handle, serialised by one mutex. A console is switched to
// UTF-8 output elsewhere (platform/console.h), so the UTF-8 text shows as
// is. Windows anonymous pipes have no non-blocking writes short of the
// legacy PIPE_NOWAIT mode, which would change the parent's handle too: a
// pipe that nobody reads holds the writer until it is read or closed. A
// pipe whose reader has gone fails the write (there is no SIGPIPE).
#include "monitor/stream_output.h"

#include <io.h>
#include <windows.h>

#include <mutex>

namespace torvane {

namespace {

std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

bool WriteWithoutBlocking(int fd, std::string_view text) {
  std::lock_guard<std::mutex> lock(WriteMutex());
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
  while (!text.empty()) {
    const DWORD chunk = text.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!::WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return false;
    text.remove_prefix(written);
  }
  return true;
}

void IgnoreBrokenPipes() {}

}  // namespace torvane
