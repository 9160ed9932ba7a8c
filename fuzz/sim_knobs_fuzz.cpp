// libFuzzer target for the simulator's knob text: any text gives either a
// knob set or a one-line reason, and a knob set's canonical text reads back
// to the same set and formats to the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/sim_knobs.h"

using torvane::sim::SimKnobs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SimKnobs knobs;
  std::string error;
  if (!torvane::sim::parse_sim_knobs(text, &knobs, &error)) {
    if (error.empty()) std::abort();
    if (!(knobs == SimKnobs{})) std::abort();  // a refusal leaves the set untouched
    return 0;
  }
  const std::string canonical = torvane::sim::format_sim_knobs(knobs);
  SimKnobs again;
  if (!torvane::sim::parse_sim_knobs(canonical, &again, &error)) std::abort();
  if (!(again == knobs)) std::abort();
  if (torvane::sim::format_sim_knobs(again) != canonical) std::abort();
  // Every mode's identity can be built from an accepted set.
  for (auto kind : {torvane::sim::SimDeviceKind::kApp, torvane::sim::SimDeviceKind::kBoot,
                    torvane::sim::SimDeviceKind::kOldBoot}) {
    const auto identity = torvane::sim::sim_identity_for(knobs, kind);
    if (identity.report_length != knobs.report_length) std::abort();
    if (torvane::sim::sim_info_text_for(knobs, kind).size() > torvane::sim::kSimMaxInfoLength) std::abort();
  }
  return 0;
}
