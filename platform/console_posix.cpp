// Linux: isatty, and SIGINT/SIGTERM (and SIGHUP) through sigaction; a
// request the handler declines gets the default action by raising the
// signal again.
#include "platform/console.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace torvane::platform {

namespace {

std::atomic<InterruptHandler> g_handler{nullptr};

extern "C" void OnSignal(int signal_number) {
  const InterruptHandler handler = g_handler.load();
  const InterruptKind kind = signal_number == SIGINT   ? InterruptKind::kInterrupt
                             : signal_number == SIGHUP ? InterruptKind::kHangup
                                                       : InterruptKind::kTerminate;
  if (handler != nullptr && handler(kind)) return;
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

bool ReadInputLine(std::string* line, bool hidden, size_t max_bytes) {
  termios before{};
  const bool quiet = hidden && ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &before) == 0;
  if (quiet) {
    termios silent = before;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
  }
  line->clear();
  bool ok = false;
  for (int c; (c = std::getc(stdin)) != EOF;) {
    if (c == '\n') {
      ok = true;
      break;
    }
    if (line->size() == max_bytes) break;
    line->push_back(static_cast<char>(c));
  }
  if (!ok && !line->empty() && std::feof(stdin)) ok = true;  // a last line without its end
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (quiet) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    std::fputc('\n', stderr);  // the Enter that was not shown
  }
  return ok;
}

bool TerminalCells(std::FILE* stream, int* columns, int* rows) {
  winsize ws{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) return false;
  *columns = ws.ws_col;
  *rows = ws.ws_row;
  return true;
}

void PrepareConsoleOutput() {}

void CatchInterrupts(InterruptHandler handler, bool with_hangup) {
  g_handler = handler;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  for (int s : kSignals) {
    if (s != SIGHUP || with_hangup) sigaction(s, &action, nullptr);
  }
}

void ReleaseInterrupts() {
  for (int s : kSignals) std::signal(s, SIG_DFL);
  g_handler = nullptr;
}

}  // namespace torvane::platform
