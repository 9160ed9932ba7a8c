// A scripted HidBackend for the device layer's unit tests: a fixed list of
// interfaces, opens that can be made to fail, and per-device queues of read
// results (a report, a time-out or an error). Every write is recorded.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_backend.h"

namespace torvane::test {

// One result of HidBackendDevice::read as the kernel would give it.
struct FakeRead {
  int result = 0;                // 0 time-out, -1 error, > 0 deliver `bytes`
  std::vector<uint8_t> bytes;
  bool already_queued = false;  // waiting before the next request: discard_input drops it
  static FakeRead report(std::vector<uint8_t> b) { return {1, std::move(b)}; }
  static FakeRead stale(std::vector<uint8_t> b) { return {1, std::move(b), true}; }
  static FakeRead timeout() { return {0, {}}; }
  static FakeRead error() { return {-1, {}}; }
};

// State of one fake interface, shared by the test and the open device.
struct FakeDeviceState {
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> writes;
  std::deque<FakeRead> reads;         // empty queue: every read times out
  std::vector<int> read_timeouts;     // timeout_ms of every read call
  std::vector<size_t> read_capacities;
  int discarded = 0;                  // reports dropped by discard_input
  std::function<void()> on_write;     // called for every write, before it is recorded
  int write_result = 0;               // 0: write succeeds fully; else returned as is
  std::string error_text = "Input/output error\nsecond line";
  std::optional<std::vector<uint8_t>> descriptor;
  std::optional<ReportLayout> layout;  // stated by the backend, as on Windows

  void queue(FakeRead r) {
    std::lock_guard<std::mutex> g(mutex);
    reads.push_back(std::move(r));
  }
};

class FakeHidDevice final : public HidBackendDevice {
 public:
  explicit FakeHidDevice(std::shared_ptr<FakeDeviceState> state) : state_(std::move(state)) {}

  int write(const uint8_t* data, size_t length) override {
    std::lock_guard<std::mutex> g(state_->mutex);
    if (state_->on_write) state_->on_write();
    state_->writes.emplace_back(data, data + length);
    return state_->write_result != 0 ? state_->write_result : static_cast<int>(length);
  }

  int read(uint8_t* buffer, size_t capacity, int timeout_ms) override {
    std::lock_guard<std::mutex> g(state_->mutex);
    state_->read_timeouts.push_back(timeout_ms);
    state_->read_capacities.push_back(capacity);
    if (state_->reads.empty()) return 0;
    FakeRead r = std::move(state_->reads.front());
    state_->reads.pop_front();
    if (r.result <= 0) return r.result;
    const size_t n = std::min(capacity, r.bytes.size());
    std::copy_n(r.bytes.begin(), n, buffer);
    return static_cast<int>(n);
  }

  int discard_input() override {
    std::lock_guard<std::mutex> g(state_->mutex);
    int dropped = 0;
    while (!state_->reads.empty() && state_->reads.front().already_queued) {
      state_->reads.pop_front();
      ++dropped;
    }
    state_->discarded += dropped;
    return dropped;
  }

  std::optional<std::vector<uint8_t>> report_descriptor() override {
    std::lock_guard<std::mutex> g(state_->mutex);
    return state_->descriptor;
  }

  std::optional<ReportLayout> report_layout() override {
    std::lock_guard<std::mutex> g(state_->mutex);
    return state_->layout;
  }

  std::string error_text() override {
    std::lock_guard<std::mutex> g(state_->mutex);
    return state_->error_text;
  }

 private:
  std::shared_ptr<FakeDeviceState> state_;
};

struct FakeInterface {
  HidInterfaceRecord record;
  std::shared_ptr<FakeDeviceState> state = std::make_shared<FakeDeviceState>();
  std::string open_error;  // non-empty: the open fails with this reason
};

class FakeHidBackend final : public HidBackend {
 public:
  bool initialise_ok = true;

  bool initialise(std::string* error) override {
    std::lock_guard<std::mutex> g(mutex_);
    ++initialise_calls;
    if (!initialise_ok && error != nullptr) *error = "libhidapi-hidraw.so.0: cannot open shared object file";
    return initialise_ok;
  }
  void shutdown() override {
    std::lock_guard<std::mutex> g(mutex_);
    ++shutdown_calls;
  }

  std::vector<HidInterfaceRecord> enumerate() override {
    std::lock_guard<std::mutex> g(mutex_);
    ++enumerate_calls;
    std::vector<HidInterfaceRecord> out;
    for (const auto& i : interfaces) out.push_back(i.record);
    return out;
  }

  std::unique_ptr<HidBackendDevice> open_path(const std::string& path, std::string* error) override {
    std::lock_guard<std::mutex> g(mutex_);
    opened_paths.push_back(path);
    for (const auto& i : interfaces) {
      if (i.record.path != path) continue;
      if (!i.open_error.empty()) {
        if (error != nullptr) *error = i.open_error;
        return nullptr;
      }
      return std::make_unique<FakeHidDevice>(i.state);
    }
    if (error != nullptr) *error = "No such file or directory";
    return nullptr;
  }

  // Adds an interface with the given identity and descriptor; returns its state.
  std::shared_ptr<FakeDeviceState> add(const std::string& path, uint16_t vid, uint16_t pid,
                                       std::vector<uint8_t> descriptor, uint16_t usage_page = 0,
                                       uint16_t usage = 0) {
    std::lock_guard<std::mutex> g(mutex_);
    FakeInterface i;
    i.record.path = path;
    i.record.vendor_id = vid;
    i.record.product_id = pid;
    i.record.usage_page = usage_page;
    i.record.usage = usage;
    i.state->descriptor = std::move(descriptor);
    interfaces.push_back(i);
    return i.state;
  }

  int initialise_calls = 0;
  int shutdown_calls = 0;
  int enumerate_calls = 0;
  std::vector<std::string> opened_paths;
  std::vector<FakeInterface> interfaces;

 private:
  std::mutex mutex_;
};

}  // namespace torvane::test
