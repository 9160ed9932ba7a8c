// The device as a real USB device: a HID function in a configfs gadget,
// bound to a USB device controller (dummy_hcd's dummy_udc.N in the kernel
// tests). The host side enumerates it through the USB core and usbhid, so
// its port path, USB serial number, interface number and the way output
// reports travel (interrupt OUT transfers that a device which stops reading
// leaves pending) are the real ones.
//
// The device side of the function is /dev/hidgN: one read() returns one
// output report as it came over the wire, one write() sends one input
// report. Leaving the bus unbinds the gadget from its controller; coming
// back as another kind rewrites the IDs, strings and report descriptor
// while unbound (the descriptor only after taking the function out of the
// configuration) and binds again on the same controller.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/sim_knobs.h"
#include "virtual/host_link.h"

namespace torvane::virt {

struct GadgetPlaces {
  std::string configfs = "/sys/kernel/config/usb_gadget";
  std::string udc_class = "/sys/class/udc";
  std::string dev = "/dev";
};

// The longest report one interrupt transfer of a high-speed gadget carries.
inline constexpr uint32_t kGadgetMaxReport = 1024;

// Checks that the knobs describe a device a USB HID gadget can present;
// returns an empty string when they do, else why not.
std::string check_gadget_limits(const sim::SimKnobs& knobs);

// Bytes of the longest report on the wire (the gadget's report_length):
// input, output or the keyboard collection's, ID byte included when the
// device uses report IDs.
uint32_t gadget_report_length(const sim::SimIdentity& identity);

class GadgetLink final : public HostLink {
 public:
  // `udc` names the controller; empty takes the first free one. `name` is
  // the gadget's folder under configfs.
  GadgetLink(std::string udc, std::string name, GadgetPlaces places = {});
  ~GadgetLink() override;

  GadgetLink(const GadgetLink&) = delete;
  GadgetLink& operator=(const GadgetLink&) = delete;

  bool arrive(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor,
              std::string* error) override;
  bool leave(std::string* error) override;
  bool send_input(const std::vector<uint8_t>& report, std::string* error) override;
  pollfd wait_for() const override;
  bool service(short revents, const OutputSink& output, std::string* error) override;
  std::string where() const override;

  // Stops taking output reports off the wire, as firmware that hangs: the
  // function's few queued OUT requests fill and the host's writes then wait
  // in the USB core until they time out.
  void stop_reading() override { reading_ = false; }

 private:
  std::string path(const std::string& tail) const { return dir_ + "/" + tail; }
  bool create_tree(std::string* error);
  bool set_function(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor, std::string* error);
  bool set_device(const sim::SimIdentity& identity, std::string* error);
  bool bind(std::string* error);
  bool open_node(std::string* error);
  void close_node();
  void remove_tree();
  bool flush_pending(std::string* error);

  GadgetPlaces places_;
  std::string wanted_udc_;
  std::string dir_;
  std::string udc_;  // the controller bound to, once bound
  bool created_ = false;
  bool linked_ = false;
  bool bound_ = false;
  bool reading_ = true;
  bool had_input_ = false;  // input reports were sent since the device arrived
  int fd_ = -1;
  std::vector<uint8_t> descriptor_;
  uint32_t report_length_ = 0;
  std::deque<std::vector<uint8_t>> pending_;  // input reports the host has not taken yet
};

}  // namespace torvane::virt
