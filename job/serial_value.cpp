#include "job/serial_value.h"

#include <limits>

namespace torvane {
namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

bool IsDigitOf(SerialFormat format, char c) {
  if (c >= '0' && c <= '9') return true;
  return format == SerialFormat::kAsciiHex && ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'));
}

std::string Digits(uint64_t value, int base, size_t digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % base]);
    value /= base;
  } while (value != 0);
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return text;
}

}  // namespace

bool IsBinarySerialFormat(SerialFormat format) {
  return format == SerialFormat::kBinaryLittle || format == SerialFormat::kBinaryBig;
}

const char* SerialFormatName(SerialFormat format) {
  switch (format) {
    case SerialFormat::kBinaryLittle: return "le";
    case SerialFormat::kBinaryBig: return "be";
    case SerialFormat::kAsciiDecimal: return "dec";
    case SerialFormat::kAsciiHex: return "hex";
  }
  return "?";
}

bool SerialFormatLimit(SerialFormat format, uint32_t width, size_t prefix_length, uint64_t* limit) {
  if (IsBinarySerialFormat(format)) {
    if (width == 0 || width > 8) return false;
    *limit = width == 8 ? kMax : (uint64_t{1} << (8 * width)) - 1;
    return true;
  }
  if (width <= prefix_length) return false;
  const size_t digits = width - prefix_length;
  const uint64_t base = format == SerialFormat::kAsciiHex ? 16 : 10;
  uint64_t value = 1;
  for (size_t i = 0; i < digits; ++i) {
    if (value > kMax / base) {  // base^digits - 1 is beyond 64 bits
      *limit = kMax;
      return true;
    }
    value *= base;
  }
  *limit = value - 1;
  return true;
}

uint64_t SerialCount(const SerialPlan& plan) {
  if (!plan.list_path.empty()) return plan.list_values.size();
  uint64_t limit = 0;
  if (plan.step == 0 || !SerialFormatLimit(plan.format, plan.width, plan.prefix.size(), &limit)) return 0;
  if (plan.last && *plan.last < limit) limit = *plan.last;
  if (plan.start > limit) return 0;
  const uint64_t steps = (limit - plan.start) / plan.step;
  return steps == kMax ? kMax : steps + 1;
}

bool ParseSerialNumber(const std::string& text, uint64_t* value) {
  int base = 10;
  size_t at = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    at = 2;
  }
  if (at == text.size()) return false;
  uint64_t result = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    if (result > (kMax - digit) / base) return false;
    result = result * base + digit;
  }
  *value = result;
  return true;
}

bool SerialListValueFits(const SerialPlan& plan, const std::string& value, std::string* why) {
  uint64_t limit = 0;
  if (!SerialFormatLimit(plan.format, plan.width, plan.prefix.size(), &limit)) {
    *why = "the format holds no value in " + std::to_string(plan.width) + " bytes";
    return false;
  }
  if (IsBinarySerialFormat(plan.format)) {
    uint64_t number = 0;
    if (!ParseSerialNumber(value, &number)) {
      *why = "\"" + value + "\" is not a number (decimal, or hex after 0x)";
      return false;
    }
    if (number > limit) {
      *why = value + " does not fit in " + std::to_string(plan.width) + " bytes";
      return false;
    }
    return true;
  }
  // ASCII formats write the value as given: the prefix, then exactly the
  // digits the width leaves.
  if (value.size() != plan.width || value.compare(0, plan.prefix.size(), plan.prefix) != 0) {
    *why = "\"" + value + "\" is not " + (plan.prefix.empty() ? "" : "\"" + plan.prefix + "\" and ") +
           std::to_string(plan.width - plan.prefix.size()) + " digits";
    return false;
  }
  for (size_t i = plan.prefix.size(); i < value.size(); ++i) {
    if (!IsDigitOf(plan.format, value[i])) {
      *why = "\"" + value + "\" has a character that is not a " +
             (plan.format == SerialFormat::kAsciiHex ? "hex" : "decimal") + " digit";
      return false;
    }
  }
  return true;
}

bool SerialAt(const SerialPlan& plan, uint64_t index, std::string* text, std::vector<uint8_t>* bytes) {
  if (index >= SerialCount(plan)) return false;
  uint64_t value = 0;
  std::string shown;
  if (!plan.list_path.empty()) {
    const std::string& given = plan.list_values[index];
    std::string why;
    if (!SerialListValueFits(plan, given, &why)) return false;
    if (IsBinarySerialFormat(plan.format)) ParseSerialNumber(given, &value);
    else shown = given;
  } else {
    value = plan.start + index * plan.step;  // within the limit: index < SerialCount
    if (!IsBinarySerialFormat(plan.format)) {
      shown = plan.prefix + Digits(value, plan.format == SerialFormat::kAsciiHex ? 16 : 10,
                                   plan.width - plan.prefix.size());
    }
  }
  if (IsBinarySerialFormat(plan.format)) {
    if (text) *text = std::to_string(value);
    if (bytes) {
      bytes->assign(plan.width, 0);
      for (uint32_t i = 0; i < plan.width; ++i) {
        const uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        (*bytes)[plan.format == SerialFormat::kBinaryLittle ? i : plan.width - 1 - i] = byte;
      }
    }
    return true;
  }
  if (shown.size() != plan.width) return false;
  if (bytes) bytes->assign(shown.begin(), shown.end());
  if (text) *text = std::move(shown);
  return true;
}

}  // namespace torvane
