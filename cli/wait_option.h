// --wait SECONDS: how long a command waits for a bootloader to appear.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace torvane::cli {

class CliFrontEnd;

struct WaitTime {
  bool forever = false;                   // until interrupted
  std::chrono::milliseconds duration{0};  // when not forever
};

// Waits longer than this many seconds (about 31 years) last until the tool
// is interrupted.
inline constexpr double kForeverWaitSeconds = 1e9;

// A finite, non-negative number of seconds; fractions count to the
// millisecond. Not a number, infinite or negative: false with *error set.
bool ParseWaitSeconds(const std::string& text, WaitTime* wait, std::string* error);

// Adds --wait (or the option `name`) to a command; the help gives the default.
CLI::Option* AddWaitOption(CLI::App* command, WaitTime* wait, const std::string& help,
                           const std::string& name = "--wait");

// Handles posted messages until pred() holds or the wait has passed; true
// when pred() held.
bool WaitUntil(CliFrontEnd& ui, const std::function<bool()>& pred, const WaitTime& wait);

// "10 s", or "until interrupted".
std::string DescribeWait(const WaitTime& wait);

}  // namespace torvane::cli
