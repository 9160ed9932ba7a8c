// Time-ordered queue of the virtual device's pending actions.
#include "virtual/action_schedule.h"

namespace torvane::virt {

void ActionSchedule::add(Clock::time_point due, DeviceAction action) {
  actions_.emplace(std::make_pair(due, sequence_++), std::move(action));
}

std::optional<Clock::time_point> ActionSchedule::next_due() const {
  if (actions_.empty()) return std::nullopt;
  return actions_.begin()->first.first;
}

std::optional<DeviceAction> ActionSchedule::take_due(Clock::time_point now) {
  if (actions_.empty() || actions_.begin()->first.first > now) return std::nullopt;
  DeviceAction action = std::move(actions_.begin()->second);
  actions_.erase(actions_.begin());
  return action;
}

}  // namespace torvane::virt
