// HID report descriptor parser: walks short and long items, keeps the global
// state (with a bounded Push/Pop stack) and adds up the bits of every Input,
// Output and Feature main item per report ID.
#include "device/report_descriptor.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace torvane {

namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

// Main item tags.
constexpr uint8_t kTagInput = 0x8;
constexpr uint8_t kTagOutput = 0x9;
constexpr uint8_t kTagCollection = 0xA;
constexpr uint8_t kTagFeature = 0xB;
constexpr uint8_t kTagEndCollection = 0xC;

// Global item tags.
constexpr uint8_t kTagUsagePage = 0x0;
constexpr uint8_t kTagReportSize = 0x7;
constexpr uint8_t kTagReportId = 0x8;
constexpr uint8_t kTagReportCount = 0x9;
constexpr uint8_t kTagPush = 0xA;
constexpr uint8_t kTagPop = 0xB;

// Local item tags.
constexpr uint8_t kTagUsage = 0x0;

constexpr uint8_t kLongItemPrefix = 0xFE;

// The part of the global state that decides report layout.
struct GlobalState {
  uint32_t report_size = 0;
  uint32_t report_count = 0;
  uint8_t report_id = 0;
  uint16_t usage_page = 0;
};

enum ReportKind { kInputReport = 0, kOutputReport = 1, kFeatureReport = 2, kReportKinds = 3 };

// Bits per report ID, per kind. Sums are bounded by the item limits times the
// descriptor length, far below 2^64, but the addition saturates anyway.
using BitTotals = std::array<std::array<uint64_t, 256>, kReportKinds>;

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return (a > std::numeric_limits<uint64_t>::max() - b) ? std::numeric_limits<uint64_t>::max() : a + b;
}

