// Which attached device a torvane-cli command works on: --path, --serial and
// --port narrow the HID layer's view to the matching interfaces, so detection
// and opening see only them; several matching devices are refused rather
// than one of them flashed at random.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/hid_backend.h"
#include "station/attached_interfaces.h"

namespace torvane::cli {

struct DeviceSelection {
  std::string path;    // hidraw path, exactly
  std::string serial;  // serial number, exactly
  std::string port;    // port path, exactly (see `list`)
  bool Any() const { return !path.empty() || !serial.empty() || !port.empty(); }
};

// True when the interface satisfies every part of the selection given.
bool SelectionMatches(const DeviceSelection& selection, const std::string& path, const std::string& serial,
                      const std::string& port);

// A backend that lists only the interfaces of `inner` the selection matches
// (evaluated at each enumeration, so devices plugged in later count too).
std::shared_ptr<HidBackend> MakeSelectingBackend(std::shared_ptr<HidBackend> inner, DeviceSelection selection);

// What a command acts on.
enum class SelectionPurpose {
  kFlash,      // a bootloader
  kEnterBoot,  // an application device
  kInfo,       // the bootloader if any, else the application device
};

// The distinct devices (by path) among `attached` the command could act on.
std::vector<AttachedInterface> SelectionCandidates(const std::vector<AttachedInterface>& attached,
                                                   SelectionPurpose purpose);

// When more than one candidate is attached, prints the refusal with the
// candidates and how to pick one on standard error and returns true.
bool RefuseAmbiguous(const std::vector<AttachedInterface>& candidates, const char* command);

// The same for the interfaces attached now (the HID layer's list is rebuilt).
bool RefuseAmbiguousAttached(const Settings& settings, SelectionPurpose purpose, const char* command);

}  // namespace torvane::cli
