#include "virtual/uhid_events.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sim/sim_identity.h"

namespace torvane::virt {
namespace {

TEST(UhidCreate, CarriesIdentityOnTheUsbBus) {
  sim::SimIdentity id = sim::sim_default_identity(sim::SimDeviceKind::kBoot);
  const std::vector<uint8_t> descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xC0};
  uhid_event ev;
  std::string error;
  ASSERT_TRUE(uhid_make_create(id, descriptor, &ev, &error)) << error;
  EXPECT_EQ(ev.type, UHID_CREATE2);
  // USB bus: the kernel names the device 0003:484F:5048.NNNN, which the
  // udev rule matches.
  EXPECT_EQ(ev.u.create2.bus, BUS_USB);
  EXPECT_EQ(ev.u.create2.vendor, 0x484Fu);
  EXPECT_EQ(ev.u.create2.product, 0x5048u);
  EXPECT_EQ(ev.u.create2.version, id.release_number);
  EXPECT_STREQ(reinterpret_cast<const char*>(ev.u.create2.name), "Simulated Bootloader");
  EXPECT_STREQ(reinterpret_cast<const char*>(ev.u.create2.uniq), "SIM-BOOT-0001");
  ASSERT_EQ(ev.u.create2.rd_size, descriptor.size());
  EXPECT_EQ(0, std::memcmp(ev.u.create2.rd_data, descriptor.data(), descriptor.size()));
}

TEST(UhidCreate, TextsAreCutAndTerminatedAndNonAsciiReplaced) {
  sim::SimIdentity id = sim::sim_default_identity(sim::SimDeviceKind::kApp);
  id.product = std::wstring(300, L'x');
  id.serial_number = L"S\u00e9r";
  uhid_event ev;
  ASSERT_TRUE(uhid_make_create(id, {0xC0}, &ev, nullptr));
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(ev.u.create2.name)), sizeof ev.u.create2.name - 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(ev.u.create2.uniq), "S?r");
}

TEST(UhidCreate, RefusesDescriptorsTheKernelWouldRefuse) {
  const sim::SimIdentity id = sim::sim_default_identity(sim::SimDeviceKind::kBoot);
  uhid_event ev;
  std::string error;
  EXPECT_FALSE(uhid_make_create(id, {}, &ev, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(uhid_make_create(id, std::vector<uint8_t>(HID_MAX_DESCRIPTOR_SIZE + 1, 0), &ev, &error));
  EXPECT_TRUE(uhid_make_create(id, std::vector<uint8_t>(HID_MAX_DESCRIPTOR_SIZE, 0), &ev, &error));
}

TEST(UhidInput, SizeLimits) {
  uhid_event ev;
  std::vector<uint8_t> report(kUhidMaxReport + 1, 0xAB);
  EXPECT_FALSE(uhid_make_input(report.data(), 0, &ev));
  EXPECT_FALSE(uhid_make_input(nullptr, 4, &ev));
  EXPECT_FALSE(uhid_make_input(report.data(), report.size(), &ev));
  ASSERT_TRUE(uhid_make_input(report.data(), kUhidMaxReport, &ev));
  EXPECT_EQ(ev.type, UHID_INPUT2);
  EXPECT_EQ(ev.u.input2.size, kUhidMaxReport);
  EXPECT_EQ(ev.u.input2.data[kUhidMaxReport - 1], 0xAB);
}

uhid_output_req output_of(std::vector<uint8_t> bytes) {
  uhid_output_req out{};
  std::memcpy(out.data, bytes.data(), bytes.size());
  out.size = static_cast<uint16_t>(bytes.size());
  out.rtype = UHID_OUTPUT_REPORT;
  return out;
}

TEST(UhidOutput, ZeroReportIdByteIsDroppedAsOnUsb) {
  std::vector<uint8_t> from_kernel(65, 0);
  from_kernel[1] = 0xEB;
  from_kernel[2] = 0x90;
  std::vector<uint8_t> wire;
  ASSERT_TRUE(uhid_output_to_wire(output_of(from_kernel), &wire));
  ASSERT_EQ(wire.size(), 64u);
  EXPECT_EQ(wire[0], 0xEB);
  EXPECT_EQ(wire[1], 0x90);
}

TEST(UhidOutput, NonZeroReportIdStaysFirst) {
  std::vector<uint8_t> from_kernel(65, 0);
  from_kernel[0] = 5;
  from_kernel[1] = 0xEB;
  std::vector<uint8_t> wire;
  ASSERT_TRUE(uhid_output_to_wire(output_of(from_kernel), &wire));
  ASSERT_EQ(wire.size(), 65u);
  EXPECT_EQ(wire[0], 5);
  EXPECT_EQ(wire[1], 0xEB);
}

TEST(UhidOutput, OutOfRangeSizesAreRefused) {
  uhid_output_req out{};
  std::vector<uint8_t> wire = {1, 2, 3};
  out.size = 0;
  EXPECT_FALSE(uhid_output_to_wire(out, &wire));
  out.size = kUhidMaxReport + 1;
  EXPECT_FALSE(uhid_output_to_wire(out, &wire));
  EXPECT_EQ(wire.size(), 3u);  // untouched
}

TEST(UhidReplies, SynchronousRequestsAreAnsweredWithAnError) {
  const uhid_event get = uhid_make_get_report_error(17);
  EXPECT_EQ(get.type, UHID_GET_REPORT_REPLY);
  EXPECT_EQ(get.u.get_report_reply.id, 17u);
  EXPECT_NE(get.u.get_report_reply.err, 0);
  const uhid_event set = uhid_make_set_report_error(18);
  EXPECT_EQ(set.type, UHID_SET_REPORT_REPLY);
  EXPECT_EQ(set.u.set_report_reply.id, 18u);
  EXPECT_NE(set.u.set_report_reply.err, 0);
  EXPECT_EQ(uhid_make_destroy().type, UHID_DESTROY);
}

}  // namespace
}  // namespace torvane::virt
