// The device behind /dev/uhid: the kernel makes it a HID device without a
// USB parent (no interface number, the port is the physical-location text).
#pragma once

#include <string>

#include "virtual/host_link.h"
#include "virtual/uhid_events.h"

namespace torvane::virt {

class UhidLink final : public HostLink {
 public:
  // `fd` is an open /dev/uhid (or anything that speaks its records, such as
  // one end of a SOCK_SEQPACKET pair in tests); it stays the caller's.
  // `phys` is what the kernel shows as HID_PHYS: the port of a device
  // without a USB parent.
  UhidLink(int fd, std::string phys) : fd_(fd), phys_(std::move(phys)) {}

  bool arrive(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor,
              std::string* error) override;
  bool leave(std::string* error) override;
  bool send_input(const std::vector<uint8_t>& report, std::string* error) override;
  pollfd wait_for() const override { return pollfd{fd_, POLLIN, 0}; }
  bool service(short revents, const OutputSink& output, std::string* error) override;
  std::string where() const override { return "uhid"; }

 private:
  bool write_event(const uhid_event& event, std::string* error);

  int fd_;
  std::string phys_;
  bool present_ = false;
};

}  // namespace torvane::virt
