#include "cli/device_selection.h"

#include <algorithm>
#include <cstdio>

#include "device/hid_error_text.h"
#include "monitor/printable_text.h"

namespace torvane::cli {

namespace {

class SelectingBackend final : public HidBackend {
 public:
  SelectingBackend(std::shared_ptr<HidBackend> inner, DeviceSelection selection)
      : inner_(std::move(inner)), selection_(std::move(selection)) {}

  bool initialise(std::string* error) override { return inner_->initialise(error); }
  void shutdown() override { inner_->shutdown(); }

  std::vector<HidInterfaceRecord> enumerate() override {
    std::vector<HidInterfaceRecord> records = inner_->enumerate();
    std::erase_if(records, [this](const HidInterfaceRecord& r) {
      const std::string serial = r.serial_number ? hid_wide_to_utf8(r.serial_number->c_str()) : std::string();
      // The port is looked up only when the selection names one.
      const std::string port = selection_.port.empty() ? std::string() : inner_->port_path(r.path);
      return !SelectionMatches(selection_, r.path, serial, port);
    });
    return records;
  }

  std::unique_ptr<HidBackendDevice> open_path(const std::string& path, std::string* error) override {
    return inner_->open_path(path, error);
  }
  std::string port_path(const std::string& path) override { return inner_->port_path(path); }

 private:
  std::shared_ptr<HidBackend> inner_;
  const DeviceSelection selection_;
};

bool Wanted(DeviceState kind, SelectionPurpose purpose) {
  switch (purpose) {
    case SelectionPurpose::kFlash: return IsBootloaderKind(kind);
    case SelectionPurpose::kEnterBoot: return kind == DS_APP;
    case SelectionPurpose::kInfo: return kind != DS_NONE;
  }
  return false;
}

}  // namespace

bool SelectionMatches(const DeviceSelection& s, const std::string& path, const std::string& serial,
                      const std::string& port) {
  return (s.path.empty() || s.path == path) && (s.serial.empty() || s.serial == serial) &&
         (s.port.empty() || s.port == port);
}

std::shared_ptr<HidBackend> MakeSelectingBackend(std::shared_ptr<HidBackend> inner, DeviceSelection selection) {
  return std::make_shared<SelectingBackend>(std::move(inner), std::move(selection));
}

std::vector<AttachedInterface> SelectionCandidates(const std::vector<AttachedInterface>& attached,
                                                   SelectionPurpose purpose) {
  std::vector<AttachedInterface> out;
  for (const AttachedInterface& entry : attached) {
    if (!Wanted(entry.kind, purpose)) continue;
    const bool seen = std::any_of(out.begin(), out.end(), [&](const AttachedInterface& e) { return e.path == entry.path; });
    if (!seen) out.push_back(entry);
  }
  // Detection prefers a bootloader: an application device beside one is
  // not a rival for `info`.
  if (purpose == SelectionPurpose::kInfo &&
      std::any_of(out.begin(), out.end(), [](const AttachedInterface& e) { return IsBootloaderKind(e.kind); })) {
    std::erase_if(out, [](const AttachedInterface& e) { return !IsBootloaderKind(e.kind); });
  }
  return out;
}

bool RefuseAmbiguous(const std::vector<AttachedInterface>& candidates, const char* command) {
  if (candidates.size() < 2) return false;
  std::fprintf(stderr, "%s: %zu devices match; pick one with --path, --serial or --port:\n", command,
               candidates.size());
  for (const AttachedInterface& e : candidates) {
    std::fprintf(stderr, "  %-16s  port %-12s  serial %-16s  %s\n", KindName(e.kind),
                 e.port.empty() ? "-" : e.port.c_str(), e.serial.empty() ? "-" : EscapeControlCharacters(e.serial).c_str(),
                 e.path.c_str());
  }
  return true;
}

bool RefuseAmbiguousAttached(const Settings& settings, SelectionPurpose purpose, const char* command) {
  return RefuseAmbiguous(SelectionCandidates(ListAttachedInterfaces(settings, true), purpose), command);
}

}  // namespace torvane::cli
