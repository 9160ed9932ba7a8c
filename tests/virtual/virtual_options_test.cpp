#include "virtual/virtual_options.h"

#include <gtest/gtest.h>

namespace torvane::virt {
namespace {

TEST(VirtualOptions, DefaultsToTheCurrentBootloader) {
  VirtualOptions o;
  std::string error;
  ASSERT_TRUE(parse_virtual_options({}, &o, &error)) << error;
  EXPECT_EQ(o.knobs.kind, sim::SimDeviceKind::kBoot);
  EXPECT_EQ(o.uhid_path, "/dev/uhid");
  EXPECT_TRUE(o.image_path.empty());
  EXPECT_FALSE(o.help);
}

TEST(VirtualOptions, KnobsAndOptionsInAnyOrder) {
  VirtualOptions o;
  std::string error;
  ASSERT_TRUE(parse_virtual_options({"--save-image", "/tmp/x.bin", "oldboot,report-id=5", "-v",
                                     "--uhid", "/dev/other"},
                                    &o, &error))
      << error;
  EXPECT_EQ(o.knobs.kind, sim::SimDeviceKind::kOldBoot);
  EXPECT_EQ(o.knobs.report_id, 5);
  EXPECT_EQ(o.image_path, "/tmp/x.bin");
  EXPECT_EQ(o.uhid_path, "/dev/other");
  EXPECT_TRUE(o.verbose);
  ASSERT_TRUE(parse_virtual_options({"--version"}, &o, &error)) << error;
  EXPECT_TRUE(o.version);
}

TEST(VirtualOptions, BadInputGetsAReasonAndLeavesOptionsAlone) {
  const std::vector<std::vector<std::string>> bad = {
      {"toaster"},                          // unknown kind
      {"boot,report-id=300"},               // knob out of range
      {"--frobnicate"},                     // unknown option
      {"boot", "app"},                      // two knob texts
      {"--save-image"},                     // option without value
      {"--uhid", ""},                       // empty value
      {"boot,report-length=4097"},          // beyond one uhid record
  };
  for (const auto& args : bad) {
    VirtualOptions o;
    o.uhid_path = "unchanged";
    std::string error;
    EXPECT_FALSE(parse_virtual_options(args, &o, &error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
    EXPECT_EQ(o.uhid_path, "unchanged") << args[0];
  }
}

TEST(VirtualOptions, LargestReportUhidCarriesIsAccepted) {
  VirtualOptions o;
  std::string error;
  EXPECT_TRUE(parse_virtual_options({"boot,report-length=4096"}, &o, &error)) << error;
}

TEST(VirtualOptions, GadgetTakesItsControllerOrTheFirstFree) {
  VirtualOptions o;
  std::string error;
  ASSERT_TRUE(parse_virtual_options({"--gadget", "boot,serial=UNIT-1,interface=0,release=0x0102"}, &o, &error)) << error;
  EXPECT_TRUE(o.gadget);
  EXPECT_TRUE(o.udc.empty());
  ASSERT_TRUE(parse_virtual_options({"--gadget=dummy_udc.2"}, &o, &error)) << error;
  EXPECT_EQ(o.udc, "dummy_udc.2");
}

// What a USB HID gadget cannot express is refused with the reason, before
// anything is created.
TEST(VirtualOptions, GadgetRefusesWhatItCannotExpress) {
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"--gadget", "boot,port=bench-1"}, "port="},
      {{"--gadget", "boot,interface=2"}, "interface=2"},
      {{"--gadget", "boot,report-length=1026"}, "1025 bytes on the wire"},       // no IDs: 1025 travel
      {{"--gadget", "boot,report-id=5,report-length=1025"}, "1025 bytes"},      // the ID byte travels too
      {{"--gadget", "boot,report-id=5,composite=1:1025"}, "1025 bytes"},        // the keyboard's report
      {{"--gadget=", "boot"}, "controller name"},
      {{"--gadget", "--uhid", "/dev/uhid"}, "exclude each other"},
  };
  for (const auto& c : cases) {
    VirtualOptions o;
    std::string error;
    EXPECT_FALSE(parse_virtual_options(c.args, &o, &error)) << c.args.back();
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  // The longest reports a high-speed interrupt transfer carries pass.
  VirtualOptions o;
  std::string error;
  EXPECT_TRUE(parse_virtual_options({"--gadget", "boot,report-length=1025"}, &o, &error)) << error;
  EXPECT_TRUE(parse_virtual_options({"--gadget", "boot,report-id=5,report-length=1024"}, &o, &error)) << error;
}

}  // namespace
}  // namespace torvane::virt
