// Arrivals and removals on the simulated bus as hot-plug events, so that
// simulated devices come and go through the same path as real ones.
#pragma once

#include <memory>

#include "monitor/hotplug_source.h"

namespace torvane {
namespace sim {
class SimBus;
}

std::unique_ptr<HotplugSource> MakeSimHotplugSource(std::shared_ptr<sim::SimBus> bus);

}  // namespace torvane
