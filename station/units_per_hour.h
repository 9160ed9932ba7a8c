// When a station's units per hour mean something: after a minute, or once
// three units have finished. Before, a rate extrapolated from a few
// milliseconds would be absurd (one unit in 400 ms is "9000 units/h").
#pragma once

#include <chrono>

namespace torvane {

inline bool UnitsPerHourMeaningful(int finished, std::chrono::steady_clock::duration elapsed) {
  return finished >= 3 || elapsed >= std::chrono::minutes(1);
}

}  // namespace torvane