uint32_t bytes_with_id_byte(uint64_t bits) {
  const uint64_t bytes = bits / 8 + (bits % 8 != 0 ? 1 : 0);
  if (bytes >= std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(bytes + 1);
}

uint32_t item_value(const uint8_t* p, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(p[i]) << (8 * i);
  return value;
}

// Bits of one top-level collection per kind and report ID; only the IDs it
// uses are kept.
struct CollectionBits {
  HidUsagePair usage;
  std::vector<HidUsagePair> nested_usages;
  std::map<std::pair<int, uint8_t>, uint64_t> bits;  // (kind, report ID) -> bits
  bool seen_first[kReportKinds] = {false, false, false};
  uint8_t first_id[kReportKinds] = {0, 0, 0};
};

class Parser {
 public:
  ReportDescriptorSummary run(const uint8_t* data, size_t size);

 private:
  ReportDescriptorError global_item(uint8_t tag, uint32_t value);
  void local_item(uint8_t tag, uint32_t value, size_t data_size);
  ReportDescriptorError main_item(uint8_t tag);
  ReportDescriptorError collection_item();
  void finish(ReportDescriptorSummary& out) const;
  // The usage named by the Usage items since the last main item: an
  // extended (4-byte) usage carries its own page.
  HidUsagePair current_usage() const;

  GlobalState global_;
  std::array<GlobalState, kMaxPushDepth> stack_{};
  size_t stack_depth_ = 0;
  uint64_t open_collections_ = 0;
  BitTotals bits_{};
  bool uses_report_ids_ = false;
  bool seen_first_[kReportKinds] = {false, false, false};
  uint8_t first_id_[kReportKinds] = {0, 0, 0};
  // Local state: the last Usage item since the last main item.
  bool have_usage_ = false;
  uint32_t usage_value_ = 0;
  bool usage_extended_ = false;
  std::vector<CollectionBits> collections_;
};

ReportDescriptorSummary Parser::run(const uint8_t* data, size_t size) {
  ReportDescriptorSummary out;
  if (data == nullptr || size == 0) {
    out.error = ReportDescriptorError::kEmpty;
    return out;
  }
  size_t pos = 0;
  while (pos < size) {
    const uint8_t prefix = data[pos];
    if (prefix == kLongItemPrefix) {
      // Long item: prefix, data size, tag, data. No long item tags are
      // defined, so its data is skipped.
      if (size - pos < 3) {
        out.error = ReportDescriptorError::kTruncatedItem;
        return out;
      }
      const size_t data_size = data[pos + 1];
      if (size - pos - 3 < data_size) {
        out.error = ReportDescriptorError::kTruncatedItem;
        return out;
      }
      pos += 3 + data_size;
      continue;
    }
    const size_t size_code = prefix & 0x3;
    const size_t data_size = size_code == 3 ? 4 : size_code;
    const uint8_t type = (prefix >> 2) & 0x3;
    const uint8_t tag = prefix >> 4;
    if (size - pos - 1 < data_size) {
      out.error = ReportDescriptorError::kTruncatedItem;
      return out;
    }
    const uint32_t value = item_value(data + pos + 1, data_size);
    pos += 1 + data_size;

    ReportDescriptorError error = ReportDescriptorError::kNone;
    if (type == kMain) {
      error = main_item(tag);
      have_usage_ = false;  // local items apply to the next main item only
    } else if (type == kGlobal) {
      error = global_item(tag, value);
    } else if (type == kLocal) {
      local_item(tag, value, data_size);
    }
    // Reserved items are skipped.
    if (error != ReportDescriptorError::kNone) {
      out.error = error;
      return out;
    }
  }
  if (open_collections_ != 0) {
    out.error = ReportDescriptorError::kUnbalancedCollection;
    return out;
  }
  finish(out);
  return out;
}

ReportDescriptorError Parser::global_item(uint8_t tag, uint32_t value) {
  switch (tag) {
    case kTagReportSize:
      if (value > kMaxReportSizeBits) return ReportDescriptorError::kReportSizeTooLarge;
      global_.report_size = value;
      break;
    case kTagReportCount:
      if (value > kMaxReportCount) return ReportDescriptorError::kReportCountTooLarge;
      global_.report_count = value;
      break;
    case kTagReportId:
      if (value == 0 || value > 255) return ReportDescriptorError::kInvalidReportId;
      global_.report_id = static_cast<uint8_t>(value);
      uses_report_ids_ = true;
      break;
    case kTagUsagePage:
      global_.usage_page = static_cast<uint16_t>(value);
      break;
    case kTagPush:
      if (stack_depth_ == stack_.size()) return ReportDescriptorError::kPushOverflow;
      stack_[stack_depth_++] = global_;
      break;
    case kTagPop:
      if (stack_depth_ == 0) return ReportDescriptorError::kPopUnderflow;
      global_ = stack_[--stack_depth_];
      break;
    default:
      // Usage page, logical/physical extents and units do not change the
      // report layout.
      break;
  }
  return ReportDescriptorError::kNone;
}

void Parser::local_item(uint8_t tag, uint32_t value, size_t data_size) {
  if (tag != kTagUsage) return;  // usage ranges, strings, designators: no collection usage
  have_usage_ = true;
  usage_value_ = value;
  usage_extended_ = data_size == 4;
}

HidUsagePair Parser::current_usage() const {
  if (!have_usage_) return {};
  if (usage_extended_) {
    return {static_cast<uint16_t>(usage_value_ >> 16), static_cast<uint16_t>(usage_value_)};
  }
  return {global_.usage_page, static_cast<uint16_t>(usage_value_)};
}

ReportDescriptorError Parser::collection_item() {
  if (open_collections_ == 0) {
    if (collections_.size() == kMaxTopLevelCollections) return ReportDescriptorError::kTooManyCollections;
    collections_.emplace_back();
    collections_.back().usage = current_usage();
  } else if (have_usage_ && !collections_.empty()) {
    collections_.back().nested_usages.push_back(current_usage());
  }
  ++open_collections_;
  return ReportDescriptorError::kNone;
}

ReportDescriptorError Parser::main_item(uint8_t tag) {
  int kind = -1;
  switch (tag) {
    case kTagInput: kind = kInputReport; break;
    case kTagOutput: kind = kOutputReport; break;
    case kTagFeature: kind = kFeatureReport; break;
    case kTagCollection:
      return collection_item();
    case kTagEndCollection:
      if (open_collections_ == 0) return ReportDescriptorError::kUnbalancedCollection;
      --open_collections_;
      return ReportDescriptorError::kNone;
    default:
      return ReportDescriptorError::kNone;
  }
  if (!seen_first_[kind]) {
    seen_first_[kind] = true;
    first_id_[kind] = global_.report_id;
  }
  const uint64_t item_bits = static_cast<uint64_t>(global_.report_size) * global_.report_count;
  uint64_t& total = bits_[kind][global_.report_id];
  total = saturating_add(total, item_bits);
  if (open_collections_ != 0) {
    CollectionBits& c = collections_.back();
    if (!c.seen_first[kind]) {
      c.seen_first[kind] = true;
      c.first_id[kind] = global_.report_id;
    }
    uint64_t& own = c.bits[{kind, global_.report_id}];
    own = saturating_add(own, item_bits);
  }
  return ReportDescriptorError::kNone;
}

void Parser::finish(ReportDescriptorSummary& out) const {
  if (uses_report_ids_) {
    // With report IDs every data report carries one; a data item outside any
    // report cannot be addressed on the wire.
    for (int kind = 0; kind < kReportKinds; ++kind) {
      if (bits_[kind][0] != 0) {
        out.error = ReportDescriptorError::kMixedReportIds;
        return;
      }
    }
  }
  uint64_t longest[kReportKinds] = {0, 0, 0};
  for (int kind = 0; kind < kReportKinds; ++kind) {
    longest[kind] = *std::max_element(bits_[kind].begin(), bits_[kind].end());
  }
  out.error = ReportDescriptorError::kNone;
  out.uses_report_ids = uses_report_ids_;
  out.has_input = longest[kInputReport] != 0;
  out.has_output = longest[kOutputReport] != 0;
  out.input_report_id = first_id_[kInputReport];
  out.output_report_id = first_id_[kOutputReport];
  out.input_report_length = out.has_input ? bytes_with_id_byte(longest[kInputReport]) : 0;
  out.output_report_length = out.has_output ? bytes_with_id_byte(longest[kOutputReport]) : 0;
  out.feature_report_length =
      longest[kFeatureReport] != 0 ? bytes_with_id_byte(longest[kFeatureReport]) : 0;

  for (const CollectionBits& c : collections_) {
    ReportCollectionSummary summary;
    summary.usage = c.usage;
    summary.nested_usages = c.nested_usages;
    uint64_t own_longest[kReportKinds] = {0, 0, 0};
    for (const auto& [key, bits] : c.bits) {
      own_longest[key.first] = std::max(own_longest[key.first], bits);
      if (key.first == kInputReport && bits != 0) summary.input_report_ids.push_back(key.second);
    }
    summary.has_input = own_longest[kInputReport] != 0;
    summary.has_output = own_longest[kOutputReport] != 0;
    summary.input_report_id = c.first_id[kInputReport];
    summary.output_report_id = c.first_id[kOutputReport];
    summary.input_report_length = summary.has_input ? bytes_with_id_byte(own_longest[kInputReport]) : 0;
    summary.output_report_length = summary.has_output ? bytes_with_id_byte(own_longest[kOutputReport]) : 0;
    out.collections.push_back(std::move(summary));
  }
}

}  // namespace

