// A unit's own copy of the prepared image with its serial number written
// in, and the start command's length and checksum made to match.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/boot_protocol.h"
#include "download/prepare_image.h"

namespace torvane {

// Copies `base` into `*out` with `bytes` written at `offset` of the buffer
// (header included). `base` must have been prepared with `scheme`; the
// start checksum is updated from the bytes that changed rather than summed
// again, so the cost is the copy. Refuses (false, reason in *error, *out
// untouched) bytes that do not lie wholly inside the buffer and a base
// whose start length does not belong to `scheme`.
bool PatchSerial(const PreparedImage& base, uint32_t offset, const std::vector<uint8_t>& bytes,
                 ChecksumScheme scheme, PreparedImage* out, std::string* error);

}  // namespace torvane
