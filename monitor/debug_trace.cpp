#include "monitor/debug_trace.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "monitor/stream_output.h"
#include "platform/executable_path.h"
#include "platform/path_syntax.h"

namespace torvane {

namespace {
std::atomic<bool> g_enabled{true};
}  // namespace

std::string ApplicationName() {
  std::string name = platform::ExecutablePath();
  if (name.empty()) return "torvane";
  const auto slash = name.rfind(platform::PathSeparator());
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

void SetDebugTraceEnabled(bool enabled) { g_enabled = enabled; }

void DebugOutput(const std::string& text) {
  if (!g_enabled.load()) return;
  // A closed or full standard error loses the trace; the thread goes on.
  WriteWithoutBlocking(STDERR_FILENO, text);
}

void DebugTrace(const char* format, ...) {
  char buffer[1024] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  static const std::string app = ApplicationName();
  DebugOutput("[" + app + "] " + buffer);
}

long long TickCountMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace torvane
