// Where a simulated bootloader finds the serial number in the image it
// receives and how it reads it, as the knob `serial-at=ADDR:WIDTH:FORMAT
// [:PREFIX]` gives it: ADDR is a device address (hex), the serial's first
// byte lies ADDR minus the start command's load address into the bytes
// received; WIDTH bytes in FORMAT le or be (binary, shown in decimal), dec
// or hex (ASCII digits after PREFIX, PREFIX counted in WIDTH).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::sim {

enum class SimSerialFormat { kLittle, kBig, kDecimal, kHex };

struct SimSerialAt {
  uint32_t address = 0;
  uint32_t width = 0;
  SimSerialFormat format = SimSerialFormat::kLittle;
  std::string prefix;  // dec and hex only

  bool operator==(const SimSerialAt&) const = default;
};

// Widest ASCII serial a device reads.
inline constexpr uint32_t kSimMaxSerialWidth = 64;

// Reads ADDR:WIDTH:FORMAT[:PREFIX]; false with a reason in *error.
bool parse_sim_serial_at(std::string_view value, SimSerialAt* out, std::string* error);
// The knob's value, as parse_sim_serial_at reads it.
std::string format_sim_serial_at(const SimSerialAt& at);

// The serial in `received` (the bytes of a transfer that began at
// `load_address`): empty when those bytes have not all arrived (or lie
// outside the image); a binary one in decimal; an ASCII one as its text; bytes
// that are not what FORMAT and PREFIX say as "?" and their hex digits.
std::string sim_read_serial(const SimSerialAt& at, uint32_t load_address, const std::vector<uint8_t>& received);

}  // namespace torvane::sim
