#include "device/report_layout.h"

#include <algorithm>

namespace torvane {

namespace {

// The IDs and lengths of the whole descriptor or of one collection (both
// summaries name their fields alike).
template <typename Summary>
ReportLayout layout_of(const Summary& s) {
  ReportLayout layout;
  layout.has_input = s.has_input;
  layout.has_output = s.has_output;
  layout.input_report_id = s.input_report_id;
  layout.output_report_id = s.output_report_id;
  layout.input_report_length = s.input_report_length;
  layout.output_report_length = s.output_report_length;
  return layout;
}

const ReportCollectionSummary* find_collection(const ReportDescriptorSummary& s,
                                               std::optional<HidUsagePair> usage) {
  const auto& all = s.collections;
  if (usage) {
    auto it = std::find_if(all.begin(), all.end(), [&](const auto& c) { return c.usage == *usage; });
    if (it != all.end()) return &*it;
    it = std::find_if(all.begin(), all.end(), [&](const auto& c) {
      return std::find(c.nested_usages.begin(), c.nested_usages.end(), *usage) != c.nested_usages.end();
    });
    if (it != all.end()) return &*it;
  }
  auto it = std::find_if(all.begin(), all.end(), [](const auto& c) { return c.has_input && c.has_output; });
  return it != all.end() ? &*it : nullptr;
}

}  // namespace

ReportLayout select_report_layout(const ReportDescriptorSummary& summary, std::optional<HidUsagePair> usage) {
  if (summary.collections.size() <= 1) return layout_of(summary);
  const ReportCollectionSummary* chosen = find_collection(summary, usage);
  if (chosen == nullptr) return layout_of(summary);
  ReportLayout layout = layout_of(*chosen);
  for (const ReportCollectionSummary& other : summary.collections) {
    for (uint8_t id : other.input_report_ids) layout.foreign_input_ids.set(id);
  }
  for (uint8_t id : chosen->input_report_ids) layout.foreign_input_ids.reset(id);
  // Its own first input item's ID is never passed over, even when that item
  // carries no bits and another collection reuses the ID.
  layout.foreign_input_ids.reset(chosen->input_report_id);
  // Without report IDs nothing tells the collections' reports apart.
  if (!summary.uses_report_ids) layout.foreign_input_ids.reset();
  return layout;
}

}  // namespace torvane
