// Printable summary of a simulated device's verdict.
#include "sim/sim_verdict.h"

#include <cinttypes>
#include <cstdio>

namespace torvane::sim {

std::string SimVerdict::summary() const {
  const char* image = !image_checked ? "unchecked" : image_checksum_ok ? "ok" : "BAD";
  char line[512];
  std::snprintf(line, sizeof line,
                "%s: %s scheme=%s addr=0x%08" PRIX32 " len=%" PRIu32 " sum=0x%08" PRIX32
                " bytes=%zu/%" PRIu64 " blocks=%" PRIu32 " image=%s frames=%" PRIu32
                " block-checksum-failures=%" PRIu32 " refusals=%" PRIu32 " busy=%" PRIu32
                " violations=%" PRIu32 " downloads=%" PRIu32 " restarts=%" PRIu32,
                sim_kind_name(kind),
                completed          ? "COMPLETED"
                : image_checked    ? "IMAGE-REFUSED"
                : transfer_started ? "in-transfer"
                                   : "no-transfer",
                scheme == CHECKSUM_XOR ? "xor" : "crc16", load_address, announced_length,
                announced_checksum, bytes.size(), expected_bytes, blocks_accepted, image,
                frames_received, block_checksum_failures, refusals, busy_answers,
                protocol_violations, completed_downloads, restarts);
  std::string out = line;
  if (!serial_number.empty()) out += " serial=" + serial_number;
  if (!last_violation.empty()) out += " last-violation=\"" + last_violation + "\"";
  return out;
}

}  // namespace torvane::sim
