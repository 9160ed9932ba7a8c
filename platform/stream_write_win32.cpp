// Windows: WriteFile on the stream's handle. A console shows the UTF-8
// bytes as text once PrepareConsoleOutput has set its code page.
#include "platform/stream_write.h"

#include <io.h>
#include <windows.h>

#include <cerrno>

namespace torvane::platform {

namespace {

// 0, or the errno for the Windows error that ended the write.
int WriteAll(int fd, std::string_view text) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return EBADF;
  while (!text.empty()) {
    const DWORD chunk = text.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!::WriteFile(handle, text.data(), chunk, &written, nullptr)) {
      const DWORD code = ::GetLastError();
      return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA ? EPIPE : EIO;
    }
    if (written == 0) return EIO;
    text.remove_prefix(written);
  }
  return 0;
}

}  // namespace

bool WriteNowOrDrop(int fd, std::string_view text) { return WriteAll(fd, text) == 0; }

int WriteWaiting(int fd, std::string_view text) { return WriteAll(fd, text); }

void IgnoreBrokenPipes() {}

void IgnoreFileSizeLimitSignal() {}

}  // namespace torvane::platform
