// Intel HEX and S-record images: files written by SRecord's own srec_cat
// from a random binary prepare to the same bytes as the binary itself;
// every damaged file is refused with its line; the load address rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "download/firmware_records.h"
#include "download/load_address.h"
#include "download/prepare_image.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TempDir;

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(gen());
  return b;
}

// One Intel HEX record with its checksum.
std::string Ihex(int type, uint16_t address, const Bytes& data) {
  std::string line = ":";
  unsigned sum = 0;
  auto put = [&](unsigned byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
    line += text;
    sum += byte;
  };
  put(static_cast<unsigned>(data.size()));
  put(address >> 8);
  put(address & 0xFF);
  put(static_cast<unsigned>(type));
  for (uint8_t b : data) put(b);
  put(0x100 - (sum & 0xFF));
  return line + "\n";
}
const std::string kEnd = ":00000001FF\n";
std::string Upper(uint16_t high) { return Ihex(4, 0, {static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high)}); }

class FirmwareRecords : public ::testing::Test {
 protected:
  std::string Text(const std::string& name, const std::string& text) {
    return dir_.Write(name, Bytes(text.begin(), text.end()));
  }
  TempDir dir_;
};

TEST_F(FirmwareRecords, SrecCatFilesPrepareLikeTheRawBinary) {
  const Bytes data = RandomBytes(20001, 7);
  const std::string raw = dir_.Write("app.bin", data);
  PreparedImage expected;
  ASSERT_TRUE(PrepareImage({raw, ""}, CHECKSUM_CRC16, &expected));
  struct Case {
    const char* name;
    const char* format;
    uint32_t offset;
  };
  for (const Case& c : {Case{"a.hex", "-intel", 0x1000}, Case{"b.hex", "-intel -address-length=4", 0x08001000},
                        Case{"c.s19", "-motorola -address-length=2", 0x1000},
                        Case{"d.s28", "-motorola -address-length=3", 0x20000},
                        Case{"e.s37", "-motorola -address-length=4", 0x08001000},
                        Case{"no-extension", "-motorola", 0x1000}}) {
    const std::string file = dir_.path() + "/" + c.name;
    char offset[16];
    std::snprintf(offset, sizeof offset, "0x%X", c.offset);
    const std::string command = std::string(TORVANE_SREC_CAT) + " " + raw + " -binary -offset " + offset +
                                " -o " + file + " " + c.format;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    PreparedImage image;
    std::string error;
    ASSERT_TRUE(PrepareImage({file, ""}, CHECKSUM_CRC16, &image, &error)) << c.name << ": " << error;
    EXPECT_EQ(image.buffer, Bytes(expected.buffer.begin(), expected.buffer.end())) << c.name;
    EXPECT_EQ(image.start_checksum, expected.start_checksum) << c.name;
    EXPECT_EQ(image.file_load_address, c.offset) << c.name;
  }
  EXPECT_EQ(expected.file_load_address, std::nullopt);
}

TEST_F(FirmwareRecords, GapsAreFilledAndEqualOverlapsAccepted) {
  const std::string text = Ihex(0, 0x1000, {1, 2}) + Ihex(0, 0x1005, {6}) + Ihex(0, 0x1001, {2}) + kEnd;
  MemoryRecordText file(text);
  RecordImage image;
  RecordError error;
  ASSERT_TRUE(ReadRecordImage(file, ImageFormat::IntelHex, &image, &error)) << error.message;
  EXPECT_EQ(image.load_address, 0x1000u);
  EXPECT_EQ(image.bytes, (Bytes{1, 2, 0xFF, 0xFF, 0xFF, 6}));
}

