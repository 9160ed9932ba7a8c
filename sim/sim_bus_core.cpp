// Arrivals, removals, report delivery and the timer thread of the simulated
// bus.
#include "sim/sim_bus_core.h"

#include <cwchar>

#include <algorithm>

#include "device/report_descriptor.h"
#include "sim/report_descriptor_builder.h"

namespace torvane::sim {

std::string sim_interface_path(uint32_t node) { return "sim:hidraw" + std::to_string(node); }

std::wstring sim_numbered_serial(const std::wstring& factory, uint32_t id) {
  const size_t dash = factory.rfind(L'-');
  if (dash == std::wstring::npos) return factory;
  wchar_t number[16];
  std::swprintf(number, sizeof(number) / sizeof(number[0]), L"%04u", id);
  return factory.substr(0, dash + 1) + number;
}

namespace {

// hidapi lists a hidraw node once per top-level collection, every record
// alike but for the usage page and usage; a descriptor with a single
// collection (or one that does not parse) gives the interface's own record.
std::vector<HidInterfaceRecord> collection_records(const HidInterfaceRecord& record,
                                                   const std::vector<uint8_t>& descriptor) {
  const ReportDescriptorSummary summary = parse_report_descriptor(descriptor.data(), descriptor.size());
  if (!summary.ok() || summary.collections.size() < 2) return {record};
  std::vector<HidInterfaceRecord> records;
  for (const ReportCollectionSummary& collection : summary.collections) {
    records.push_back(record);
    records.back().usage_page = collection.usage.usage_page;
    records.back().usage = collection.usage.usage;
  }
  return records;
}

}  // namespace

SimDeviceEntry* SimBusCore::find_locked(SimDeviceId id) {
  auto it = devices.find(id);
  return it == devices.end() ? nullptr : &it->second;
}

// Numbers are handed out as the kernel hands out hidraw minors: the lowest
// one free. A number stays taken while a handle opened on the interface is
// still open, even after the interface has left the bus, so a device that
// restarts gets its old path back only if nobody kept the old one open.
uint32_t SimBusCore::take_node_locked() {
  uint32_t node = 0;
  for (const auto& entry : node_holders) {
    if (entry.first != node) break;
    ++node;
  }
  node_holders.emplace(node, 1);
  return node;
}

void SimBusCore::hold_node_locked(uint32_t node) { ++node_holders[node]; }

void SimBusCore::release_node_locked(uint32_t node) {
  auto it = node_holders.find(node);
  if (it == node_holders.end()) return;
  if (--it->second == 0) node_holders.erase(it);
}

void SimBusCore::arrive_locked(SimDeviceEntry& device, const SimIdentity* identity) {
  device.present = true;
  device.arrival = next_arrival++;
  device.port_lost_at = SimClock::time_point::max();
  device.slots.clear();
  device.last_report_due = {};
  if (device.model && identity) {
    SimInterfaceSlot slot;
    HidInterfaceRecord& r = slot.record;
    r.vendor_id = identity->vendor_id;
    r.product_id = identity->product_id;
    r.usage_page = identity->usage_page;
    r.usage = identity->usage;
    r.release_number = identity->release_number;
    r.manufacturer_string = identity->manufacturer;
    r.product_string = identity->product;
    r.serial_number = identity->serial_number;
    if (!device.model->knobs().serial) r.serial_number = sim_numbered_serial(r.serial_number.value_or(L""), device.id);
    if (device.model->knobs().no_serial) r.serial_number.reset();
    r.interface_number = identity->interface_number;
    slot.descriptor = build_sim_report_descriptor(*identity);
    device.slots.push_back(std::move(slot));
  } else {
    for (const SimInertInterface& inert : device.inert) {
      device.slots.push_back({0, inert.record, {}, inert.report_descriptor, {}});
    }
  }
  for (SimInterfaceSlot& slot : device.slots) {
    slot.node = take_node_locked();
    slot.record.path = sim_interface_path(slot.node);
    slot.collections = collection_records(slot.record, slot.descriptor);
    notifications.push_back({SimBusEventKind::kArrival, device.id, slot.record});
  }
  order.push_back(device.id);
  wake.notify_all();
}

void SimBusCore::leave_locked(SimDeviceEntry& device) {
  device.present = false;
  for (SimInterfaceSlot& slot : device.slots) {
    for (const auto& handle : slot.handles) {
      handle->gone = true;
      handle->ready.notify_all();
    }
    notifications.push_back({SimBusEventKind::kRemoval, device.id, slot.record});
    release_node_locked(slot.node);
  }
  device.slots.clear();
  order.erase(std::remove(order.begin(), order.end(), device.id), order.end());
  wake.notify_all();
}

void SimBusCore::deliver_locked(SimDeviceEntry& device, std::vector<uint8_t> report) {
  if (device.slots.empty()) return;
  // A model device has one interface; every handle open on it gets a copy.
  for (const auto& handle : device.slots.front().handles) {
    if (handle->reports.size() >= kSimHandleQueueLimit) {
      ++handle->dropped;
      continue;
    }
    handle->reports.push_back(report);
    handle->ready.notify_all();
  }
}

void SimBusCore::schedule_locked(SimClock::time_point due, SimScheduledEvent event) {
  schedule.emplace(std::make_pair(due, next_sequence++), std::move(event));
  wake.notify_all();
}

void SimBusCore::run_locked(SimScheduledEvent& event) {
  SimDeviceEntry* device = find_locked(event.device);
  if (!device) return;
  switch (event.kind) {
    case SimScheduledEvent::Kind::kReport:
      if (device->reports_in_flight > 0) --device->reports_in_flight;
      if (device->present && device->arrival == event.arrival) {
        deliver_locked(*device, std::move(event.report));
      }
      break;
    case SimScheduledEvent::Kind::kLeave:
      if (device->present && device->generation == event.generation) leave_locked(*device);
      break;
    case SimScheduledEvent::Kind::kArrive:
      if (!device->present && device->generation == event.generation) {
        arrive_locked(*device, &event.identity);
      }
      break;
  }
}

void SimBusCore::flush_notifications() {
  std::lock_guard<std::recursive_mutex> dispatch(dispatch_mutex);
  // A listener that changes the bus lands here again on its own thread; the
  // outer loop delivers that change after the current one.
  if (dispatch_depth > 0) return;
  ++dispatch_depth;
  for (;;) {
    SimBusEvent event;
    std::vector<uint64_t> targets;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping || notifications.empty()) break;
      event = std::move(notifications.front());
      notifications.pop_front();
      for (const auto& entry : listeners) targets.push_back(entry.first);
    }
    for (uint64_t id : targets) {
      // Looked up again each time: a listener unsubscribed by an earlier one
      // is not called any more.
      SimBusListener listener;
      {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = listeners.find(id);
        if (stopping || it == listeners.end()) continue;
        listener = it->second;
      }
      listener(event);
    }
  }
  --dispatch_depth;
}

