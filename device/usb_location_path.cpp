#include "device/usb_location_path.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace torvane {

namespace {

constexpr std::string_view kRootHub = "USBROOT(";
constexpr std::string_view kPort = "USB(";

// The location's text up to and including its root-hub segment, and the
// rest after the '#' that follows it.
struct SplitLocation {
  std::string_view root;
  std::string_view rest;
};

std::optional<SplitLocation> split_at_root_hub(std::string_view location) {
  size_t at = 0;
  for (;;) {
    at = location.find(kRootHub, at);
    if (at == std::string_view::npos) return std::nullopt;
    if (at == 0 || location[at - 1] == '#') break;
    ++at;
  }
  const size_t close = location.find(')', at);
  if (close == std::string_view::npos) return std::nullopt;
  SplitLocation split{location.substr(0, close + 1), {}};
  if (close + 1 < location.size()) {
    if (location[close + 1] != '#') return std::nullopt;
    split.rest = location.substr(close + 2);
  }
  return split;
}

// The decimal number of a "USB(n)" segment.
std::optional<uint32_t> port_number(std::string_view segment) {
  if (segment.size() <= kPort.size() + 1 || segment.substr(0, kPort.size()) != kPort || segment.back() != ')') {
    return std::nullopt;
  }
  const std::string_view digits = segment.substr(kPort.size(), segment.size() - kPort.size() - 1);
  if (digits.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

}  // namespace

std::string usb_port_name_from_location(std::string_view location,
                                        const std::vector<std::string>& root_hub_locations) {
  const std::optional<SplitLocation> split = split_at_root_hub(location);
  if (!split) return {};

  std::string ports;
  std::string_view rest = split->rest;
  while (!rest.empty()) {
    const size_t hash = rest.find('#');
    const std::string_view segment = rest.substr(0, hash);
    if (segment.substr(0, kPort.size()) != kPort) break;
    const std::optional<uint32_t> port = port_number(segment);
    if (!port) return {};
    if (!ports.empty()) ports += '.';
    ports += std::to_string(*port);
    if (hash == std::string_view::npos) break;
    rest = rest.substr(hash + 1);
  }
  if (ports.empty()) return {};

  std::vector<std::string_view> roots;
  for (const std::string& hub : root_hub_locations) {
    const std::optional<SplitLocation> s = split_at_root_hub(hub);
    if (s && s->rest.empty()) roots.push_back(s->root);
  }
  std::sort(roots.begin(), roots.end());
  roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
  const auto it = std::find(roots.begin(), roots.end(), split->root);
  if (it == roots.end()) return {};
  return std::to_string(it - roots.begin() + 1) + "-" + ports;
}

}  // namespace torvane
