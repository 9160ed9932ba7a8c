// Linux: isatty, and SIGINT/SIGTERM (and SIGHUP) through sigaction; a
// request the handler declines gets the default action by raising the
// signal again.
#include "platform/console.h"

#include <sys/ioctl.h>
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
