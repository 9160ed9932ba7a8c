#include "sim/sim_serial.h"

#include <algorithm>

#include "text/hex_text.h"

namespace torvane::sim {

namespace {

bool ParseNumber(std::string_view text, int base, uint64_t max, uint64_t* out) {
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    const int digit = c >= '0' && c <= '9'                ? c - '0'
                      : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                           : -1;
    if (digit < 0) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > max) return false;
  }
  *out = value;
  return true;
}

bool IsDigitOf(SimSerialFormat format, uint8_t c) {
  if (c >= '0' && c <= '9') return true;
  return format == SimSerialFormat::kHex && ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'));
}

}  // namespace

bool parse_sim_serial_at(std::string_view value, SimSerialAt* out, std::string* error) {
  const auto bad = [&](const std::string& why) {
    *error = "knob 'serial-at' needs ADDR:WIDTH:FORMAT[:PREFIX] (hex address; le or be, 1..8 bytes; dec or hex, "
             "prefix included, up to " + std::to_string(kSimMaxSerialWidth) + "): " + why + ", got '" +
             std::string(value) + "'";
    return false;
  };
  std::string_view parts[3];
  std::string_view rest = value;
  for (auto& part : parts) {
    const size_t colon = rest.find(':');
    part = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (colon == std::string_view::npos && &part != &parts[2]) return bad("too few fields");
  }
  const bool has_prefix = parts[2].data() + parts[2].size() != value.data() + value.size();
  SimSerialAt at;
  uint64_t n = 0;
  if (!ParseNumber(parts[0], 16, UINT32_MAX, &n)) return bad("bad address");
  at.address = static_cast<uint32_t>(n);
  if (!ParseNumber(parts[1], 10, kSimMaxSerialWidth, &n) || n == 0) return bad("bad width");
  at.width = static_cast<uint32_t>(n);
  if (parts[2] == "le") {
    at.format = SimSerialFormat::kLittle;
  } else if (parts[2] == "be") {
    at.format = SimSerialFormat::kBig;
  } else if (parts[2] == "dec") {
    at.format = SimSerialFormat::kDecimal;
  } else if (parts[2] == "hex") {
    at.format = SimSerialFormat::kHex;
  } else {
    return bad("unknown format");
  }
  const bool binary = at.format == SimSerialFormat::kLittle || at.format == SimSerialFormat::kBig;
  if (binary && (at.width > 8 || has_prefix)) return bad("a binary serial has 1..8 bytes and no prefix");
  if (has_prefix) {
    at.prefix = std::string(rest);
    const bool printable = std::all_of(at.prefix.begin(), at.prefix.end(), [](char c) { return c >= ' ' && c < 0x7F; });
    if (at.prefix.empty() || !printable || at.prefix.size() >= at.width) {
      return bad("the prefix must be printable ASCII and leave room for a digit");
    }
  }
  *out = std::move(at);
  return true;
}

std::string format_sim_serial_at(const SimSerialAt& at) {
  static const char* const kNames[] = {"le", "be", "dec", "hex"};
  std::string text = HexDigits(at.address, 8) + ":" + std::to_string(at.width) + ":" +
                     kNames[static_cast<int>(at.format)];
  if (!at.prefix.empty()) text += ":" + at.prefix;
  return text;
}

std::string sim_read_serial(const SimSerialAt& at, uint32_t load_address, const std::vector<uint8_t>& received) {
  if (at.address < load_address) return "";
  const uint64_t offset = at.address - load_address;
  if (offset + at.width > received.size()) return "";
  const uint8_t* bytes = received.data() + offset;
  if (at.format == SimSerialFormat::kLittle || at.format == SimSerialFormat::kBig) {
    uint64_t value = 0;
    for (uint32_t i = 0; i < at.width; ++i) {
      const uint8_t byte = bytes[at.format == SimSerialFormat::kLittle ? at.width - 1 - i : i];
      value = (value << 8) | byte;
    }
    return std::to_string(value);
  }
  const std::string text(bytes, bytes + at.width);
  const bool readable = text.compare(0, at.prefix.size(), at.prefix) == 0 &&
                        std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at.prefix.size()), text.end(),
                                    [&](char c) { return IsDigitOf(at.format, static_cast<uint8_t>(c)); });
  if (readable) return text;
  std::string unreadable = "?";
  for (uint32_t i = 0; i < at.width; ++i) unreadable += HexDigits(bytes[i], 2);
  return unreadable;
}

}  // namespace torvane::sim
