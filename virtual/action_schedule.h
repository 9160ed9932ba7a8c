// What the virtual device still has to do on the kernel's side, and when:
// input reports due after the model's latency, the departure of a device
// that restarts or is pulled out, and its return under a new identity.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "sim/sim_identity.h"

namespace torvane::virt {

using Clock = std::chrono::steady_clock;

struct DeviceAction {
  enum class Kind { kInput, kLeave, kArrive };
  Kind kind = Kind::kInput;
  // The device's incarnation the action belongs to. Input reports of an
  // incarnation that has left are dropped, as a real device's would be.
  uint64_t incarnation = 0;
  std::vector<uint8_t> report;   // kInput
  bool for_good = false;         // kLeave: the device does not come back
  sim::SimIdentity identity;     // kArrive
};

// Actions in order of their due time; actions due at the same time keep the
// order in which they were added.
class ActionSchedule {
 public:
  void add(Clock::time_point due, DeviceAction action);
  // When the earliest action is due, or nullopt when nothing is pending.
  std::optional<Clock::time_point> next_due() const;
  // Removes and returns the earliest action if it is due at `now`.
  std::optional<DeviceAction> take_due(Clock::time_point now);
  size_t size() const { return actions_.size(); }

 private:
  std::map<std::pair<Clock::time_point, uint64_t>, DeviceAction> actions_;
  uint64_t sequence_ = 0;
};

}  // namespace torvane::virt
