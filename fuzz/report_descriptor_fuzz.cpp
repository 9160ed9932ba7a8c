// libFuzzer target for the report descriptor parser: the bytes come straight
// from a device, so any input must give a clear result without touching
// memory outside it. Besides the sanitizers, the summary's own invariants
// are checked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/report_descriptor.h"
#include "device/report_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy into an exactly sized heap block so that ASan sees any overread.
  std::vector<uint8_t> bytes(data, data + size);
  const torvane::ReportDescriptorSummary s = torvane::parse_report_descriptor(bytes.data(), bytes.size());
  if (!s.ok()) {
    if (s.input_report_length != 0 || s.output_report_length != 0) std::abort();
    return 0;
  }
  if (s.has_input != (s.input_report_length != 0)) std::abort();
  if (s.has_output != (s.output_report_length != 0)) std::abort();
  if (s.has_input && s.input_report_length < 2) std::abort();
  if (s.has_output && s.output_report_length < 2) std::abort();
  if (!s.uses_report_ids && (s.input_report_id != 0 || s.output_report_id != 0)) std::abort();
  // A collection's reports are among the descriptor's.
  for (const torvane::ReportCollectionSummary& c : s.collections) {
    if (c.has_input != (c.input_report_length != 0)) std::abort();
    if (c.has_output != (c.output_report_length != 0)) std::abort();
    if (c.input_report_length > s.input_report_length || c.output_report_length > s.output_report_length) {
      std::abort();
    }
  }
  const torvane::ReportLayout layout = torvane::select_report_layout(s, std::nullopt);
  if (layout.input_report_length > s.input_report_length) std::abort();
  if (layout.foreign_input_ids.test(layout.input_report_id) && layout.has_input) std::abort();
  return 0;
}
