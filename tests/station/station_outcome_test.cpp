// Every unit the station takes ends with one final outcome, recorded and
// counted once: scenarios over simulated arrivals, faults, unplugs, stops
// and cancels, each checked against the same invariants at the end.
#include <functional>
#include <set>

#include "tests/station/station_fixture.h"

namespace torvane {
namespace {

using namespace station_test;
using namespace std::chrono_literals;

class StationOutcome : public Station {
 public:
  void SetUp() override {
    Station::SetUp();
    config_.forget_after = 400ms;
    config_.boot_wait = 600ms;
    config_.restart_window = 150ms;
  }
  bool WaitForRecords(size_t n) {
    for (int i = 0; i < 1000 && RecordLines().size() < n; ++i) std::this_thread::sleep_for(10ms);
    return RecordLines().size() >= n;
  }
  // The final line of each unit, by unit number (a pass found wanting later
  // has a second final line, which decides).
  std::map<std::string, std::string> FinalLines() const {
    std::map<std::string, std::string> finals;
    for (const std::string& line : RecordLines()) {
      if (Field(line, "final") == "true") finals[Field(line, "unit")] = line;
    }
    return finals;
  }
  // Units counted = units with a final record, and they agree on passes.
  void ExpectInvariants() {
    const StationCounters c = station_->Counters();
    const auto finals = FinalLines();
    const auto passes = std::count_if(finals.begin(), finals.end(),
                                      [](const auto& f) { return Field(f.second, "result") == "0"; });
    EXPECT_EQ(static_cast<size_t>(c.passed + c.failed), finals.size());
    EXPECT_EQ(c.passed, passes);
    EXPECT_EQ(c.active, 0);
  }
  std::vector<std::string> FinalNames() const {
    std::vector<std::string> names;
    for (const auto& [unit, line] : FinalLines()) names.push_back(Field(line, "result_name"));
    std::sort(names.begin(), names.end());
    return names;
  }
};

class StationScenarios;

struct Scenario {
  const char* name;
  std::function<void(StationConfig&)> configure;
  std::vector<std::string> devices;
  // Runs while the station does.
  std::function<void(StationScenarios&)> script;
  int passed;
  int failed;
  std::vector<std::string> final_names;  // sorted result_name of each unit's final line
  const char* detail_part = "";          // some final line's detail contains it
};

class StationScenarios : public StationOutcome {
 public:
  void Run(const Scenario& s) {
    SCOPED_TRACE(s.name);
    // A bus, a record file and a configuration of its own.
    station_.reset();
    hid_link_exit();
    bus_ = std::make_shared<sim::SimBus>();
    hid_link_set_backend(bus_);
    hid_link_init();
    static const StationConfig base = config_;
    config_ = base;
    config_.record_path = dir_.dir() + "units-" + std::to_string(++runs_) + ".jsonl";
    if (s.configure) s.configure(config_);
    ids.clear();
    observer_.Clear();
    for (const std::string& knobs : s.devices) ids.push_back(Plug(knobs));
    StartStation();
    if (s.script) s.script(*this);
    if (!station_->WaitUntilDone(15s)) {
      std::string lines;
      for (const std::string& line : RecordLines()) lines += line + "\n";
      FAIL() << "the run must end; records:\n" << lines;
    }
    station_->Stop();
    const StationCounters c = station_->Counters();
    EXPECT_EQ(c.passed, s.passed);
    EXPECT_EQ(c.failed, s.failed);
    ExpectInvariants();
    EXPECT_EQ(FinalNames(), s.final_names);
    bool detail_found = false;
    for (const auto& [unit, line] : FinalLines()) {
      detail_found |= Field(line, "detail").find(s.detail_part) != std::string::npos;
    }
    EXPECT_TRUE(detail_found) << s.detail_part;
    for (const std::string& line : RecordLines()) {
      EXPECT_EQ(Field(line, "detail").find("cannot open"), std::string::npos) << "no phantom unit: " << line;
    }
  }
  static void Sleep(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }
  // Waits until the station has seen `n` departures in this run: a unit put
  // back before the station looked again would look as if it never left.
  bool WaitDepartures(size_t n) {
    for (int i = 0; i < 1000 && observer_.Departures() < n; ++i) Sleep(10ms);
    return observer_.Departures() >= n;
  }
  bool WaitActive(int n) {
    for (int i = 0; i < 1000 && station_->Counters().active < n; ++i) Sleep(5ms);
    return station_->Counters().active >= n;
  }
  sim::SimBus& bus() { return *bus_; }
  StationCore& station() { return *station_; }
  sim::SimDeviceId PlugNow(const std::string& knobs) { return Plug(knobs); }
  std::vector<sim::SimDeviceId> ids;

