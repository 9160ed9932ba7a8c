// The simulated bus as a HidBackend, and its run-time plug operations.
#include "sim/sim_bus.h"

#include "sim/sim_bus_core.h"
#include "sim/sim_bus_handle.h"

namespace torvane::sim {

SimBus::SimBus() : core_(std::make_shared<SimBusCore>()) {
  // The thread owns a share of the core: should the last reference to the
  // bus be dropped on this very thread (by a listener), it is let go instead
  // of joined and finds the core still alive.
  timer_ = std::thread([core = core_] { core->timer_loop(); });
}

SimBus::~SimBus() {
  core_->shut_down();
  if (timer_.get_id() == std::this_thread::get_id()) {
    timer_.detach();
  } else {
    timer_.join();
  }
}

std::vector<HidInterfaceRecord> SimBus::enumerate() {
  std::lock_guard<std::mutex> lock(core_->mutex);
  std::vector<HidInterfaceRecord> records;
  for (SimDeviceId id : core_->order) {
    for (const SimInterfaceSlot& slot : core_->devices.at(id).slots) {
      records.insert(records.end(), slot.collections.begin(), slot.collections.end());
    }
  }
  return records;
}

std::unique_ptr<HidBackendDevice> SimBus::open_path(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(core_->mutex);
  for (SimDeviceId id : core_->order) {
    SimDeviceEntry& device = core_->devices.at(id);
    for (size_t i = 0; i < device.slots.size(); ++i) {
      SimInterfaceSlot& slot = device.slots[i];
      if (slot.record.path != path) continue;
      auto queue = std::make_shared<SimHandleQueue>();
      slot.handles.push_back(queue);
      core_->hold_node_locked(slot.node);
      return std::make_unique<SimBusHandle>(core_, id, device.arrival, i, slot.node, std::move(queue),
                                            device.model, slot.descriptor);
    }
  }
  if (error) *error = "no such device on the simulated bus: " + path;
  return nullptr;
}

std::string SimBus::port_path(const std::string& path) {
  std::lock_guard<std::mutex> lock(core_->mutex);
  for (SimDeviceId id : core_->order) {
    const SimDeviceEntry& device = core_->devices.at(id);
    for (const SimInterfaceSlot& slot : device.slots) {
      if (slot.record.path != path) continue;
      if (SimClock::now() >= device.port_lost_at) return {};
      if (device.model && device.model->knobs().port) return *device.model->knobs().port;
      return "sim-" + std::to_string(id);
    }
  }
  return {};
}

SimDeviceId SimBus::attach_model(const SimKnobs& knobs) {
  auto model = std::make_shared<BootloaderModel>(knobs);
  const SimIdentity identity = model->identity();
  SimDeviceId id;
  SimTransport* transport;
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->stopping) return 0;
    id = core_->next_device++;
    SimDeviceEntry& device = core_->devices[id];
    device.id = id;
    device.model = model;
    device.transport = std::make_unique<SimBusTransport>(core_.get(), id);
    transport = device.transport.get();
  }
  // Outside the bus lock (lock order model -> bus); the entry is not on the
  // bus yet, so nothing can reach the model meanwhile.
  model->set_transport(transport);
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->stopping) return 0;
    core_->arrive_locked(core_->devices.at(id), &identity);
  }
  core_->flush_notifications();
  return id;
}

SimDeviceId SimBus::attach_interfaces(std::vector<SimInertInterface> interfaces) {
  if (interfaces.empty()) return 0;
  SimDeviceId id;
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->stopping) return 0;
    id = core_->next_device++;
    SimDeviceEntry& device = core_->devices[id];
    device.id = id;
    device.inert = std::move(interfaces);
    core_->arrive_locked(device, nullptr);
  }
  core_->flush_notifications();
  return id;
}

bool SimBus::unplug(SimDeviceId id) {
  bool was_present = false;
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    SimDeviceEntry* device = core_->find_locked(id);
    if (!device) return false;
    ++device->generation;  // a planned return is cancelled too
    if (device->present) {
      core_->leave_locked(*device);
      was_present = true;
    }
  }
  core_->flush_notifications();
  return was_present;
}

bool SimBus::replug(SimDeviceId id) {
  std::shared_ptr<BootloaderModel> model;
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    SimDeviceEntry* device = core_->find_locked(id);
    if (!device || device->present || core_->stopping) return false;
    model = device->model;
  }
  // The model is asked outside the bus lock (lock order model -> bus).
  SimIdentity identity;
  if (model) {
    model->power_on();
    identity = model->identity();
  }
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    SimDeviceEntry* device = core_->find_locked(id);
    if (!device || device->present || core_->stopping) return false;
    ++device->generation;
    core_->arrive_locked(*device, model ? &identity : nullptr);
  }
  core_->flush_notifications();
  return true;
}

bool SimBus::forget(SimDeviceId id) {
  std::shared_ptr<BootloaderModel> model;
  std::unique_ptr<SimBusTransport> transport;
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    const auto it = core_->devices.find(id);
    if (it == core_->devices.end() || it->second.present) return false;
    model = std::move(it->second.model);
    transport = std::move(it->second.transport);
    core_->devices.erase(it);
  }
  // Cut the model off its transport before the transport goes (outside the
  // bus lock: lock order model -> bus). A handle still open on the model
  // may write to it; its replies are dropped.
  if (model) model->set_transport(nullptr);
  return true;
}

bool SimBus::is_present(SimDeviceId id) const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  const SimDeviceEntry* device = core_->find_locked(id);
  return device && device->present;
}

std::vector<std::string> SimBus::interface_paths(SimDeviceId id) const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  std::vector<std::string> paths;
  if (const SimDeviceEntry* device = core_->find_locked(id)) {
    for (const SimInterfaceSlot& slot : device->slots) paths.push_back(slot.record.path);
  }
  return paths;
}

std::shared_ptr<BootloaderModel> SimBus::model(SimDeviceId id) const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  const SimDeviceEntry* device = core_->find_locked(id);
  return device ? device->model : nullptr;
}

uint64_t SimBus::subscribe(SimBusListener listener) {
  if (!listener) return 0;
  std::lock_guard<std::mutex> lock(core_->mutex);
  const uint64_t id = core_->next_listener++;
  core_->listeners.emplace(id, std::move(listener));
  return id;
}

void SimBus::unsubscribe(uint64_t subscription) {
  // Taking the dispatch lock waits for a dispatch running on another thread.
  std::lock_guard<std::recursive_mutex> dispatch(core_->dispatch_mutex);
  std::lock_guard<std::mutex> lock(core_->mutex);
  core_->listeners.erase(subscription);
}

std::shared_ptr<SimBus> make_sim_bus_from_knobs(std::string_view text, std::string* error) {
  SimKnobs knobs;
  if (!parse_sim_knobs(text, &knobs, error)) return nullptr;
  auto bus = std::make_shared<SimBus>();
  bus->attach_model(knobs);
  return bus;
}

}  // namespace torvane::sim
