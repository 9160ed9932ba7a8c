// Writes hand frames to the device model; reads take queued input reports.
#include "sim/sim_bus_handle.h"

#include <algorithm>
#include <cstring>

namespace torvane::sim {

namespace {
constexpr const char* kRemovedText = "device has been removed from the simulated bus";
}

SimBusHandle::SimBusHandle(std::shared_ptr<SimBusCore> core, SimDeviceId device, uint32_t arrival,
                           size_t slot, uint32_t node, std::shared_ptr<SimHandleQueue> queue,
                           std::shared_ptr<BootloaderModel> model, std::vector<uint8_t> descriptor)
    : core_(std::move(core)),
      device_(device),
      arrival_(arrival),
      slot_(slot),
      node_(node),
      queue_(std::move(queue)),
      model_(std::move(model)),
      descriptor_(std::move(descriptor)) {}

SimBusHandle::~SimBusHandle() {
  std::lock_guard<std::mutex> lock(core_->mutex);
  core_->release_node_locked(node_);
  if (!still_there_locked()) return;
  auto& handles = core_->find_locked(device_)->slots[slot_].handles;
  handles.erase(std::remove(handles.begin(), handles.end(), queue_), handles.end());
}

bool SimBusHandle::still_there_locked() {
  const SimDeviceEntry* device = core_->find_locked(device_);
  return device && device->present && device->arrival == arrival_ && slot_ < device->slots.size();
}

int SimBusHandle::write(const uint8_t* data, size_t length) {
  if (!data || length < 2) {
    error_ = "write of fewer than 2 bytes (report ID and data)";
    return -1;
  }
  if (length > kSimMaxWriteLength) {
    error_ = "write longer than " + std::to_string(kSimMaxWriteLength) + " bytes";
    return -1;
  }
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!still_there_locked()) {
      error_ = kRemovedText;
      return -1;
    }
  }
  if (model_) {
    // The kernel's USB HID driver takes a leading 0 for "no report ID" and
    // does not send it, whether or not the device uses report IDs: a frame
    // starting with 0 reaches a report-ID device one byte short. Any other
    // first byte travels with the report.
    if (data[0] == 0) {
      model_->on_output_report(data + 1, length - 1);
    } else {
      model_->on_output_report(data, length);
    }
  }
  return static_cast<int>(length);
}

int SimBusHandle::read(uint8_t* buffer, size_t capacity, int timeout_ms) {
  if (!buffer || capacity == 0) {
    error_ = "read without room for a report";
    return -1;
  }
  const auto deadline = SimClock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  std::unique_lock<std::mutex> lock(core_->mutex);
  for (;;) {
    if (!queue_->reports.empty()) {
      const std::vector<uint8_t> report = std::move(queue_->reports.front());
      queue_->reports.pop_front();
      const size_t count = std::min(report.size(), capacity);
      std::memcpy(buffer, report.data(), count);
      return static_cast<int>(count);
    }
    if (queue_->gone) {
      error_ = kRemovedText;
      return -1;
    }
    if (timeout_ms < 0) {
      queue_->ready.wait(lock);
    } else if (queue_->ready.wait_until(lock, deadline) == std::cv_status::timeout) {
      if (queue_->reports.empty() && !queue_->gone) return 0;
    }
  }
}

int SimBusHandle::discard_input() {
  std::lock_guard<std::mutex> lock(core_->mutex);
  const size_t dropped = queue_->reports.size();
  if (dropped == 0 && queue_->gone) {
    error_ = kRemovedText;
    return -1;
  }
  queue_->reports.clear();
  return static_cast<int>(dropped);
}

std::optional<std::vector<uint8_t>> SimBusHandle::report_descriptor() {
  std::lock_guard<std::mutex> lock(core_->mutex);
  if (!still_there_locked()) {
    error_ = kRemovedText;
    return std::nullopt;
  }
  return descriptor_;
}

std::string SimBusHandle::error_text() { return error_; }

}  // namespace torvane::sim