void SimBusCore::timer_loop() {
  std::unique_lock<std::mutex> lock(mutex);
  while (!stopping) {
    if (!notifications.empty()) {
      lock.unlock();
      flush_notifications();
      lock.lock();
      continue;
    }
    if (schedule.empty()) {
      wake.wait(lock);
      continue;
    }
    auto first = schedule.begin();
    if (first->first.first > SimClock::now()) {
      // A copy: the node may be erased while the wait has the lock released.
      const SimClock::time_point deadline = first->first.first;
      wake.wait_until(lock, deadline);
      continue;
    }
    SimScheduledEvent event = std::move(first->second);
    schedule.erase(first);
    run_locked(event);
  }
}

void SimBusCore::shut_down() {
  std::vector<std::shared_ptr<BootloaderModel>> models;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    for (auto& [id, device] : devices) {
      if (device.model) models.push_back(device.model);
      for (SimInterfaceSlot& slot : device.slots) {
        for (const auto& handle : slot.handles) {
          handle->gone = true;
          handle->ready.notify_all();
        }
      }
      device.slots.clear();
      device.present = false;
    }
    order.clear();
    node_holders.clear();
    schedule.clear();
    notifications.clear();
    wake.notify_all();
  }
  {
    // Waits for a dispatch running on another thread (unless it is this one).
    std::lock_guard<std::recursive_mutex> dispatch(dispatch_mutex);
    std::lock_guard<std::mutex> lock(mutex);
    listeners.clear();
  }
  for (const auto& model : models) model->set_transport(nullptr);
}

void SimBusTransport::send_input_report(std::vector<uint8_t> report, std::chrono::microseconds delay) {
  std::lock_guard<std::mutex> lock(core_->mutex);
  SimDeviceEntry* device = core_->find_locked(device_);
  if (core_->stopping || !device || !device->present) return;
  const SimClock::time_point now = SimClock::now();
  // Reports keep their order even when a later one is due sooner.
  const SimClock::time_point due = std::max(now + delay, device->last_report_due);
  device->last_report_due = due;
  if (due <= now && device->reports_in_flight == 0) {
    core_->deliver_locked(*device, std::move(report));
    return;
  }
  ++device->reports_in_flight;
  SimScheduledEvent event;
  event.kind = SimScheduledEvent::Kind::kReport;
  event.device = device_;
  event.arrival = device->arrival;
  event.report = std::move(report);
  core_->schedule_locked(due, std::move(event));
}

void SimBusTransport::unplug(std::chrono::microseconds delay) {
  std::lock_guard<std::mutex> lock(core_->mutex);
  SimDeviceEntry* device = core_->find_locked(device_);
  if (core_->stopping || !device || !device->present) return;
  ++device->generation;
  if (delay.count() <= 0) {
    // Gone at once; the listeners run on the timer thread.
    core_->leave_locked(*device);
    return;
  }
  SimScheduledEvent event;
  event.kind = SimScheduledEvent::Kind::kLeave;
  event.device = device_;
  event.generation = device->generation;
  core_->schedule_locked(SimClock::now() + delay, std::move(event));
}

void SimBusTransport::restart_as(const SimIdentity& identity, std::chrono::microseconds delay,
                                 std::chrono::milliseconds off_time) {
  std::lock_guard<std::mutex> lock(core_->mutex);
  SimDeviceEntry* device = core_->find_locked(device_);
  if (core_->stopping || !device || !device->present) return;
  const SimClock::time_point leave = SimClock::now() + delay;
  SimScheduledEvent gone;
  gone.kind = SimScheduledEvent::Kind::kLeave;
  gone.device = device_;
  gone.generation = device->generation;
  core_->schedule_locked(leave, std::move(gone));
  SimScheduledEvent back;
  back.kind = SimScheduledEvent::Kind::kArrive;
  back.device = device_;
  back.generation = device->generation;
  back.identity = identity;
  core_->schedule_locked(leave + off_time, std::move(back));
}

void SimBusTransport::lose_port(std::chrono::microseconds delay) {
  std::lock_guard<std::mutex> lock(core_->mutex);
  SimDeviceEntry* device = core_->find_locked(device_);
  if (device && device->present) device->port_lost_at = SimClock::now() + delay;
}

}  // namespace torvane::sim
