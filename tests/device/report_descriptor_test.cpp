// The report descriptor parser on a corpus of real-world-shaped descriptors
// and on damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "device/report_descriptor.h"
#include "device/report_layout.h"
#include "tests/device/descriptor_builder.h"
#include "tests/device/descriptor_corpus.h"

namespace torvane {
namespace {

using test::CorpusEntry;

const std::map<std::string, ReportDescriptorError>& error_names() {
  static const std::map<std::string, ReportDescriptorError> names = {
      {"empty", ReportDescriptorError::kEmpty},
      {"truncated", ReportDescriptorError::kTruncatedItem},
      {"report_id", ReportDescriptorError::kInvalidReportId},
      {"report_size", ReportDescriptorError::kReportSizeTooLarge},
      {"report_count", ReportDescriptorError::kReportCountTooLarge},
      {"push_overflow", ReportDescriptorError::kPushOverflow},
      {"pop_underflow", ReportDescriptorError::kPopUnderflow},
      {"collection", ReportDescriptorError::kUnbalancedCollection},
      {"mixed_ids", ReportDescriptorError::kMixedReportIds},
  };
  return names;
}

// "key=value" words with decimal values.
std::map<std::string, uint32_t> numbers(std::istream& words) {
  std::map<std::string, uint32_t> out;
  std::string pair;
  while (words >> pair) {
    const size_t eq = pair.find('=');
    out[pair.substr(0, eq)] = static_cast<uint32_t>(std::stoul(pair.substr(eq + 1)));
  }
  return out;
}

std::string usage_text(HidUsagePair u) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X:%04X", u.usage_page, u.usage);
  return text;
}

class DescriptorCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(DescriptorCorpus, ParsesAsExpected) {
  const CorpusEntry entry = test::load_descriptor(GetParam());
  ASSERT_FALSE(entry.expect.empty()) << "no '# expect:' line";
  const ReportDescriptorSummary s = parse_report_descriptor(entry.bytes.data(), entry.bytes.size());
  std::istringstream words(entry.expect);
  std::string verdict;
  words >> verdict;
  if (verdict == "error") {
    std::string kind;
    words >> kind;
    ASSERT_TRUE(error_names().count(kind)) << "unknown error kind " << kind;
    EXPECT_EQ(s.error, error_names().at(kind)) << report_descriptor_error_text(s.error);
    return;
  }
  ASSERT_EQ(verdict, "ok");
  ASSERT_TRUE(s.ok()) << report_descriptor_error_text(s.error);
  std::map<std::string, uint32_t> want = numbers(words);
  if (!entry.collections.empty()) {
    ASSERT_EQ(s.collections.size(), entry.collections.size());
    for (size_t i = 0; i < s.collections.size(); ++i) {
      const ReportCollectionSummary& c = s.collections[i];
      std::istringstream line(entry.collections[i]);
      std::string usage;
      line >> usage;
      const auto n = numbers(line);
      EXPECT_EQ(usage_text(c.usage), usage) << i;
      EXPECT_EQ(c.input_report_length, n.at("in")) << usage;
      EXPECT_EQ(c.input_report_id, n.at("in_id")) << usage;
      EXPECT_EQ(c.output_report_length, n.at("out")) << usage;
      EXPECT_EQ(c.output_report_id, n.at("out_id")) << usage;
    }
  }
  EXPECT_EQ(s.input_report_length, want.at("in"));
  EXPECT_EQ(s.input_report_id, want.at("in_id"));
  EXPECT_EQ(s.output_report_length, want.at("out"));
  EXPECT_EQ(s.output_report_id, want.at("out_id"));
  EXPECT_EQ(s.has_output, want.at("out") != 0);
  EXPECT_EQ(s.has_input, want.at("in") != 0);
  EXPECT_EQ(s.uses_report_ids, want.at("in_id") != 0 || want.at("out_id") != 0);
}

INSTANTIATE_TEST_SUITE_P(Files, DescriptorCorpus, ::testing::ValuesIn(test::descriptor_corpus_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param.substr(0, info.param.find('.'));
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(DescriptorCorpusContents, HoldsTheRequiredShapes) {
  const auto names = test::descriptor_corpus_names();
  for (const char* required : {"vendor_64_no_id.hex", "vendor_64_with_id.hex", "keyboard_multi_report.hex",
                               "mouse.hex", "truncated_item.hex", "malformed_report_id_zero.hex",
                               "keyboard_vendor.hex", "mouse_vendor.hex", "vendor_vendor.hex",
                               "vendor_not_first.hex"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), required), names.end()) << required;
  }
}

// Every prefix of a well-formed descriptor is either a complete descriptor
// or reported as damaged; none reads past its end (checked under ASan).
TEST(ReportDescriptorDamage, EveryPrefixGivesAClearResult) {
  for (const std::string& name : test::descriptor_corpus_names()) {
    const CorpusEntry entry = test::load_descriptor(name);
    for (size_t n = 0; n < entry.bytes.size(); ++n) {
      std::vector<uint8_t> prefix(entry.bytes.begin(), entry.bytes.begin() + static_cast<long>(n));
      const ReportDescriptorSummary s = parse_report_descriptor(prefix.data(), prefix.size());
      if (s.ok()) {
        EXPECT_LE(s.input_report_length, 786433u) << name << " prefix " << n;
      } else {
        EXPECT_NE(std::string(report_descriptor_error_text(s.error)), "") << name;
      }
    }
  }
}

TEST(ReportDescriptorDamage, RandomBytesNeverCrash) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> len(0, 96);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> data(static_cast<size_t>(len(rng)));
    for (auto& b : data) b = static_cast<uint8_t>(byte(rng));
    const ReportDescriptorSummary s = parse_report_descriptor(data.data(), data.size());
    if (s.ok()) {
      EXPECT_EQ(s.has_output, s.output_report_length != 0);
      EXPECT_EQ(s.has_input, s.input_report_length != 0);
    }
  }
}

