#include "cli/sim_arrivals.h"

#include <charconv>

namespace torvane::cli {

namespace {

// The "@MS" that ends an item, or npos when the item does not end a device.
size_t ArrivalMark(std::string_view item) {
  const size_t at = item.rfind('@');
  if (at == std::string_view::npos || at + 1 == item.size()) return std::string_view::npos;
  for (size_t i = at + 1; i < item.size(); ++i) {
    if (item[i] < '0' || item[i] > '9') return std::string_view::npos;
  }
  return at;
}

bool AddDevice(const std::string& knob_text, int delay_ms, std::vector<SimArrival>* out, std::string* error) {
  SimArrival arrival;
  arrival.delay_ms = delay_ms;
  arrival.text = knob_text;
  std::string reason;
  if (!sim::parse_sim_knobs(knob_text, &arrival.knobs, &reason)) {
    *error = "device " + std::to_string(out->size() + 1) + " ('" + knob_text + "'): " + reason;
    return false;
  }
  out->push_back(std::move(arrival));
  return true;
}

}  // namespace

bool ParseSimArrivals(std::string_view text, std::vector<SimArrival>* out, std::string* error) {
  std::vector<SimArrival> parsed;
  std::string pending;  // knob text of the device being read
  int last_delay = 0;
  size_t start = 0;
  for (;;) {
    // Items end at commas that are not escaped ("\," stays in the knob text).
    size_t end = start;
    while (end < text.size() && text[end] != ',') end += text[end] == '\\' && end + 1 < text.size() ? 2 : 1;
    std::string_view item = text.substr(start, end - start);
    if (item.find_first_not_of(" \t") == std::string_view::npos) {
      *error = "empty item " + std::to_string(parsed.size() + 1) + " (two commas in a row, or a trailing comma)";
      return false;
    }
    const size_t mark = ArrivalMark(item);
    if (!pending.empty()) pending += ',';
    if (mark == std::string_view::npos) {
      pending.append(item);
    } else {
      pending.append(item.substr(0, mark));
      int delay = 0;
      const std::string_view digits = item.substr(mark + 1);
      const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), delay);
      if (ec != std::errc() || ptr != digits.data() + digits.size() || delay > kMaxArrivalDelayMs) {
        *error = "arrival time '" + std::string(digits) + "' is not 0.." + std::to_string(kMaxArrivalDelayMs) + " ms";
        return false;
      }
      if (!AddDevice(pending, delay, &parsed, error)) return false;
      pending.clear();
      last_delay = delay;
    }
    if (end >= text.size()) break;
    start = end + 1;
  }
  if (!pending.empty() || parsed.empty()) {
    if (!AddDevice(pending, last_delay, &parsed, error)) return false;
  }
  *out = std::move(parsed);
  return true;
}

}  // namespace torvane::cli
