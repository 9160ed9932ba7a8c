// The station soak: 64 simulated bootloaders flashed at once, several runs
// in a row. Every unit passes and is recorded once; a restarting unit's
// departing interface (its port already unreadable: the bus's natural race,
// and port-lost-ms on every other unit) never becomes a unit of its own.
//
// Runs only with TORVANE_SOAK=1; TORVANE_SOAK_STATION_RUNS sets the runs.
#include <cstdlib>

#include "tests/station/station_fixture.h"

namespace torvane {
namespace {

using namespace station_test;
using namespace std::chrono_literals;

constexpr int kUnits = 64;

TEST_F(Station, SoakSixtyFourUnitsAtOnceGiveNoPhantomUnits) {
  if (std::getenv("TORVANE_SOAK") == nullptr) GTEST_SKIP() << "set TORVANE_SOAK=1 to run the soak";
  const char* runs_text = std::getenv("TORVANE_SOAK_STATION_RUNS");
  const int runs = runs_text != nullptr ? std::atoi(runs_text) : 5;
  for (int run = 1; run <= runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    station_.reset();
    hid_link_exit();
    bus_ = std::make_shared<sim::SimBus>();
    hid_link_set_backend(bus_);
    hid_link_init();
    observer_.Clear();
    config_.record_path = dir_.dir() + "soak-" + std::to_string(run) + ".jsonl";
    for (int i = 0; i < kUnits; ++i) Plug(i % 2 == 0 ? "boot,latency-us=3000" : "boot,latency-us=3000,port-lost-ms=50");
    const auto began = std::chrono::steady_clock::now();
    StartStation();
    for (int i = 0; i < 3000 && RecordLines().size() < kUnits; ++i) std::this_thread::sleep_for(10ms);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    // Every unit restarts into its application meanwhile: the phantoms' time.
    std::this_thread::sleep_for(1s);
    station_->RequestStop();
    ASSERT_TRUE(station_->WaitUntilDone(30s));
    ASSERT_TRUE(station_->Stop());
    const std::vector<std::string> records = RecordLines();
    const StationCounters c = station_->Counters();
    std::printf("station soak run %d: %zu records, %d passed, %d failed, %zu units shown, %.2f s\n", run,
                records.size(), c.passed, c.failed, observer_.UnitsShown(), seconds);
    EXPECT_EQ(records.size(), static_cast<size_t>(kUnits));
    EXPECT_EQ(c.passed, kUnits);
    EXPECT_EQ(c.failed, 0);
    EXPECT_EQ(observer_.UnitsShown(), static_cast<size_t>(kUnits)) << "a row for a unit that does not exist";
    for (const std::string& r : records) EXPECT_EQ(Field(r, "result"), "0") << r;
  }
}

}  // namespace
}  // namespace torvane
