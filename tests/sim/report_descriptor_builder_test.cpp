// The descriptors the simulated devices hand out, read back by the device
// layer's own parser: report IDs and lengths come out as the knobs set them.
#include <gtest/gtest.h>

#include "device/report_descriptor.h"
#include "sim/report_descriptor_builder.h"

namespace torvane::sim {
namespace {

ReportDescriptorSummary parse(const std::vector<uint8_t>& d) {
  return parse_report_descriptor(d.data(), d.size());
}

TEST(ReportDescriptorBuilder, DefaultBootloaderBytes) {
  const std::vector<uint8_t> expected = {
      0x06, 0x00, 0xFF,  // Usage Page (0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        // Logical Minimum (0)
      0x26, 0xFF, 0x00,  // Logical Maximum (255)
      0x75, 0x08,        // Report Size (8)
      0x95, 0x40,        // Report Count (64)
      0x09, 0x01, 0x81, 0x02,  // Usage, Input (Data, Variable, Absolute)
      0x95, 0x40,
      0x09, 0x02, 0x91, 0x02,  // Usage, Output (Data, Variable, Absolute)
      0xC0};
  EXPECT_EQ(build_vendor_report_descriptor(0xFF00, 1, 0, 65), expected);
}

struct Layout {
  uint16_t usage_page;
  uint16_t usage;
  uint8_t report_id;
  uint32_t report_length;
};

class DescriptorRoundTrip : public ::testing::TestWithParam<Layout> {};

TEST_P(DescriptorRoundTrip, ParserSeesTheLayout) {
  const Layout l = GetParam();
  const ReportDescriptorSummary s =
      parse(build_vendor_report_descriptor(l.usage_page, l.usage, l.report_id, l.report_length));
  ASSERT_TRUE(s.ok()) << report_descriptor_error_text(s.error);
  EXPECT_EQ(s.uses_report_ids, l.report_id != 0);
  EXPECT_TRUE(s.has_input);
  EXPECT_TRUE(s.has_output);
  EXPECT_EQ(s.input_report_id, l.report_id);
  EXPECT_EQ(s.output_report_id, l.report_id);
  EXPECT_EQ(s.input_report_length, l.report_length);
  EXPECT_EQ(s.output_report_length, l.report_length);
  EXPECT_EQ(s.feature_report_length, 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DescriptorRoundTrip,
                         ::testing::Values(Layout{0xFF00, 1, 0, 65}, Layout{0xFF00, 1, 5, 65},
                                           Layout{0x0001, 0, 0, 65},  // application: page 1, usage 0
                                           Layout{0xFF00, 1, 255, 33}, Layout{0xFF00, 1, 0, 8},
                                           Layout{0xFF00, 1, 0, 129}, Layout{0xFF00, 1, 2, 257},
                                           Layout{0xFFA0, 0x1234, 0, 4097},
                                           Layout{0xFF00, 1, 1, 12289}));

TEST(ReportDescriptorBuilder, StandardPageGetsVendorUsagesForItsData) {
  const std::vector<uint8_t> d = build_vendor_report_descriptor(0x0001, 0x0000, 0, 65);
  // Top level: Usage Page (1), Usage (0), Collection (Application), then the
  // vendor page for the data items.
  const std::vector<uint8_t> head = {0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x06, 0x00, 0xFF};
  ASSERT_GE(d.size(), head.size());
  EXPECT_TRUE(std::equal(head.begin(), head.end(), d.begin()));
}

TEST(ReportDescriptorBuilder, ReportIdItemOnlyWithIds) {
  const auto has_id_item = [](const std::vector<uint8_t>& d) {
    for (size_t i = 0; i + 1 < d.size(); ++i) {
      if (d[i] == 0x85) return true;
    }
    return false;
  };
  EXPECT_FALSE(has_id_item(build_vendor_report_descriptor(0xFF00, 1, 0, 65)));
  const auto with = build_vendor_report_descriptor(0xFF00, 1, 5, 65);
  EXPECT_TRUE(has_id_item(with));
}

TEST(ReportDescriptorBuilder, ImpossibleLengthsGiveNothing) {
  EXPECT_TRUE(build_vendor_report_descriptor(0xFF00, 1, 0, 0).empty());
  EXPECT_TRUE(build_vendor_report_descriptor(0xFF00, 1, 0, 1).empty());
  EXPECT_TRUE(build_vendor_report_descriptor(0xFF00, 1, 0, 65537).empty());
  EXPECT_FALSE(build_vendor_report_descriptor(0xFF00, 1, 0, 2).empty());
}

TEST(ReportDescriptorBuilder, KeyboardDescriptorParsesAsAKeyboard) {
  const ReportDescriptorSummary s = parse(keyboard_report_descriptor());
  ASSERT_TRUE(s.ok()) << report_descriptor_error_text(s.error);
  EXPECT_FALSE(s.uses_report_ids);
  EXPECT_EQ(s.input_report_length, 9u);   // 8-byte boot keyboard report + ID byte
  EXPECT_EQ(s.output_report_length, 2u);  // LED byte + ID byte
}

}  // namespace
}  // namespace torvane::sim