const char* report_descriptor_error_text(ReportDescriptorError error) {
  switch (error) {
    case ReportDescriptorError::kNone: return "no error";
    case ReportDescriptorError::kEmpty: return "report descriptor is empty";
    case ReportDescriptorError::kTruncatedItem: return "report descriptor item is truncated";
    case ReportDescriptorError::kInvalidReportId: return "report descriptor declares an invalid report ID";
    case ReportDescriptorError::kReportSizeTooLarge: return "report descriptor declares an absurd report size";
    case ReportDescriptorError::kReportCountTooLarge: return "report descriptor declares an absurd report count";
    case ReportDescriptorError::kPushOverflow: return "report descriptor nests Push items too deeply";
    case ReportDescriptorError::kPopUnderflow: return "report descriptor has a Pop without Push";
    case ReportDescriptorError::kUnbalancedCollection: return "report descriptor has unbalanced collections";
    case ReportDescriptorError::kMixedReportIds:
      return "report descriptor mixes data items with and without report IDs";
    case ReportDescriptorError::kTooManyCollections:
      return "report descriptor declares too many top-level collections";
  }
  return "unknown report descriptor error";
}

ReportDescriptorSummary parse_report_descriptor(const uint8_t* data, size_t size) {
  // The bit totals are 6 KiB; keep them off small thread stacks.
  auto parser = std::make_unique<Parser>();
  return parser->run(data, size);
}

}  // namespace torvane
