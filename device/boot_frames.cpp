// Serialisation helpers of the boot protocol: start parameters and the text
// of an info record.
#include <algorithm>

#include "device/boot_protocol.h"

namespace torvane {

std::array<uint8_t, BOOT_START_PARAMS_SIZE> boot_pack_start_params(const BootStartParams& params) {
  std::array<uint8_t, BOOT_START_PARAMS_SIZE> bytes{};
  boot_put_u32(bytes.data() + 0, params.load_address);
  boot_put_u32(bytes.data() + 4, params.length);
  boot_put_u32(bytes.data() + 8, params.checksum);
  return bytes;
}

std::string boot_info_text(const BootInfo& info) {
  // The text ends at the first NUL; a record without one is all 48 bytes
  // (never more: nothing past the record is read).
  const auto end = std::find(info.bytes.begin(), info.bytes.end(), uint8_t{0});
  return std::string(info.bytes.begin(), end);
}

}  // namespace torvane
