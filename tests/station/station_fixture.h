// The station on a simulated bus: the fixture the station tests share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "device/hid_link.h"
#include "monitor/sim_hotplug_source.h"
#include "sim/sim_bus.h"
#include "station/station_core.h"
#include "tests/support/temp_dir.h"

namespace torvane::station_test {

using testing::TempDir;

// Keeps what the station said, for the checks.
class Recorder final : public StationObserver {
 public:
  void OnUnitAppeared(const UnitView& unit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    units_.insert(unit.unit);
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    states_.clear();
    finished_.clear();
    units_.clear();
    departures_ = 0;
  }
  // Every unit number that got a row.
  size_t UnitsShown() {
    std::lock_guard<std::mutex> lock(mutex_);
    return units_.size();
  }
  void OnUnitState(const UnitView& unit, UnitState state, const std::string& detail) override {
    std::lock_guard<std::mutex> lock(mutex_);
    states_[unit.port].push_back(state);
    details_[unit.port] = detail;
    if (state == UnitState::kGone) ++departures_;
  }
  // The states a port's units went through, and the last detail told.
  std::vector<UnitState> States(const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    return states_[port];
  }
  std::string Detail(const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    return details_[port];
  }
  // How many departures of units the station has reported.
  size_t Departures() {
    std::lock_guard<std::mutex> lock(mutex_);
    return departures_;
  }
  void OnUnitFinished(const UnitView& unit, const UnitResult& result) override {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.push_back({unit, result});
  }
  std::vector<std::pair<UnitView, UnitResult>> Finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::vector<UnitState>> states_;
  std::map<std::string, std::string> details_;
  std::vector<std::pair<UnitView, UnitResult>> finished_;
  std::set<uint64_t> units_;
  size_t departures_ = 0;
};

// A JSON field of a record line, as text (the lines are flat objects).
inline std::string Field(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  size_t at = line.find(marker);
  if (at == std::string::npos) return "";
  at += marker.size();
  if (line[at] == '"') return line.substr(at + 1, line.find('"', at + 1) - at - 1);
  return line.substr(at, line.find_first_of(",}", at) - at);
}

class Station : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_shared<sim::SimBus>();
    hid_link_set_backend(bus_);
    hid_link_init();
    image_ = dir_.Write("app.bin", testing::PatternBytes(4800));
    dir_.Write("burn_boot.bin", testing::PatternBytes(960, 7));
    dir_.Write("head.bin", testing::PatternBytes(48, 9));
    config_.image_path = image_;
    config_.boot_update_image = dir_.dir() + "burn_boot.bin";
    config_.boot_update_header = dir_.dir() + "head.bin";
    config_.record_path = dir_.dir() + "units.jsonl";
    config_.busy_sleep = [](int) {};
    config_.stop_deadline = std::chrono::milliseconds(3000);
  }
  void TearDown() override {
    station_.reset();
    hid_link_exit();
    hid_link_set_backend(nullptr);
  }
  sim::SimDeviceId Plug(const std::string& knobs) {
    sim::SimKnobs k;
    std::string error;
    EXPECT_TRUE(sim::parse_sim_knobs(knobs, &k, &error)) << error;
    return bus_->attach_model(k);
  }
  void StartStation() {
    station_ = std::make_unique<StationCore>(config_);
    std::string error;
    StationStartError why;
    ASSERT_TRUE(station_->Start(&observer_, MakeSimHotplugSource(bus_), &error, &why)) << error;
  }
  bool WaitForFinished(size_t n) {
    for (int i = 0; i < 1000 && observer_.Finished().size() < n; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return observer_.Finished().size() >= n;
  }
  std::vector<std::string> RecordLines() const {
    std::ifstream in(config_.record_path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Serial(sim::SimDeviceId id) const { return "U" + std::to_string(id); }

  TempDir dir_;
  std::string image_;
  std::shared_ptr<sim::SimBus> bus_;
  StationConfig config_;
  Recorder observer_;
  std::unique_ptr<StationCore> station_;
};

}  // namespace torvane::station_test