TEST_F(FirmwareRecords, DamagedFilesAreRefusedWithTheirLine) {
  const std::string good = Ihex(0, 0x1000, {1, 2, 3, 4});
  std::string bad_sum = good;
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == '0' ? '1' : '0';
  struct Case {
    const char* name;
    std::string text;
    const char* reason;
  };
  const Case cases[] = {
      {"sum.hex", good + bad_sum + kEnd, "第 2 行: 校验和错误"},
      {"digit.hex", good + ":0410000001020Z0400\n" + kEnd, "第 2 行: 记录格式错误"},
      {"stray.hex", good + "hello\n" + kEnd, "第 2 行"},
      {"truncated.hex", good, "no end-of-file"},
      {"empty.hex", kEnd, "no data"},
      {"overlap.hex", good + Ihex(0, 0x1002, {3, 9}) + kEnd, "第 2 行: 地址 0x00001003"},
      {"above4g.s37", "S30AFFFFFFFE0102030405EB\n", "第 1 行: 数据超出 4 GiB"},
      {"wraps.hex", Upper(0xFFFF) + Ihex(0, 0xFFFE, {1, 2, 3, 4}) + kEnd, "第 2 行: 数据超出 4 GiB"},
      {"span.hex", good + Upper(0x0500) + Ihex(0, 0, {1}) + kEnd, "64 MiB"},
      {"sum.s19", "S1071000010203040E\n", "第 1 行: 校验和错误"},
      {"binary.hex", std::string("\x7f" "ELF\x01\x02", 6), "第 "},
  };
  for (const Case& c : cases) {
    PreparedImage out;
    std::string error;
    EXPECT_FALSE(PrepareImage({Text(c.name, c.text), ""}, CHECKSUM_CRC16, &out, &error)) << c.name;
    EXPECT_TRUE(out.buffer.empty());
    EXPECT_NE(error.find(std::string("'") + dir_.path() + "/" + c.name + "': "), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
  }
}

TEST_F(FirmwareRecords, FormatIsTakenFromTheContentFirst) {
  struct Case {
    const char* name;
    std::string head;
    ImageFormat format;
  };
  const Case cases[] = {
      {"a.bin", ":10000000000102030405060708090A0B0C0D0E0F78\r\n", ImageFormat::IntelHex},
      {"a.bin", "S00600004844521B\n", ImageFormat::SRecord},
      {"a.BIN", ":1000", ImageFormat::Raw},         // too short to be a record
      {"a.bin", ":10000000zz", ImageFormat::Raw},  // not hex digits
      {"a.HEX", "\x01\x02", ImageFormat::IntelHex},
      {"a.mot", "\x01\x02", ImageFormat::SRecord},
      {"a.bin", "\x01\x02", ImageFormat::Raw},
  };
  for (const Case& c : cases) {
    const auto* head = reinterpret_cast<const uint8_t*>(c.head.data());
    EXPECT_EQ(DetectImageFormat(c.name, head, c.head.size()), c.format) << c.name << " " << c.head;
  }
}

TEST(LoadAddress, FileAddressMustAgreeUnlessTold) {
  using Kind = LoadAddressChoice::Kind;
  struct Case {
    LoadAddressChoice choice;
    std::optional<uint32_t> file;
    bool ok;
    uint32_t address;
  };
  const Case cases[] = {
      {{Kind::Settings, 0}, std::nullopt, true, 0x1000},  {{Kind::Settings, 0}, 0x1000, true, 0x1000},
      {{Kind::Settings, 0}, 0x2000, false, 0},           {{Kind::FromFile, 0}, 0x2000, true, 0x2000},
      {{Kind::FromFile, 0}, std::nullopt, true, 0x1000},  {{Kind::Given, 0x3000}, std::nullopt, true, 0x3000},
      {{Kind::Given, 0x3000}, 0x3000, true, 0x3000},      {{Kind::Given, 0x3000}, 0x2000, false, 0},
  };
  for (const Case& c : cases) {
    uint32_t address = 0;
    std::string error;
    EXPECT_EQ(ResolveLoadAddress(c.choice, 0x1000, c.file, 0x100, &address, &error), c.ok);
    if (c.ok) {
      EXPECT_EQ(address, c.address);
    } else {  // the refusal names both addresses
      EXPECT_NE(error.find("0x00002000"), std::string::npos) << error;
      EXPECT_NE(error.find(c.choice.kind == Kind::Given ? "0x00003000" : "0x00001000"), std::string::npos) << error;
    }
  }
  // An image reaching beyond 4 GiB from its address is refused, whichever
  // way the address was chosen; one ending exactly at 4 GiB fits.
  struct Fit {
    LoadAddressChoice choice;
    std::optional<uint32_t> file;
    uint32_t length;
    bool ok;
  };
  for (const Fit& f : {Fit{{Kind::Given, 0xFFFFFF00}, std::nullopt, 0x100, true},
                       Fit{{Kind::Given, 0xFFFFFF00}, std::nullopt, 0x104, false},
                       Fit{{Kind::FromFile, 0}, 0xFFFFFFFC, 8, false}, Fit{{Kind::Settings, 0}, std::nullopt, 0, true},
                       Fit{{Kind::FromFile, 0}, std::nullopt, 0xFFFFF000, true},
                       Fit{{Kind::Settings, 0}, std::nullopt, 0xFFFFF004, false}}) {
    uint32_t address = 0;
    std::string error;
    EXPECT_EQ(ResolveLoadAddress(f.choice, 0x1000, f.file, f.length, &address, &error), f.ok) << f.length;
    if (!f.ok) {
      EXPECT_NE(error.find("4 GiB"), std::string::npos) << error;
    }
  }
  LoadAddressChoice choice;
  for (const char* bad : {"", "0x", "-1", "12g", "100000000", "auto2"}) EXPECT_FALSE(ParseLoadAddressChoice(bad, &choice)) << bad;
  ASSERT_TRUE(ParseLoadAddressChoice("0x0800F000", &choice));
  EXPECT_EQ(choice.kind, Kind::Given);
  EXPECT_EQ(choice.given, 0x0800F000u);
  ASSERT_TRUE(ParseLoadAddressChoice("auto", &choice));
  EXPECT_EQ(choice.kind, Kind::FromFile);
}

}  // namespace
}  // namespace torvane
