#include "monitor/sim_hotplug_source.h"

#include <cstdint>

#include "monitor/device_state.h"
#include "sim/sim_bus.h"

namespace torvane {

namespace {

class SimHotplugSource final : public HotplugSource {
 public:
  explicit SimHotplugSource(std::shared_ptr<sim::SimBus> bus) : bus_(std::move(bus)) {}
  ~SimHotplugSource() override { Stop(); }

  bool Start(std::function<void(unsigned)> on_change) override {
    if (!bus_) return false;
    if (subscribed_) return true;
    subscription_ = bus_->subscribe([on_change = std::move(on_change)](const sim::SimBusEvent& event) {
      on_change(event.kind == sim::SimBusEventKind::kArrival ? DBT_DEVICEARRIVAL
                                                             : DBT_DEVICEREMOVECOMPLETE);
    });
    subscribed_ = true;
    return true;
  }

  void Stop() override {
    if (subscribed_) {
      bus_->unsubscribe(subscription_);
      subscribed_ = false;
    }
  }

 private:
  std::shared_ptr<sim::SimBus> bus_;
  uint64_t subscription_ = 0;
  bool subscribed_ = false;
};

}  // namespace

std::unique_ptr<HotplugSource> MakeSimHotplugSource(std::shared_ptr<sim::SimBus> bus) {
  return std::make_unique<SimHotplugSource>(std::move(bus));
}

}  // namespace torvane
