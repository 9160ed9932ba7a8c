// What a simulated device received and what its checks concluded, for tests
// and for the command line's report of a simulated flash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/boot_protocol.h"
#include "sim/sim_identity.h"

namespace torvane::sim {

struct SimVerdict {
  SimDeviceKind kind = SimDeviceKind::kBoot;  // the mode the device runs in now

  // The latest transfer, from its accepted start command on. Kept after the
  // device restarts, so a test can look at a finished flash.
  bool transfer_started = false;   // a start command was accepted
  ChecksumScheme scheme = CHECKSUM_CRC16;
  uint32_t load_address = 0;
  uint32_t announced_length = 0;
  uint32_t announced_checksum = 0;
  uint64_t expected_bytes = 0;     // bytes the announcement calls for
  std::vector<uint8_t> bytes;      // bytes kept, in order
  uint32_t blocks_accepted = 0;
  bool image_checked = false;      // every announced byte arrived and was checked
  bool image_checksum_ok = false;
  bool completed = false;          // checked and found good
  // The serial number read where the `serial-at` knob says, once those
  // bytes arrived (sim_read_serial); empty without the knob or before them.
  std::string serial_number;

  // Counters over the device's life.
  uint32_t frames_received = 0;    // output reports that reached the firmware
  uint32_t protocol_violations = 0;  // frames no firmware answers (length, ID, magic, command)
  uint32_t block_checksum_failures = 0;
  uint32_t image_checksum_failures = 0;
  uint32_t refusals = 0;           // replies with a refusing status
  uint32_t busy_answers = 0;
  uint32_t info_queries = 0;
  uint32_t start_commands = 0;
  uint32_t enter_boot_commands = 0;
  uint32_t data_blocks = 0;
  uint32_t completed_downloads = 0;
  uint32_t restarts = 0;
  std::string last_violation;      // what the latest violation was

  // One line, for logs and test failure messages.
  std::string summary() const;
};

}  // namespace torvane::sim
