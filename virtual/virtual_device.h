// A simulated device on the real kernel: the simulator's bootloader model
// behind a HostLink, either a /dev/uhid device or a USB HID gadget. The
// kernel makes it a HID device like any USB one (hidraw node, udev events,
// report descriptor), so the tool reaches it through hidapi exactly as it
// reaches hardware.
//
// One thread runs everything: it waits on the link, a stop descriptor, a
// re-plug descriptor and the next due action; hands output reports to the
// model; and passes the model's replies, departures and returns to the link
// when they are due.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/bootloader_model.h"
#include "sim/sim_knobs.h"
#include "virtual/action_schedule.h"
#include "virtual/host_link.h"
#include "virtual/uhid_events.h"

namespace torvane::virt {

// How VirtualDevice::run ended.
enum class RunEnd {
  kStopped,    // the stop descriptor became readable; the device was destroyed
  kUnplugged,  // a fault knob pulled the device out for good
  kUhidError,  // the link (/dev/uhid, the gadget) refused or failed
};

// Checks that the knobs describe a device uhid can carry; returns an empty
// string when they do, else the reason.
std::string check_uhid_limits(const sim::SimKnobs& knobs);

class VirtualDevice {
 public:
  // `uhid_fd` is an open /dev/uhid (or anything that speaks its records,
  // such as one end of a SOCK_SEQPACKET pair in tests); it stays the
  // caller's. `log` receives one line per event worth telling.
  VirtualDevice(const sim::SimKnobs& knobs, int uhid_fd, LineSink log);
  // The device behind any link (a USB gadget, say).
  VirtualDevice(const sim::SimKnobs& knobs, std::unique_ptr<HostLink> link, LineSink log);
  ~VirtualDevice();

  VirtualDevice(const VirtualDevice&) = delete;
  VirtualDevice& operator=(const VirtualDevice&) = delete;

  // Where each confirmed image is written (replaced); empty for nowhere.
  void set_image_path(std::string path) { image_path_ = std::move(path); }
  // Also log every uhid event and frame.
  void set_verbose(bool verbose);

  // Creates the device and serves it until `stop_fd` becomes readable (then
  // the device is destroyed), until a fault pulls it out for good, or until
  // the link fails. Each time `replug_fd` (when not -1) becomes readable, one
  // record is read from it and the device is pulled out and plugged in
  // again `restart-ms` later, as a person re-plugging the cable. Call once.
  RunEnd run(int stop_fd, int replug_fd = -1);

  sim::SimVerdict verdict() const { return model_.verdict(); }

 private:
  class Transport;

  bool arrive(const sim::SimIdentity& identity);
  bool leave();
  // Reports a failure of the link; returns false.
  bool link_failed(const std::string& error);
  void on_output(const std::vector<uint8_t>& wire);
  void replug();
  // Runs the actions due now; false when the link failed.
  bool run_due_actions();
  void review_verdict();

  sim::BootloaderModel model_;
  std::unique_ptr<HostLink> link_;
  LineSink log_;
  std::unique_ptr<Transport> transport_;
  ActionSchedule schedule_;
  uint64_t incarnation_ = 0;
  bool present_ = false;
  bool gone_for_good_ = false;
  bool verbose_ = false;
  std::string image_path_;
  uint32_t confirmed_ = 0;         // completed downloads already reported
  uint32_t image_failures_ = 0;    // image checksum failures already reported
  uint32_t violations_ = 0;        // protocol violations already reported
};

}  // namespace torvane::virt
