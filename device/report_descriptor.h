// Parser of HID report descriptors as a device hands them out. The bytes are
// untrusted: every malformed, truncated or absurd descriptor gives an error
// result; no input reads out of bounds or overflows a counter.
//
// It answers the questions the device layer needs when it opens an
// interface: which report ID the first output and the first input data item
// belong to, and how long the longest output and input report is (bytes,
// plus one for the report-ID byte that leads every report on the wire).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

enum class ReportDescriptorError {
  kNone = 0,
  kEmpty,              // no bytes at all
  kTruncatedItem,      // an item's data runs past the end
  kInvalidReportId,    // Report ID 0 or above 255
  kReportSizeTooLarge, // Report Size above kMaxReportSizeBits
  kReportCountTooLarge,// Report Count above kMaxReportCount
  kPushOverflow,       // Push nested deeper than kMaxPushDepth
  kPopUnderflow,       // Pop without Push
  kUnbalancedCollection,  // End Collection without Collection, or still open at the end
  kMixedReportIds,     // data items both with and without a report ID
  kTooManyCollections, // more than kMaxTopLevelCollections top-level collections
};

// Human-readable name of an error, for logs and the open error text.
const char* report_descriptor_error_text(ReportDescriptorError error);

// A usage page and usage pair, as a collection declares it.
struct HidUsagePair {
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  bool operator==(const HidUsagePair&) const = default;
};

// One top-level collection: on Windows its own device with its own report
// lengths; on hidraw one of the records hidapi lists for the node.
struct ReportCollectionSummary {
  HidUsagePair usage;                      // of the collection item (0:0 without a usage)
  std::vector<HidUsagePair> nested_usages; // of the collections inside it, in order
  bool has_input = false;
  bool has_output = false;
  uint8_t input_report_id = 0;             // of its first Input item (0 without IDs)
  uint8_t output_report_id = 0;            // of its first Output item
  uint32_t input_report_length = 0;        // its longest input report + 1; 0 when none
  uint32_t output_report_length = 0;       // its longest output report + 1; 0 when none
  std::vector<uint8_t> input_report_ids;   // every ID its input reports use, ascending
};

struct ReportDescriptorSummary {
  ReportDescriptorError error = ReportDescriptorError::kEmpty;
  bool uses_report_ids = false;    // at least one Report ID item
  bool has_input = false;          // an input report with at least one bit
  bool has_output = false;         // an output report with at least one bit
  uint8_t input_report_id = 0;     // ID of the first Input main item (0 without IDs)
  uint8_t output_report_id = 0;    // ID of the first Output main item (0 without IDs)
  // Longest report of each kind in bytes, plus one for the report-ID byte;
  // 0 when the kind is absent. Saturates at UINT32_MAX.
  uint32_t input_report_length = 0;
  uint32_t output_report_length = 0;
  uint32_t feature_report_length = 0;
  // The top-level collections in descriptor order. Data items outside any
  // collection count only in the totals above.
  std::vector<ReportCollectionSummary> collections;

  bool ok() const { return error == ReportDescriptorError::kNone; }
};

// Limits the parser enforces; the first two are also the Linux HID core's, so
// no descriptor a real hidraw node offers is refused by them.
inline constexpr uint32_t kMaxReportSizeBits = 256;
inline constexpr uint32_t kMaxReportCount = 12288;
inline constexpr size_t kMaxPushDepth = 16;
// Top-level collections beyond this many are refused; a real device's
// descriptor holds a handful.
inline constexpr size_t kMaxTopLevelCollections = 256;

ReportDescriptorSummary parse_report_descriptor(const uint8_t* data, size_t size);

}  // namespace torvane
