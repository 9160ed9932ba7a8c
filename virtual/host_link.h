// How a virtual device reaches the kernel it plays for: the event loop in
// VirtualDevice speaks only through this, so the same bootloader model runs
// behind /dev/uhid (a HID device without USB under it) or behind a USB HID
// gadget (a real USB device on dummy_hcd, enumerated by the USB core).
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_identity.h"

namespace torvane::virt {

using LineSink = std::function<void(const std::string&)>;
// Receives one output report as device firmware gets it off the wire.
using OutputSink = std::function<void(const std::vector<uint8_t>&)>;

class HostLink {
 public:
  virtual ~HostLink() = default;

  // Puts the device on the bus showing `identity` with `descriptor`; a device
  // that left comes back through this too, possibly as another kind
  // (re-enumeration). False with *error when the kernel refused.
  virtual bool arrive(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor,
                      std::string* error) = 0;

  // Takes the device off the bus; nothing happens when it is not on it.
  // Input reports not yet delivered are dropped.
  virtual bool leave(std::string* error) = 0;

  // Hands one input report (bytes as on the wire) to the host. A link that
  // cannot deliver it at once keeps it and sends it when the host takes it.
  virtual bool send_input(const std::vector<uint8_t>& report, std::string* error) = 0;

  // The descriptor and events the loop waits on (fd -1: nothing right now).
  virtual pollfd wait_for() const = 0;

  // Handles what poll() reported on wait_for()'s descriptor: output reports
  // go to `output`. False with *error when the link failed for good.
  virtual bool service(short revents, const OutputSink& output, std::string* error) = 0;

  // The device has hung and takes no more output reports off the bus until
  // it arrives again. Only a link whose host feels that (a USB endpoint
  // backing up) does anything.
  virtual void stop_reading() {}

  // Where the host sees the device, for the log ("uhid", "USB gadget on
  // dummy_udc.0").
  virtual std::string where() const = 0;

  // Lines worth telling go to `log`; with `verbose` also one per kernel event.
  void set_log(LineSink log, bool verbose) {
    log_ = std::move(log);
    verbose_ = verbose;
  }

 protected:
  void note(const std::string& line) const {
    if (log_) log_(line);
  }
  void detail(const std::string& line) const {
    if (verbose_) note(line);
  }

 private:
  LineSink log_;
  bool verbose_ = false;
};

}  // namespace torvane::virt
