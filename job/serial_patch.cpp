#include "job/serial_patch.h"

#include <array>
#include <utility>

namespace torvane {

namespace {

uint16_t Swap(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

// The CRC register is linear in the bytes it has taken: two runs over
// messages of one length differ by the run from a zero register over the
// messages' difference. A run over n zero bytes is a 16x16 bit matrix, held
// as the images of the 16 unit vectors, and raised to n by squaring.
using BitMatrix = std::array<uint16_t, 16>;

uint16_t Apply(const BitMatrix& m, uint16_t v) {
  uint16_t r = 0;
  for (int bit = 0; v != 0; ++bit, v = static_cast<uint16_t>(v >> 1)) {
    if (v & 1) r ^= m[bit];
  }
  return r;
}

BitMatrix Compose(const BitMatrix& outer, const BitMatrix& inner) {
  BitMatrix r{};
  for (int bit = 0; bit < 16; ++bit) r[bit] = Apply(outer, inner[bit]);
  return r;
}

// The register after `zeros` zero bytes, from `reg` (register order, not
// the exchanged order boot_crc16 returns).
BitMatrix OneZeroByte() {
  const uint8_t zero = 0;
  BitMatrix step{};
  for (int bit = 0; bit < 16; ++bit) {
    step[bit] = Swap(boot_crc16_update(Swap(static_cast<uint16_t>(1u << bit)), &zero, 1));
  }
  return step;
}

uint16_t AdvanceOverZeros(uint16_t reg, uint64_t zeros) {
  static const BitMatrix kOneZeroByte = OneZeroByte();
  BitMatrix step = kOneZeroByte;
  for (; zeros != 0; zeros >>= 1) {
    if (zeros & 1) reg = Apply(step, reg);
    if (zeros > 1) step = Compose(step, step);
  }
  return reg;
}

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

}  // namespace

bool PatchSerial(const PreparedImage& base, uint32_t offset, const std::vector<uint8_t>& bytes,
                 ChecksumScheme scheme, PreparedImage* out, std::string* error) {
  if (out == nullptr) return Fail(error, "no place for the patched image");
  const uint64_t end = uint64_t{offset} + bytes.size();
  if (base.buffer.size() != base.total_length || end > base.total_length) {
    return Fail(error, "the serial's " + std::to_string(bytes.size()) + " bytes at offset " + std::to_string(offset) +
                           " do not lie inside the image's " + std::to_string(base.total_length) + " bytes");
  }
  const bool xor_scheme = scheme == CHECKSUM_XOR;
  const uint32_t covered_from = xor_scheme ? 0 : kCrcUncoveredPrefix;
  const uint32_t covered_to = xor_scheme ? base.image_length : base.total_length;
  if ((xor_scheme && (base.header_length != 0 || base.start_length != base.image_length)) ||
      (!xor_scheme && (base.total_length < kCrcUncoveredPrefix ||
                       base.start_length != base.total_length - kCrcUncoveredPrefix))) {
    return Fail(error, "the image was prepared for the other checksum scheme");
  }

  std::vector<uint8_t> copy(base.buffer.begin(), base.buffer.end());
  uint32_t checksum = base.start_checksum;
  uint16_t delta_reg = 0;  // CRC register of the difference, from the first covered change on
  uint32_t last_changed = 0;
  bool changed = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint32_t at = offset + static_cast<uint32_t>(i);
    const uint8_t delta = copy[at] ^ bytes[i];
    copy[at] = bytes[i];
    if (at < covered_from || at >= covered_to) continue;
    if (xor_scheme) {
      checksum ^= uint32_t{delta} << (8 * (at % 4));
      continue;
    }
    if (changed) delta_reg = AdvanceOverZeros(delta_reg, at - last_changed - 1);
    delta_reg = Swap(boot_crc16_update(Swap(delta_reg), &delta, 1));
    last_changed = at;
    changed = true;
  }
  if (changed) {
    delta_reg = AdvanceOverZeros(delta_reg, covered_to - 1 - last_changed);
    checksum = Swap(static_cast<uint16_t>(Swap(static_cast<uint16_t>(checksum)) ^ delta_reg));
  }

  PreparedImage result;
  result.buffer.assign_padded(std::move(copy), base.total_length);
  result.header_length = base.header_length;
  result.image_length = base.image_length;
  result.total_length = base.total_length;
  result.start_length = base.start_length;
  result.start_checksum = checksum;
  result.file_load_address = base.file_load_address;
  *out = std::move(result);
  return true;
}

}  // namespace torvane
