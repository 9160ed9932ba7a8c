// Windows: console handles, SetConsoleOutputCP(CP_UTF8) with VT processing,
// and SetConsoleCtrlHandler for Ctrl-C, Ctrl-Break and the closing console.
// The system calls the routine on a thread of its own; returning FALSE
// hands the event to the default routine, which ends the process.
#include "platform/console.h"

#include <io.h>
#include <windows.h>

#include <atomic>

#include "platform/wide_text_win32.h"

namespace torvane::platform {

namespace {

std::atomic<InterruptHandler> g_handler{nullptr};
std::atomic<bool> g_with_hangup{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const InterruptHandler handler = g_handler.load();
  if (handler == nullptr) return FALSE;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return handler(InterruptKind::kInterrupt) ? TRUE : FALSE;
    case CTRL_CLOSE_EVENT:
      if (!g_with_hangup.load()) return FALSE;
      return handler(InterruptKind::kHangup) ? TRUE : FALSE;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      return handler(InterruptKind::kTerminate) ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

HANDLE HandleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

}  // namespace

bool ReadInputLine(std::string* line, bool hidden, size_t max_bytes) {
  line->clear();
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == INVALID_HANDLE_VALUE || input == nullptr || !::GetConsoleMode(input, &mode)) {
    // Not a console: the bytes as piped.
    for (int c; (c = std::getc(stdin)) != EOF;) {
      if (c == '\n') break;
      if (line->size() == max_bytes) return false;
      line->push_back(static_cast<char>(c));
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return !std::ferror(stdin) && !(line->empty() && std::feof(stdin));
  }
  if (hidden) ::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::wstring wide;
  bool ok = false;
  wchar_t c = 0;
  DWORD got = 0;
  while (::ReadConsoleW(input, &c, 1, &got, nullptr) && got == 1) {
    if (c == L'\n') {
      ok = true;
      break;
    }
    if (c != L'\r') wide.push_back(c);
    if (wide.size() > max_bytes) break;
  }
  if (hidden) {
    ::SetConsoleMode(input, mode);
    std::fputc('\n', stderr);
  }
  *line = WideToUtf8(wide);
  return ok && line->size() <= max_bytes;
}

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(HandleOf(stream), &mode) != FALSE;
}

bool TerminalCells(std::FILE* stream, int* columns, int* rows) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return false;
  *columns = info.srWindow.Right - info.srWindow.Left + 1;
  *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return *columns > 0;
}

void PrepareConsoleOutput() {
  ::SetConsoleOutputCP(CP_UTF8);
  for (std::FILE* stream : {stdout, stderr}) {
    const HANDLE h = HandleOf(stream);
    DWORD mode = 0;
    if (::GetConsoleMode(h, &mode)) ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

void CatchInterrupts(InterruptHandler handler, bool with_hangup) {
  g_with_hangup = with_hangup;
  const bool first = g_handler.exchange(handler) == nullptr;
  if (first) ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void ReleaseInterrupts() {
  if (g_handler.exchange(nullptr) != nullptr) ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

}  // namespace torvane::platform
