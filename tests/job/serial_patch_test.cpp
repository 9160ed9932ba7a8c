#include "job/serial_patch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "download/transfer_engine.h"
#include "sim/sim_bus.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

PreparedImage Prepare(const std::string& image, const std::string& header, ChecksumScheme scheme) {
  PreparedImage prepared;
  std::string error;
  EXPECT_TRUE(PrepareImage({image, header}, scheme, &prepared, &error)) << error;
  return prepared;
}

// Patching a prepared image gives what preparing an image that already
// holds the serial gives: the same bytes, length and checksum.
TEST(SerialPatch, EqualsPreparingThePatchedFile) {
  testing::TempDir dir;
  const Bytes image = testing::PatternBytes(4098);  // padded to 4100
  const Bytes header = testing::PatternBytes(20, 99);
  const Bytes serial = {'S', 'N', '0', '0', '1', '0', '0', '7'};
  struct Case {
    ChecksumScheme scheme;
    bool with_header;
    uint32_t offset;  // in the buffer
    Bytes bytes;
  };
  const Case cases[] = {
      {CHECKSUM_CRC16, false, 0, serial},                 // wholly in the uncovered block 0
      {CHECKSUM_CRC16, false, 44, serial},                // across the 48-byte boundary
      {CHECKSUM_CRC16, false, 48, serial},
      {CHECKSUM_CRC16, false, 1001, serial},              // unaligned
      {CHECKSUM_CRC16, false, 4098 - 8, serial},          // the image's last bytes
      {CHECKSUM_CRC16, false, 2000, {0x12}},
      {CHECKSUM_CRC16, true, 12, {0xAA, 0xBB, 0xCC, 0xDD}},  // in the header
      {CHECKSUM_CRC16, true, 20 + 4098 - 8, serial},
      {CHECKSUM_XOR, false, 0, serial},
      {CHECKSUM_XOR, false, 1001, serial},
      {CHECKSUM_XOR, false, 4098 - 3, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.scheme) + " header " + std::to_string(c.with_header) + " offset " +
                 std::to_string(c.offset));
    const std::string header_path = c.with_header ? dir.Write("header.bin", header) : "";
    const uint32_t front = c.with_header ? 20 : 0;
    const PreparedImage base = Prepare(dir.Write("base.bin", image), header_path, c.scheme);

    Bytes whole = c.with_header ? header : Bytes();
    whole.insert(whole.end(), image.begin(), image.end());
    std::copy(c.bytes.begin(), c.bytes.end(), whole.begin() + c.offset);
    const Bytes patched_header(whole.begin(), whole.begin() + front);
    const PreparedImage expected = Prepare(dir.Write("patched.bin", Bytes(whole.begin() + front, whole.end())),
                                           c.with_header ? dir.Write("header.bin", patched_header) : "", c.scheme);
    PreparedImage out;
    std::string error;
    ASSERT_TRUE(PatchSerial(base, c.offset, c.bytes, c.scheme, &out, &error)) << error;
    EXPECT_TRUE(out.buffer == Bytes(expected.buffer.begin(), expected.buffer.end()));
    EXPECT_EQ(out.total_length, expected.total_length);
    EXPECT_EQ(out.start_length, expected.start_length);
    EXPECT_EQ(out.start_checksum, expected.start_checksum);
    EXPECT_TRUE(base.buffer == Bytes(base.buffer.begin(), base.buffer.end()));
  }
}

TEST(SerialPatch, Refusals) {
  testing::TempDir dir;
  const PreparedImage crc = Prepare(dir.Write("a.bin", testing::PatternBytes(100)), "", CHECKSUM_CRC16);
  struct Case {
    const char* name;
    uint32_t offset;
    size_t width;
    ChecksumScheme scheme;
    const char* reason;
  };
  const Case cases[] = {
      {"past the end", 97, 4, CHECKSUM_CRC16, "do not lie inside the image's 100 bytes"},
      {"far past the end", 0xFFFFFFFF, 4, CHECKSUM_CRC16, "do not lie inside"},
      {"other scheme", 0, 4, CHECKSUM_XOR, "prepared for the other checksum scheme"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PreparedImage out;
    std::string error;
    EXPECT_FALSE(PatchSerial(crc, c.offset, Bytes(c.width, 0x55), c.scheme, &out, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_TRUE(out.buffer.empty());
  }
}

// The device's side: a simulated bootloader told where the serial lives
// reads, from what it received, the serial the unit's copy carries.
TEST(SerialPatch, DeviceReadsTheSerialItReceived) {
  testing::TempDir dir;
  const std::string image_path = dir.Write("image.bin", testing::PatternBytes(4098));
  constexpr uint32_t kLoad = 0x08004000;
  struct Case {
    const char* knobs;
    ChecksumScheme scheme;
    uint32_t offset;
    Bytes bytes;         // empty: the image unpatched
    const char* serial;  // as the verdict shows it
  };
  const Case cases[] = {
      {"boot,no-restart,serial-at=080043E9:8:dec:SN", CHECKSUM_CRC16, 0x3E9, {'S', 'N', '0', '0', '1', '0', '0', '7'},
       "SN001007"},
      {"boot,no-restart,serial-at=08004010:4:hex", CHECKSUM_CRC16, 0x10, {'0', '0', 'A', 'F'}, "00AF"},
      {"oldboot,no-restart,serial-at=08004FFE:4:le", CHECKSUM_XOR, 0xFFE, {0xE8, 0x03, 0, 0}, "1000"},
      {"boot,no-restart,serial-at=08004030:2:be", CHECKSUM_CRC16, 0x30, {0x01, 0x02}, "258"},
      {"boot,no-restart,serial-at=08004000:2:dec", CHECKSUM_CRC16, 0, {}, "?0108"},  // not digits
      {"boot,no-restart,serial-at=08005100:2:le", CHECKSUM_CRC16, 0, {}, ""},        // beyond the image
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.knobs);
    auto bus = std::make_shared<sim::SimBus>();
    sim::SimKnobs knobs;
    std::string error;
    ASSERT_TRUE(sim::parse_sim_knobs(c.knobs, &knobs, &error)) << error;
    const sim::SimDeviceId id = bus->attach_model(knobs);
    hid_link_set_backend(bus);
    hid_link_init();
    HidDevice* device = hid_link_open(0x484F, c.scheme == CHECKSUM_XOR ? 0x5045 : 0x5048, nullptr, nullptr);
    ASSERT_NE(device, nullptr);
    const PreparedImage base = Prepare(image_path, "", c.scheme);
    PreparedImage unit;
    ASSERT_TRUE(PatchSerial(base, c.offset, c.bytes, c.scheme, &unit, &error)) << error;
    TransferControl control;
    control.sleep = [](int) {};
    EXPECT_EQ(RunTransfer(device, unit, c.scheme, kLoad, control), DL_OK);
    const sim::SimVerdict verdict = bus->model(id)->verdict();
    hid_link_close(device);
    hid_link_exit();
    hid_link_set_backend(nullptr);
    EXPECT_TRUE(verdict.completed) << verdict.summary();
    EXPECT_EQ(verdict.serial_number, c.serial);
    EXPECT_EQ(verdict.summary().find(std::string(" serial=") + c.serial) != std::string::npos, *c.serial != 0)
        << verdict.summary();
  }
}

}  // namespace
}  // namespace torvane
