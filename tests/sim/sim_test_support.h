// Helpers for the simulator tests: output reports built byte by byte as the
// tool writes them, input reports decoded as the tool reads them, test
// images with their start parameters, and a recorder of bus events.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "device/boot_protocol.h"
#include "sim/sim_bus.h"

namespace torvane::sim::test {

// A write as hidraw takes it: report-ID byte (0 without IDs), then the
// report; report_length bytes in all.
inline std::vector<uint8_t> command_write(uint8_t report_id, uint32_t report_length, uint16_t command,
                                          const std::vector<uint8_t>& payload = {}) {
  std::vector<uint8_t> w(report_length, 0);
  w[0] = report_id;
  boot_put_u16(&w[1], BOOT_FRAME_MAGIC);
  boot_put_u16(&w[3], command);
  for (size_t i = 0; i < payload.size() && 5 + i < w.size(); ++i) w[5 + i] = payload[i];
  return w;
}

inline std::vector<uint8_t> start_write(uint8_t report_id, uint32_t report_length, uint32_t address,
                                        uint32_t length, uint32_t checksum) {
  std::vector<uint8_t> p(12);
  boot_put_u32(&p[0], address);
  boot_put_u32(&p[4], length);
  boot_put_u32(&p[8], checksum);
  return command_write(report_id, report_length, BOOT_CMD_START, p);
}

inline uint16_t block_checksum(const uint8_t* data, uint32_t n, ChecksumScheme scheme) {
  return scheme == CHECKSUM_XOR ? boot_xor16(data, n) : boot_crc16(data, n);
}

inline std::vector<uint8_t> block_write(uint8_t report_id, uint32_t report_length, uint32_t index,
                                        const uint8_t* data, uint16_t n, ChecksumScheme scheme) {
  std::vector<uint8_t> w = command_write(report_id, report_length, BOOT_CMD_DATA);
  boot_put_u32(&w[5], index);
  boot_put_u16(&w[9], block_checksum(data, n, scheme));
  boot_put_u16(&w[11], n);
  for (uint32_t i = 0; i < n && 13 + i < w.size(); ++i) w[13 + i] = data[i];
  return w;
}

// The bytes the firmware receives for a write: the ID byte travels only
// when the device uses report IDs.
inline std::vector<uint8_t> to_wire(const std::vector<uint8_t>& write, uint8_t report_id) {
  if (report_id != 0) return write;
  return std::vector<uint8_t>(write.begin() + 1, write.end());
}

struct Reply {
  bool present = false;  // long enough to hold magic, echo and status
  uint16_t magic = 0;
  uint16_t echo = 0;
  uint16_t status = 0;
  std::array<uint8_t, BOOT_INFO_SIZE> info{};
  size_t size = 0;  // bytes of the input report
  bool ok(uint16_t command) const { return present && magic == BOOT_REPLY_MAGIC && echo == command; }
};

// Decodes an input report as read from the device: ID byte first only when
// the device uses report IDs.
inline Reply decode_reply(const uint8_t* data, size_t size, uint8_t report_id) {
  Reply r;
  r.size = size;
  const size_t off = report_id != 0 ? 1 : 0;
  if (size < off + 6) return r;
  r.present = true;
  r.magic = boot_get_u16(data + off);
  r.echo = boot_get_u16(data + off + 2);
  r.status = boot_get_u16(data + off + 4);
  for (size_t i = 0; i < BOOT_INFO_SIZE && off + 8 + i < size; ++i) r.info[i] = data[off + 8 + i];
  return r;
}

inline Reply decode_reply(const std::vector<uint8_t>& report, uint8_t report_id) {
  return decode_reply(report.data(), report.size(), report_id);
}

// Writes and reads one reply through an open handle (read_result: the
// read's return value).
inline Reply exchange(HidBackendDevice& handle, const std::vector<uint8_t>& write, uint8_t report_id,
                      int timeout_ms = 5000, int* read_result = nullptr) {
  Reply r;
  if (handle.write(write.data(), write.size()) != static_cast<int>(write.size())) return r;
  std::vector<uint8_t> in(write.size() + 8, 0);
  const int n = handle.read(in.data(), in.size(), timeout_ms);
  if (read_result) *read_result = n;
  if (n <= 0) return r;
  return decode_reply(in.data(), static_cast<size_t>(n), report_id);
}

// An image buffer as the tool prepares it (a multiple of 4 bytes) with the
// start parameters of the scheme.
struct TestImage {
  std::vector<uint8_t> buffer;
  uint32_t start_length = 0;
  uint32_t start_checksum = 0;
};

inline TestImage make_image(size_t size, ChecksumScheme scheme, uint32_t seed = 1) {
  TestImage image;
  image.buffer.resize(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : image.buffer) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  const auto n = static_cast<uint32_t>(size);
  if (scheme == CHECKSUM_XOR) {
    image.start_length = n;
    image.start_checksum = boot_xor32(image.buffer.data(), n);
  } else {
    image.start_length = n - BOOT_BLOCK_SIZE;
    image.start_checksum = boot_crc16(image.buffer.data() + BOOT_BLOCK_SIZE, n - BOOT_BLOCK_SIZE);
  }
  return image;
}

inline uint32_t block_count(const TestImage& image) {
  return static_cast<uint32_t>((image.buffer.size() + BOOT_BLOCK_SIZE - 1) / BOOT_BLOCK_SIZE);
}

inline uint16_t block_length(const TestImage& image, uint32_t index) {
  const size_t offset = size_t{index} * BOOT_BLOCK_SIZE;
  return static_cast<uint16_t>(std::min<size_t>(BOOT_BLOCK_SIZE, image.buffer.size() - offset));
}

inline std::vector<uint8_t> image_block_write(const TestImage& image, uint32_t index, uint8_t report_id,
                                              uint32_t report_length, ChecksumScheme scheme) {
  return block_write(report_id, report_length, index, image.buffer.data() + size_t{index} * BOOT_BLOCK_SIZE,
                     block_length(image, index), scheme);
}

// Collects bus events and waits for them (generous bounds: the waits end as
// soon as the event is there).
class EventRecorder {
 public:
  explicit EventRecorder(SimBus& bus) : bus_(bus) {
    id_ = bus_.subscribe([this](const SimBusEvent& e) {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(e);
      changed_.notify_all();
    });
  }
  ~EventRecorder() { bus_.unsubscribe(id_); }

  std::vector<SimBusEvent> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  bool wait_for_count(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
  }

 private:
  SimBus& bus_;
  uint64_t id_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SimBusEvent> events_;
};

}  // namespace torvane::sim::test
