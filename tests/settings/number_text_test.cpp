#include "settings/number_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace torvane {
namespace {

struct HexCase {
  std::string text;
  uint32_t expected;
};

TEST(ParseHexU32, FollowsThe32BitUnsignedConversion) {
  const HexCase cases[] = {
      {"", 0},
      {"zz", 0},                    // no digit
      {"0x1A2B", 0x1A2B},
      {"0X1a2b", 0x1A2B},
      {"1a2b", 0x1A2B},
      {"12345", 0x12345},
      {"abcdef", 0xABCDEF},
      {"12g4", 0x12},               // stops at the first non-digit
      {"  \t\r\n\v\f1F", 0x1F},     // leading white space
      {"+ff", 0xFF},
      {"0x", 0},                    // the "0" alone converts
      {"0xg", 0},
      {"0x0x1", 0},
      {"- 1", 0},                   // no blank between sign and digits
      {"--1", 0},
      {"x1", 0},
      {"FFFFFFFF", 0xFFFFFFFF},
      {"0000000000000000000000001", 1},  // leading zeros never overflow
      {"100000000", 0xFFFFFFFF},    // beyond 32 bits saturates
      {"123456789ABCDEF", 0xFFFFFFFF},
      {"-1", 0xFFFFFFFF},           // minus negates modulo 2^32
      {"-0x10", 0xFFFFFFF0},
      {"-FFFFFFFF", 1},
      {"-80000000", 0x80000000},
      {"-100000000", 0xFFFFFFFF},   // overflow wins over the sign
      {"1 2", 1},
      {"\xEF\xBC\x91", 0},          // full-width digit one is not a digit
  };
  for (const HexCase& c : cases) {
    EXPECT_EQ(ParseHexU32(c.text), c.expected) << "text: \"" << c.text << "\"";
  }
}

TEST(ParseHexU32, StopsAtEmbeddedNulAndViewEnd) {
  const std::string with_nul("12\0" "34", 5);
  EXPECT_EQ(ParseHexU32(with_nul), 0x12u);
  const std::string_view prefix = std::string_view("ABCD").substr(0, 2);
  EXPECT_EQ(ParseHexU32(prefix), 0xABu);
  EXPECT_EQ(ParseHexU32(std::string_view("0x", 1)), 0u);
}

TEST(ParseDecI32, FollowsThe32BitSignedConversion) {
  EXPECT_EQ(ParseDecI32(""), 0);
  EXPECT_EQ(ParseDecI32("1"), 1);
  EXPECT_EQ(ParseDecI32("-1"), -1);
  EXPECT_EQ(ParseDecI32(" \t+7"), 7);
  EXPECT_EQ(ParseDecI32("1abc"), 1);
  EXPECT_EQ(ParseDecI32("0x1"), 0);   // no prefix in base 10
  EXPECT_EQ(ParseDecI32("on"), 0);
  EXPECT_EQ(ParseDecI32("-"), 0);
  EXPECT_EQ(ParseDecI32("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseDecI32("2147483648"), INT32_MAX);
  EXPECT_EQ(ParseDecI32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseDecI32("-2147483649"), INT32_MIN);
  EXPECT_EQ(ParseDecI32("99999999999999999999999"), INT32_MAX);
  EXPECT_EQ(ParseDecI32("-99999999999999999999999"), INT32_MIN);
  EXPECT_EQ(ParseDecI32("0000000000000000000042"), 42);
}

TEST(FormatNumber, WritesEveryBase) {
  EXPECT_EQ(FormatNumber(0, 2), "0");
  EXPECT_EQ(FormatNumber(5, 2), "101");
  EXPECT_EQ(FormatNumber(0x80000000u, 2), "1" + std::string(31, '0'));
  EXPECT_EQ(FormatNumber(0xFFFFFFFFu, 2), std::string(32, '1'));
  EXPECT_EQ(FormatNumber(8, 8), "10");
  EXPECT_EQ(FormatNumber(0, 8), "0");
  EXPECT_EQ(FormatNumber(0xFFFFFFFFu, 8), "37777777777");
  EXPECT_EQ(FormatNumber(255, 16), "FF");
  EXPECT_EQ(FormatNumber(0x534, 16), "534");   // no leading zeros
  EXPECT_EQ(FormatNumber(0, 16), "0");
  EXPECT_EQ(FormatNumber(0xFFFFFFFFu, 16), "FFFFFFFF");
  EXPECT_EQ(FormatNumber(7, 10), "7");
  EXPECT_EQ(FormatNumber(0xFFFFFFFFu, 10), "4294967295");
  // Any other base is decimal.
  EXPECT_EQ(FormatNumber(1234, 0), "1234");
  EXPECT_EQ(FormatNumber(1234, 3), "1234");
  EXPECT_EQ(FormatNumber(1234, -16), "1234");
  EXPECT_EQ(FormatNumber(1234, 36), "1234");
}

TEST(FormatNumber, BufferFormTerminatesAndReportsLength) {
  char buffer[kFormatNumberBufferSize + 8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(FormatNumber(0xFFFFFFFFu, 2, buffer), 32u);
  EXPECT_EQ(std::string(buffer), std::string(32, '1'));
  // Nothing is written beyond the terminator.
  EXPECT_EQ(buffer[33], '#');

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(FormatNumber(0xABCu, 16, buffer), 3u);
  EXPECT_STREQ(buffer, "ABC");
  EXPECT_EQ(FormatNumber(1, 10, nullptr), 0u);
}

}  // namespace
}  // namespace torvane
