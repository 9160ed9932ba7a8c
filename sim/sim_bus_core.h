// Internal state of a SimBus, shared with its open handles and its timer
// thread so that either may outlive the SimBus object itself.
//
// Locks: `mutex` guards everything but the listener dispatch; it is never
// held while a device model or a listener runs. Lock order:
// dispatch_mutex -> model mutex -> mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_bus.h"

namespace torvane::sim {

using SimClock = std::chrono::steady_clock;

// The input reports one open handle has not read yet.
struct SimHandleQueue {
  std::deque<std::vector<uint8_t>> reports;
  bool gone = false;  // the device left the bus while this handle was open
  uint64_t dropped = 0;
  std::condition_variable ready;
};

// One interface of a device that is on the bus.
struct SimInterfaceSlot {
  uint32_t node = 0;  // the number in its path, as a hidraw minor
  HidInterfaceRecord record;
  // What enumeration lists for it: one record per top-level collection.
  std::vector<HidInterfaceRecord> collections;
  std::vector<uint8_t> descriptor;
  std::vector<std::shared_ptr<SimHandleQueue>> handles;
};

class SimBusTransport;

struct SimDeviceEntry {
  SimDeviceId id = 0;
  std::shared_ptr<BootloaderModel> model;  // null for an inert device
  std::unique_ptr<SimBusTransport> transport;
  std::vector<SimInertInterface> inert;
  bool present = false;
  uint32_t arrival = 0;     // new at every arrival: tells handles and reports of earlier ones apart
  uint64_t generation = 0;  // bumped by unplug/replug: planned leaves and returns go stale
  std::vector<SimInterfaceSlot> slots;
  SimClock::time_point last_report_due{};
  size_t reports_in_flight = 0;
  SimClock::time_point port_lost_at = SimClock::time_point::max();  // port reads empty from then on
};

struct SimScheduledEvent {
  enum class Kind { kReport, kLeave, kArrive };
  Kind kind = Kind::kReport;
  SimDeviceId device = 0;
  uint32_t arrival = 0;     // kReport: the arrival the report belongs to
  uint64_t generation = 0;  // kLeave, kArrive
  std::vector<uint8_t> report;
  SimIdentity identity;     // kArrive
};

// Carries a model's replies and restarts onto the bus.
class SimBusTransport : public SimTransport {
 public:
  SimBusTransport(struct SimBusCore* core, SimDeviceId device) : core_(core), device_(device) {}
  void send_input_report(std::vector<uint8_t> report, std::chrono::microseconds delay) override;
  void unplug(std::chrono::microseconds delay) override;
  void restart_as(const SimIdentity& identity, std::chrono::microseconds delay,
                  std::chrono::milliseconds off_time) override;
  void lose_port(std::chrono::microseconds delay) override;

 private:
  struct SimBusCore* core_;
  SimDeviceId device_;
};

struct SimBusCore {
  mutable std::mutex mutex;
  std::map<SimDeviceId, SimDeviceEntry> devices;
  std::vector<SimDeviceId> order;  // present devices in order of arrival
  SimDeviceId next_device = 1;
  uint32_t next_arrival = 1;
  // Path numbers in use and how many holders each has: the interface while
  // it is on the bus, and every handle opened on it until it is closed.
  std::map<uint32_t, size_t> node_holders;
  std::map<std::pair<SimClock::time_point, uint64_t>, SimScheduledEvent> schedule;
  uint64_t next_sequence = 0;
  std::condition_variable wake;  // the timer thread
  bool stopping = false;
  std::deque<SimBusEvent> notifications;  // changes whose listeners have not run
  std::map<uint64_t, SimBusListener> listeners;
  uint64_t next_listener = 1;

  std::recursive_mutex dispatch_mutex;
  int dispatch_depth = 0;  // guarded by dispatch_mutex

  // With `mutex` held.
  void arrive_locked(SimDeviceEntry& device, const SimIdentity* identity);
  void leave_locked(SimDeviceEntry& device);
  void deliver_locked(SimDeviceEntry& device, std::vector<uint8_t> report);
  void schedule_locked(SimClock::time_point due, SimScheduledEvent event);
  void run_locked(SimScheduledEvent& event);
  SimDeviceEntry* find_locked(SimDeviceId id);
  // The lowest path number nobody holds, now held once.
  uint32_t take_node_locked();
  void hold_node_locked(uint32_t node);
  void release_node_locked(uint32_t node);

  // Runs the listeners for every queued change, in order. Without `mutex`.
  void flush_notifications();
  // The timer thread's body: due reports, leaves, returns, notifications.
  void timer_loop();
  // Stops the timer loop, fails every open handle, forgets listeners and
  // cuts the models off. Without `mutex`.
  void shut_down();
};

// "sim:hidrawN".
std::string sim_interface_path(uint32_t node);

// The kind's factory serial ("SIM-BOOT-0001") numbered for bus device `id`
// ("SIM-BOOT-0003"), so that several simulated units tell apart.
std::wstring sim_numbered_serial(const std::wstring& factory, uint32_t id);

}  // namespace torvane::sim
