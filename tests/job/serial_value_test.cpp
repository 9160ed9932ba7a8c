#include "job/serial_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace torvane {
namespace {

SerialPlan Counter(SerialFormat format, uint32_t width, uint64_t start, uint64_t step,
                   std::optional<uint64_t> last = std::nullopt, std::string prefix = "") {
  SerialPlan plan;
  plan.format = format;
  plan.width = width;
  plan.start = start;
  plan.step = step;
  plan.last = last;
  plan.prefix = std::move(prefix);
  return plan;
}

SerialPlan List(SerialFormat format, uint32_t width, std::vector<std::string> values, std::string prefix = "") {
  SerialPlan plan;
  plan.format = format;
  plan.width = width;
  plan.prefix = std::move(prefix);
  plan.list_path = "serials.txt";
  plan.list_values = std::move(values);
  return plan;
}

TEST(SerialValue, CountAndValues) {
  using F = SerialFormat;
  struct Case {
    const char* name;
    SerialPlan plan;
    uint64_t count;
    uint64_t index;
    const char* text;                // nullptr: SerialAt refuses the index
    std::vector<uint8_t> bytes;
  };
  const uint64_t kMax = UINT64_MAX;
  const Case cases[] = {
      {"le counter", Counter(F::kBinaryLittle, 4, 1000, 1, 1999), 1000, 0, "1000", {0xE8, 0x03, 0, 0}},
      {"be counter stepped", Counter(F::kBinaryBig, 2, 10, 5, 30), 5, 4, "30", {0x00, 0x1E}},
      {"past the last", Counter(F::kBinaryBig, 2, 10, 5, 30), 5, 5, nullptr, {}},
      {"1 byte up to the format", Counter(F::kBinaryLittle, 1, 250, 1), 6, 5, "255", {0xFF}},
      {"8 bytes whole range", Counter(F::kBinaryLittle, 8, 0, 1), kMax, kMax - 1, "18446744073709551614",
       {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"dec with prefix", Counter(F::kAsciiDecimal, 8, 1000, 1, std::nullopt, "SN"), 999000, 0, "SN001000",
       {'S', 'N', '0', '0', '1', '0', '0', '0'}},
      {"dec at its limit", Counter(F::kAsciiDecimal, 3, 990, 3), 4, 3, "999", {'9', '9', '9'}},
      {"hex upper case", Counter(F::kAsciiHex, 4, 0xABC, 1, 0xFFF), 0x544, 1, "0ABD", {'0', 'A', 'B', 'D'}},
      {"20 decimal digits", Counter(F::kAsciiDecimal, 20, 0, 1), kMax, 0, "00000000000000000000",
       std::vector<uint8_t>(20, '0')},
      {"step 0", Counter(F::kBinaryLittle, 4, 1, 0), 0, 0, nullptr, {}},
      {"start beyond the format", Counter(F::kBinaryLittle, 1, 256, 1), 0, 0, nullptr, {}},
      {"prefix fills the width", Counter(F::kAsciiDecimal, 2, 0, 1, std::nullopt, "SN"), 0, 0, nullptr, {}},
      {"binary 9 bytes", Counter(F::kBinaryLittle, 9, 0, 1), 0, 0, nullptr, {}},
      {"list dec as given", List(F::kAsciiDecimal, 5, {"SN007", "SN123"}, "SN"), 2, 1, "SN123",
       {'S', 'N', '1', '2', '3'}},
      {"list hex keeps case", List(F::kAsciiHex, 3, {"a0F"}), 1, 0, "a0F", {'a', '0', 'F'}},
      {"list binary hex number", List(F::kBinaryBig, 2, {"0x1F2"}), 1, 0, "498", {0x01, 0xF2}},
      {"list value too wide", List(F::kBinaryBig, 1, {"256"}), 1, 0, nullptr, {}},
      {"list value short", List(F::kAsciiDecimal, 4, {"123"}), 1, 0, nullptr, {}},
      {"list value not digits", List(F::kAsciiDecimal, 3, {"12A"}), 1, 0, nullptr, {}},
      {"list without its prefix", List(F::kAsciiDecimal, 4, {"XX12"}, "SN"), 1, 0, nullptr, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SerialCount(c.plan), c.count);
    std::string text = "untouched";
    std::vector<uint8_t> bytes;
    const bool ok = SerialAt(c.plan, c.index, &text, &bytes);
    ASSERT_EQ(ok, c.text != nullptr);
    if (!ok) continue;
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(bytes, c.bytes);
  }
}

TEST(SerialValue, ListNumbers) {
  const struct {
    const char* text;
    bool ok;
    uint64_t value;
  } cases[] = {
      {"0", true, 0},   {"18446744073709551615", true, UINT64_MAX}, {"18446744073709551616", false, 0},
      {"0xff", true, 255}, {"0x", false, 0}, {"", false, 0}, {"-1", false, 0}, {" 1", false, 0},
      {"12a", false, 0},
  };
  for (const auto& c : cases) {
    uint64_t value = 7;
    EXPECT_EQ(ParseSerialNumber(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace torvane