TEST(ReportDescriptorDamage, NullDataIsEmpty) {
  EXPECT_EQ(parse_report_descriptor(nullptr, 10).error, ReportDescriptorError::kEmpty);
}

TEST(ReportDescriptorLayout, PopRestoresTheReportId) {
  // ID 1 pushed, ID 2 used for an input, Pop brings ID 1 back for the output.
  const std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x10,
                                  0xA4, 0x85, 0x02, 0x81, 0x02, 0xB4, 0x91, 0x02, 0xC0};
  const ReportDescriptorSummary s = parse_report_descriptor(d.data(), d.size());
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(s.input_report_id, 2);
  EXPECT_EQ(s.output_report_id, 1);
  EXPECT_EQ(s.output_report_length, 17u);
}

TEST(ReportDescriptorLayout, LongestReportPerIdDecidesTheLength) {
  // Two inputs for ID 1 (40 + 24 bytes) beat one of 60 bytes for ID 2.
  const std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08,
                                  0x85, 0x01, 0x95, 0x28, 0x81, 0x02, 0x95, 0x18, 0x81, 0x02,
                                  0x85, 0x02, 0x95, 0x3C, 0x81, 0x02, 0x91, 0x02, 0xC0};
  const ReportDescriptorSummary s = parse_report_descriptor(d.data(), d.size());
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(s.input_report_length, 65u);
  EXPECT_EQ(s.input_report_id, 1);
  EXPECT_EQ(s.output_report_id, 2);
  EXPECT_EQ(s.output_report_length, 61u);
}

// The layout an open gets: the collection of the record that matched (own
// usage first, then a nested one), by path alone the first collection that
// takes commands and answers them, and the other collections' input IDs to
// pass over.
TEST(ReportDescriptorLayout, OpenTakesTheMatchedCollection) {
  struct Case {
    const char* file;
    std::optional<HidUsagePair> usage;
    bool has_output;
    uint8_t in_id, out_id;
    uint32_t in_len, out_len;
    std::vector<uint8_t> foreign;
  } const cases[] = {
      {"keyboard_vendor.hex", HidUsagePair{0xFF00, 0x0001}, true, 5, 5, 65, 65, {1}},
      {"keyboard_vendor.hex", std::nullopt, true, 1, 1, 9, 2, {5}},
      {"keyboard_vendor.hex", HidUsagePair{0x1234, 0x0001}, true, 1, 1, 9, 2, {5}},
      {"mouse_vendor.hex", std::nullopt, true, 6, 6, 33, 33, {2}},
      {"mouse_vendor.hex", HidUsagePair{0x0001, 0x0001}, false, 2, 0, 5, 0, {6}},
      {"vendor_vendor.hex", HidUsagePair{0xFF00, 0x0002}, true, 2, 2, 65, 65, {1}},
      {"vendor_not_first.hex", HidUsagePair{0xFF00, 0x0001}, true, 7, 8, 65, 65, {3}},
      {"keyboard_multi_report.hex", HidUsagePair{0x000C, 0x0001}, false, 2, 0, 3, 0, {1, 3}},
      {"vendor_64_with_id.hex", HidUsagePair{0x0001, 0x0006}, true, 0, 0, 0, 0, {}},  // single collection
  };
  for (const Case& c : cases) {
    const CorpusEntry entry = test::load_descriptor(c.file);
    const ReportDescriptorSummary s = parse_report_descriptor(entry.bytes.data(), entry.bytes.size());
    ASSERT_TRUE(s.ok()) << c.file;
    const ReportLayout l = select_report_layout(s, c.usage);
    const std::string what = std::string(c.file) + (c.usage ? " " + usage_text(*c.usage) : " by path");
    EXPECT_EQ(l.has_output, c.has_output) << what;
    if (c.in_len == 0) {  // one collection: the whole descriptor, nothing passed over
      EXPECT_EQ(l.input_report_length, s.input_report_length) << what;
      EXPECT_EQ(l.output_report_id, s.output_report_id) << what;
    } else {
      EXPECT_EQ(l.input_report_id, c.in_id) << what;
      EXPECT_EQ(l.output_report_id, c.out_id) << what;
      EXPECT_EQ(l.input_report_length, c.in_len) << what;
      EXPECT_EQ(l.output_report_length, c.out_len) << what;
    }
    std::bitset<256> foreign;
    for (uint8_t id : c.foreign) foreign.set(id);
    EXPECT_EQ(l.foreign_input_ids, foreign) << what;
  }
}

TEST(ReportDescriptorLayout, BuilderShapesMatchTheirSizes) {
  for (uint32_t bytes : {1u, 8u, 63u, 64u, 127u, 128u, 300u, 4096u}) {
    const auto d = test::vendor_descriptor(7, bytes, bytes + 1);
    const ReportDescriptorSummary s = parse_report_descriptor(d.data(), d.size());
    ASSERT_TRUE(s.ok()) << bytes;
    EXPECT_EQ(s.input_report_length, bytes + 1);
    EXPECT_EQ(s.output_report_length, bytes + 2);
    EXPECT_EQ(s.input_report_id, 7);
  }
}

}  // namespace
}  // namespace torvane
