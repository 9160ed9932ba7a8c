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

}  // namespace
}  // namespace torvane::virt
