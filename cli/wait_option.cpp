#include "cli/wait_option.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>

#include "cli/cli_front_end.h"

namespace torvane::cli {

bool ParseWaitSeconds(const std::string& text, WaitTime* wait, std::string* error) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double seconds = std::strtod(begin, &end);
  if (end == begin || *end != '\0') {
    *error = "'" + text + "' is not a number of seconds";
    return false;
  }
  if (!std::isfinite(seconds)) {
    *error = "'" + text + "' is not a finite number of seconds";
    return false;
  }
  if (seconds < 0) {
    *error = "'" + text + "' is negative";
    return false;
  }
  *wait = WaitTime{};
  if (seconds > kForeverWaitSeconds) {
    wait->forever = true;
  } else {
    wait->duration = std::chrono::milliseconds(std::llround(seconds * 1000.0));
  }
  return true;
}

CLI::Option* AddWaitOption(CLI::App* command, WaitTime* wait, const std::string& help, const std::string& name) {
  CLI::callback_t parse = [wait, name](const CLI::results_t& values) {
    std::string error;
    if (values.size() != 1 || !ParseWaitSeconds(values.front(), wait, &error)) {
      throw CLI::ValidationError(name, error.empty() ? "one value" : error);
    }
    return true;
  };
  return command->add_option(name, parse, help)->type_name("SECONDS")->expected(1);
}

bool WaitUntil(CliFrontEnd& ui, const std::function<bool()>& pred, const WaitTime& wait) {
  // In steps of at most an hour, so no deadline ever overflows the clock.
  constexpr std::chrono::milliseconds kStep = std::chrono::hours(1);
  std::chrono::milliseconds left = wait.duration;
  for (;;) {
    const std::chrono::milliseconds step = wait.forever ? kStep : std::min(left, kStep);
    if (ui.ProcessUntil(pred, step)) return true;
    if (!wait.forever) {
      left -= step;
      if (left <= std::chrono::milliseconds(0)) return pred();
    }
  }
}

std::string DescribeWait(const WaitTime& wait) {
  if (wait.forever) return "until interrupted";
  char text[48];
  std::snprintf(text, sizeof text, "%.10g s", static_cast<double>(wait.duration.count()) / 1000.0);
  return text;
}

}  // namespace torvane::cli
