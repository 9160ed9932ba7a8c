// The firmware side of the boot protocol, independent of any bus: a device
// that runs either its application firmware or its bootloader (current or
// old), consumes output reports exactly as they arrive on the wire and
// answers through a SimTransport, with the faults its knobs ask for.
//
// As the bootloader it answers INFO with its info text, takes a start
// command (load address, announced length, whole-image checksum), takes
// data blocks strictly in order, checks each block's checksum (CRC-16, or
// XOR-16 as an old bootloader), keeps the bytes, checks the whole image
// after the last one and then restarts into its application. As the
// application it answers INFO and ENTER_BOOT, then restarts into its
// bootloader. Frames no firmware would answer (wrong length, report ID,
// magic, or a command the running firmware does not know) get no reply and
// are counted as protocol violations.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/sim_identity.h"
#include "sim/sim_knobs.h"
#include "sim/sim_transport.h"
#include "sim/sim_verdict.h"

namespace torvane::sim {

// Statuses this device answers with. 0 accepts; 2 (start, blocks) and 1
// (blocks, through a knob) mean busy; the rest refuse.
inline constexpr uint16_t kSimStatusOk = 0;
inline constexpr uint16_t kSimStatusBusy = 2;
inline constexpr uint16_t kSimStatusOutOfOrder = 3;     // block index is not the next one
inline constexpr uint16_t kSimStatusBlockChecksum = 4;  // block checksum does not match
inline constexpr uint16_t kSimStatusBadLength = 5;      // length 0, above 48, beyond the report
                                                        // or beyond the announced length
inline constexpr uint16_t kSimStatusImageChecksum = 6;  // whole-image checksum does not match
inline constexpr uint16_t kSimStatusNotStarted = 7;     // block without an accepted start

// The echo a wrong-echo fault puts into a block reply.
inline constexpr uint16_t kSimWrongEcho = BOOT_CMD_START;

// How long after its last reply a restarting device leaves the bus: the
// firmware finishes sending before it resets.
inline constexpr std::chrono::milliseconds kSimLeaveAfterReply{10};

class BootloaderModel {
 public:
  explicit BootloaderModel(const SimKnobs& knobs);

  BootloaderModel(const BootloaderModel&) = delete;
  BootloaderModel& operator=(const BootloaderModel&) = delete;

  // Where replies go. May be null (replies are then dropped). The transport
  // must outlive the model or be reset to null first; it must not call back
  // into the model.
  void set_transport(SimTransport* transport);

  // One output report as the firmware receives it: without a report-ID byte
  // when the device uses no report IDs, ID byte first when it does.
  void on_output_report(const uint8_t* data, size_t length);

  // The device was plugged in again after an unplug: a transfer in progress
  // is abandoned (the verdict keeps what it received) and frames are
  // answered again.
  void power_on();

  SimDeviceKind kind() const;
  SimIdentity identity() const;   // the identity of the running firmware
  SimVerdict verdict() const;     // a snapshot
  const SimKnobs& knobs() const { return knobs_; }

 private:
  using Clock = std::chrono::steady_clock;

  void violation(std::string what);
  std::vector<uint8_t> reply(uint16_t echo, uint16_t status, const std::string* info) const;
  // Queues a reply behind any reply still on its way; returns its delay.
  std::chrono::microseconds send(std::vector<uint8_t> report, Clock::time_point now,
                                 std::chrono::microseconds extra);
  void restart_into(SimDeviceKind kind, Clock::time_point now, std::chrono::microseconds after);

  void on_info(Clock::time_point now);
  void on_enter_boot(Clock::time_point now);
  void on_start(const uint8_t* frame, Clock::time_point now);
  void on_block(const uint8_t* frame, Clock::time_point now);
  uint16_t take_block(uint32_t index, uint16_t checksum, uint16_t length, const uint8_t* data,
                      bool* finished_ok);

  const SimKnobs knobs_;
  mutable std::mutex mutex_;
  SimTransport* transport_ = nullptr;
  SimDeviceKind kind_;
  bool gone_ = false;                  // unplugged by a fault; deaf until power_on
  Clock::time_point offline_until_{};  // restarting: deaf until then
  Clock::time_point ready_at_{};       // replies go out in order, not before this
  uint64_t replies_sent_ = 0;          // paces the composite collection's reports

  // The running transfer.
  bool in_transfer_ = false;
  uint32_t next_index_ = 0;

  // Fault budgets: each knob fires as often as it says, over the device's life.
  uint32_t busy_start_left_ = 0;
  std::map<uint32_t, std::pair<uint32_t, uint16_t>> busy_left_;  // index -> (count, status)
  std::set<uint32_t> silent_left_;
  std::set<uint32_t> late_left_;
  std::set<uint32_t> wrong_echo_left_;
  bool unplug_armed_ = false;
  bool hang_armed_ = false;
  bool hung_ = false;  // answers nothing until power_on

  SimVerdict verdict_;
};

}  // namespace torvane::sim
