// An open interface of the simulated bus, moving reports as hidraw does.
#pragma once

#include <memory>
#include <string>

#include "sim/sim_bus_core.h"

namespace torvane::sim {

// Longest write hidraw accepts (HID_MAX_BUFFER_SIZE).
inline constexpr size_t kSimMaxWriteLength = 16384;

class SimBusHandle : public HidBackendDevice {
 public:
  SimBusHandle(std::shared_ptr<SimBusCore> core, SimDeviceId device, uint32_t arrival,
               size_t slot, uint32_t node, std::shared_ptr<SimHandleQueue> queue,
               std::shared_ptr<BootloaderModel> model, std::vector<uint8_t> descriptor);
  ~SimBusHandle() override;

  int write(const uint8_t* data, size_t length) override;
  int read(uint8_t* buffer, size_t capacity, int timeout_ms) override;
  int discard_input() override;
  std::optional<std::vector<uint8_t>> report_descriptor() override;
  std::string error_text() override;

 private:
  bool still_there_locked();

  std::shared_ptr<SimBusCore> core_;
  SimDeviceId device_;
  uint32_t arrival_;
  size_t slot_;
  uint32_t node_;  // held until this handle is closed
  std::shared_ptr<SimHandleQueue> queue_;
  std::shared_ptr<BootloaderModel> model_;
  std::vector<uint8_t> descriptor_;
  std::string error_;
};

}  // namespace torvane::sim
