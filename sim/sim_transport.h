// What a simulated device asks of whatever carries it: the in-process bus
// or a kernel front end. The device model speaks only through this.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/sim_identity.h"

namespace torvane::sim {

class SimTransport {
 public:
  virtual ~SimTransport() = default;

  // Hands one input report to the host `delay` from now, bytes as on the
  // wire: the report-ID byte first only when the device uses report IDs.
  // Reports keep the order in which they were handed over.
  virtual void send_input_report(std::vector<uint8_t> report, std::chrono::microseconds delay) = 0;

  // The device leaves the bus `delay` from now and stays away.
  virtual void unplug(std::chrono::microseconds delay) = 0;

  // The device has hung: it takes no more output reports off the bus until
  // it is powered again. A USB link stops reading its endpoint, so the
  // host's writes back up; elsewhere frames are just lost.
  virtual void stop_reading() {}

  // The device leaves the bus `delay` from now and comes back `off_time`
  // after that, showing `identity`.
  virtual void restart_as(const SimIdentity& identity, std::chrono::microseconds delay,
                          std::chrono::milliseconds off_time) = 0;

  // From `delay` from now until the device next arrives, the port it is
  // plugged into reads empty while its interfaces are still listed (as when
  // a USB device's entry goes before its HID nodes). Optional.
  virtual void lose_port(std::chrono::microseconds delay) { (void)delay; }
};

}  // namespace torvane::sim