 private:
  int runs_ = 0;
};

auto Config(int attempts, int count, bool enter_boot = false) {
  return [=](StationConfig& c) {
    c.attempts = attempts;
    c.count = count;
    c.enter_boot = enter_boot;
  };
}

TEST_F(StationScenarios, EveryUnitEndsWithOneRecordedCountedOutcome) {
  const std::vector<Scenario> scenarios = {
      {"failed with an attempt left, unplugged and never back", Config(2, 1), {"boot,silent-block=2,serial=U1"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitForRecords(1));
         t.bus().unplug(t.ids[0]);
       },
       0, 1, {"protocol-error"}, "not back within 0.4 s; no attempt 2"},
      {"refused with an attempt left, still attached at the stop", Config(2, 0), {"boot,start-status=9,serial=U1"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitForRecords(1));
         t.station().RequestStop();
       },
       0, 1, {"protocol-error"}, "station stopped; no attempt 2"},
      {"failed twice: attempts used up", Config(2, 1), {"boot,silent-block=2,silent-block=3,serial=U1"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitForRecords(1));
         t.bus().unplug(t.ids[0]);
         ASSERT_TRUE(t.WaitDepartures(1));
         t.bus().replug(t.ids[0]);
       },
       0, 1, {"protocol-error"}},
      {"an application refusing enter-boot", Config(1, 1, true), {"app,enter-status=9"}, nullptr, 0, 1,
       {"enter-boot-failed"}, "enter-boot answered status 9"},
      {"an application that never comes back as a bootloader", Config(1, 1, true), {"app,no-restart"}, nullptr, 0, 1,
       {"enter-boot-failed"}, "no bootloader appeared on its port within 0.6 s"},
      // Its bootloader arrives while the enter-boot exchange still waits for
      // an answer: the arrival is parked, then looked at.
      {"a silent application that resets at once", Config(1, 1, true), {"app,enter-silent,restart-ms=20"}, nullptr, 1,
       0, {"ok"}},
      {"a stop while the unit is on its way into its bootloader", Config(1, 0, true), {"app,restart-ms=300"},
       [](StationScenarios& t) {
         t.Sleep(150ms);
         t.station().RequestStop();
       },
       1, 0, {"ok"}},
      {"a cancel while the unit is on its way into its bootloader", Config(1, 0, true), {"app,restart-ms=300"},
       [](StationScenarios& t) {
         t.Sleep(150ms);
         t.station().CancelAll();
       },
       0, 1, {"cancelled"}, "cancelled"},
      {"a pass whose application never starts", Config(1, 0), {"boot,no-app,restart-ms=300,serial=U1"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitForRecords(2)) << "the pass, then the finding";
         t.station().RequestStop();
       },
       0, 1, {"no-application"}, "without starting its application"},
      {"serial-less swap after a failure with an attempt left: the next attempt", Config(2, 1),
       {"boot,no-serial,port=P1,silent-block=2"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitForRecords(1));
         t.bus().unplug(t.ids[0]);
         ASSERT_TRUE(t.WaitDepartures(1));
         t.PlugNow("boot,no-serial,port=P1");
       },
       1, 0, {"ok"}},
      {"serial-less swap after a final failure: a new unit", Config(1, 2),
       {"boot,no-serial,port=P1,silent-block=2"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitForRecords(1));
         t.Sleep(200ms);  // the operator's unplug, not its restart
         t.bus().unplug(t.ids[0]);
         ASSERT_TRUE(t.WaitDepartures(1));
         t.PlugNow("boot,no-serial,port=P1");
       },
       1, 1, {"ok", "protocol-error"}},
      {"serial-less newcomer where a unit left in the middle of its flash: a new unit", Config(1, 2),
       {"boot,no-serial,port=P1,unplug-block=3"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitForRecords(1));
         t.Sleep(100ms);  // the operator's hands; the station may not have looked yet
         t.PlugNow("boot,no-serial,port=P1");
       },
       1, 1, {"ok", "protocol-error"}},
      {"another unit plugged in as the last one's flash fails: a unit of its own (parked while the worker runs)",
       Config(1, 2), {"boot,serial=A,port=P1,silent-block=3"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitActive(1));
         t.Sleep(200ms);  // the worker waits for block 3's answer
         t.bus().unplug(t.ids[0]);  // its handle, still open, keeps its path
         t.PlugNow("boot,serial=B,port=P1");
       },
       1, 1, {"ok", "protocol-error"}},
      {"departing interfaces whose port can no longer be read", Config(1, 4),
       {"boot,port-lost-ms=120,restart-ms=300", "boot,port-lost-ms=120,restart-ms=300",
        "boot,port-lost-ms=120,restart-ms=300", "boot,port-lost-ms=120,restart-ms=300"},
       [](StationScenarios& t) {
         ASSERT_TRUE(t.WaitForRecords(4));
         t.Sleep(600ms);  // every one has left and come back as its application
       },
       4, 0, {"ok", "ok", "ok", "ok"}},
  };
  for (const Scenario& s : scenarios) Run(s);
}

}  // namespace
}  // namespace torvane
