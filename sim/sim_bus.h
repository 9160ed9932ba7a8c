// A simulated HID bus: a HidBackend whose interfaces are device models and
// plain (inert) interfaces attached and detached at run time. The device
// layer runs on it unchanged, so tests, demos and the command line can flash
// a simulated bootloader exactly as they would flash hardware.
//
// It moves reports as the Linux hidraw node does: a write takes the
// report-ID byte first (0 for a device without report IDs, which is then
// dropped); a read returns one input report, ID byte first only with report
// IDs; every open handle receives its own copy of each input report, queued
// (at most 64) until read, also across read time-outs. When a device leaves
// the bus, reports already queued can still be read; after that, and for
// every write, the handle fails with -1. A leading 0 of a write is dropped
// even for a device with report IDs, as the kernel's USB HID driver does.
// Interfaces are listed as hidapi lists a uhid device: interface -1,
// release 0, an empty manufacturer (knobs may set the first two).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device/hid_backend.h"
#include "sim/bootloader_model.h"
#include "sim/sim_knobs.h"

namespace torvane::sim {

// Names one physical device on the bus; it stays the same across restarts
// and re-plugs. Its interface paths do not: every arrival takes the lowest
// free path numbers, as the kernel numbers hidraw nodes, so a path may come
// back to the same device or go to another one. A path is not a device.
using SimDeviceId = uint32_t;

// One interface of an inert device (a keyboard, a second interface of some
// device): it can be listed and opened, takes writes and never answers.
struct SimInertInterface {
  HidInterfaceRecord record;  // path is ignored: the bus assigns it
  std::vector<uint8_t> report_descriptor;
};

enum class SimBusEventKind { kArrival, kRemoval };

struct SimBusEvent {
  SimBusEventKind kind = SimBusEventKind::kArrival;
  SimDeviceId device = 0;
  HidInterfaceRecord record;  // the interface that came or went
};

using SimBusListener = std::function<void(const SimBusEvent&)>;

// Most input reports an open handle keeps unread; later ones are dropped,
// as hidraw does.
inline constexpr size_t kSimHandleQueueLimit = 64;

struct SimBusCore;

class SimBus : public HidBackend {
 public:
  SimBus();
  ~SimBus() override;
  SimBus(const SimBus&) = delete;
  SimBus& operator=(const SimBus&) = delete;

  std::vector<HidInterfaceRecord> enumerate() override;
  std::unique_ptr<HidBackendDevice> open_path(const std::string& path, std::string* error) override;
  // The device's port knob, or "sim-N" with N its device id.
  std::string port_path(const std::string& path) override;

  // Plugs in a device driven by a new BootloaderModel built from the knobs.
  SimDeviceId attach_model(const SimKnobs& knobs);
  // Plugs in a device with these inert interfaces (at least one).
  SimDeviceId attach_interfaces(std::vector<SimInertInterface> interfaces);

  // Pulls the device off the bus now; a restart it had planned is dropped.
  // False when the id is unknown or the device is not present.
  bool unplug(SimDeviceId device);
  // Plugs a device back in (a model comes back powered on in the mode it
  // ran in). False when the id is unknown or the device is present.
  bool replug(SimDeviceId device);

  // Forgets a device that is off the bus, for tests that plug in many
  // devices in turn. False when the id is unknown or the device is present.
  bool forget(SimDeviceId device);

  bool is_present(SimDeviceId device) const;
  // Paths of the device's interfaces while present, in interface order
  // ("sim:hidrawN", N the lowest number free at its arrival).
  std::vector<std::string> interface_paths(SimDeviceId device) const;
  // The device's model, or null for an inert device or an unknown id.
  std::shared_ptr<BootloaderModel> model(SimDeviceId device) const;

  // Arrival and removal listeners, called once per interface, in the order
  // the changes happened, on the thread that made the change (for restarts
  // and faults the bus's own timer thread), without any bus lock held: a
  // listener may enumerate, open, attach or unsubscribe. unsubscribe returns
  // once no call of that listener is running (except when a listener
  // unsubscribes itself). Listeners are not called for the bus's own
  // destruction.
  uint64_t subscribe(SimBusListener listener);
  void unsubscribe(uint64_t subscription);

 private:
  std::shared_ptr<SimBusCore> core_;
  std::thread timer_;
};

// A bus with one device built from a knob text; null with *error (when
// given) if the text does not parse.
std::shared_ptr<SimBus> make_sim_bus_from_knobs(std::string_view text, std::string* error);

}  // namespace torvane::sim
