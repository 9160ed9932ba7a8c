// The station on a simulated bus: several units at once, each judged by
// what its own simulated device received.
#include "station/image_digest.h"
#include "tests/station/station_fixture.h"

namespace torvane {
namespace {

using namespace station_test;

TEST_F(Station, MixedFaultsInOneRunEveryRecordAgreesWithItsDevice) {
  config_.count = 6;
  config_.enter_boot = true;
  config_.settings.boot_update_check = true;
  const std::vector<std::string> line = {
      "boot,latency-us=300",       "boot,busy-block=3:2,busy-start=1", "boot,silent-block=4",
      "oldboot",                   "app,restart-ms=20",                "boot,info=ZAVRO:0.2.9.0,start-status=9"};
  std::vector<sim::SimDeviceId> ids;
  for (size_t i = 0; i < line.size(); ++i) ids.push_back(Plug(line[i] + ",serial=U" + std::to_string(i + 1)));
  StartStation();
  ASSERT_TRUE(station_->WaitUntilDone(std::chrono::seconds(20)));
  const std::vector<std::string> records = RecordLines();
  ASSERT_EQ(records.size(), line.size());
  for (const std::string& record : records) {
    sim::SimDeviceId id = 0;
    for (sim::SimDeviceId candidate : ids) {
      if (Field(record, "serial") == Serial(candidate)) id = candidate;
    }
    ASSERT_NE(id, 0u) << record;
    const sim::SimVerdict v = bus_->model(id)->verdict();
    EXPECT_EQ(Field(record, "result") == "0", v.completed) << record << "\n" << v.summary();
    EXPECT_EQ(Field(record, "bytes_acknowledged"), std::to_string(v.completed ? v.bytes.size() : v.blocks_accepted * 48))
        << record << "\n" << v.summary();
    EXPECT_EQ(Field(record, "busy_answers"), std::to_string(v.busy_answers)) << record;
    EXPECT_EQ(v.protocol_violations, 0u) << v.summary();
    if (v.completed) {
      char crc[16];
      std::snprintf(crc, sizeof(crc), "%08x", DigestBytes(v.bytes.data(), v.bytes.size()).crc32);
      EXPECT_EQ(Field(record, "crc32"), crc) << record;
      EXPECT_EQ(Field(record, "sha256"), DigestBytes(v.bytes.data(), v.bytes.size()).sha256);
    }
    // The old bootloader and the advised update get the boot update files.
    const bool update = id == ids[3] || id == ids[5];
    EXPECT_EQ(Field(record, "boot_update"), update ? "true" : "false") << record;
  }
  const StationCounters c = station_->Counters();
  EXPECT_EQ(c.passed, 4);  // plain, busy, old bootloader, the application once in its bootloader
  EXPECT_EQ(c.failed, 2);  // the silent block, the refused start
  EXPECT_TRUE(bus_->model(ids[4])->verdict().completed) << "entered its bootloader and was flashed";
}

TEST_F(Station, UnplugMidFlashFailsThatUnitAndLeavesTheOthersIntact) {
  config_.count = 3;
  const sim::SimDeviceId leaving = Plug("boot,latency-us=500,unplug-block=20,serial=U1");
  const sim::SimDeviceId a = Plug("boot,latency-us=500,serial=U2");
  const sim::SimDeviceId b = Plug("oldboot,latency-us=500,serial=U3");
  StartStation();
  ASSERT_TRUE(station_->WaitUntilDone(std::chrono::seconds(20)));
  for (sim::SimDeviceId id : {a, b}) {
    const sim::SimVerdict v = bus_->model(id)->verdict();
    EXPECT_TRUE(v.completed) << v.summary();
    EXPECT_EQ(v.protocol_violations + v.refusals, 0u) << v.summary();
  }
  for (const std::string& record : RecordLines()) {
    if (Field(record, "serial") != Serial(leaving)) continue;
    EXPECT_EQ(Field(record, "result_name"), "protocol-error") << record;
    EXPECT_EQ(Field(record, "bytes_acknowledged"), std::to_string(20 * 48)) << record;
  }
  EXPECT_EQ(station_->Counters().failed, 1);
}

TEST_F(Station, ReplugAfterSuccessFlashesAgainAndAFailedUnitGetsItsAttempts) {
  config_.attempts = 2;
  config_.restart_window = std::chrono::milliseconds(0);  // the unplugs below are the operator's
  const sim::SimDeviceId stays = Plug("boot,no-restart,serial=U1");
  const sim::SimDeviceId replugged = Plug("boot,no-restart,serial=U2");
  const sim::SimDeviceId flaky = Plug("boot,silent-block=2,serial=U3");
  StartStation();
  ASSERT_TRUE(WaitForFinished(3));
  ASSERT_TRUE(bus_->unplug(replugged));
  ASSERT_TRUE(bus_->unplug(flaky));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(bus_->replug(replugged));
  ASSERT_TRUE(bus_->replug(flaky));
  ASSERT_TRUE(WaitForFinished(5));
  // A third plug of the flaky unit gets no further attempt.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(bus_->model(stays)->verdict().completed_downloads, 1u) << "a unit that stays is not flashed again";
  EXPECT_EQ(bus_->model(replugged)->verdict().completed_downloads, 2u);
  EXPECT_EQ(bus_->model(flaky)->verdict().completed_downloads, 1u) << "second attempt";
  const std::vector<std::string> records = RecordLines();
  ASSERT_EQ(records.size(), 5u);
  const auto second_attempt = [&](const std::string& r) {
    return Field(r, "serial") == Serial(flaky) && Field(r, "attempt") == "2" && Field(r, "result") == "0";
  };
  EXPECT_EQ(std::count_if(records.begin(), records.end(), second_attempt), 1);
  EXPECT_EQ(station_->Counters().passed, 4);
  EXPECT_EQ(station_->Counters().failed, 0) << "the failure had an attempt left";
}

TEST_F(Station, UnwritableRecordStopsTheStationBeforeAnythingIsFlashed) {
  const sim::SimDeviceId id = Plug("boot");
  for (const std::string& bad : {dir_.dir() + "missing/units.jsonl", dir_.path()}) {
    config_.record_path = bad;
    StationCore station(config_);
    std::string error;
    StationStartError why;
    EXPECT_FALSE(station.Start(&observer_, MakeSimHotplugSource(bus_), &error, &why)) << bad;
    EXPECT_EQ(why, StationStartError::kRecord);
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
  config_.record_path.clear();
  config_.image_path = dir_.dir() + "missing.bin";
  StationCore station(config_);
  std::string error;
  StationStartError why;
  EXPECT_FALSE(station.Start(&observer_, MakeSimHotplugSource(bus_), &error, &why));
  EXPECT_EQ(why, StationStartError::kImage);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(bus_->model(id)->verdict().transfer_started);
}

TEST_F(Station, CancelStopsEveryTransferBetweenFramesWithinTheDeadline) {
  std::vector<sim::SimDeviceId> ids;
  for (int i = 1; i <= 3; ++i) ids.push_back(Plug("boot,latency-us=5000,serial=U" + std::to_string(i)));
  StartStation();
  for (int i = 0; i < 500 && station_->Counters().active < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  station_->CancelAll();
  const auto began = std::chrono::steady_clock::now();
  EXPECT_TRUE(station_->WaitUntilDone(std::chrono::seconds(5)));
  EXPECT_TRUE(station_->Stop());
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
  const std::vector<std::string> records = RecordLines();
  ASSERT_EQ(records.size(), 3u);
  for (const std::string& record : records) EXPECT_EQ(Field(record, "result_name"), "cancelled") << record;
  for (sim::SimDeviceId id : ids) {
    const sim::SimVerdict v = bus_->model(id)->verdict();
    EXPECT_FALSE(v.completed);
    EXPECT_EQ(v.protocol_violations, 0u) << "whole frames only: " << v.summary();
  }
}

}  // namespace
}  // namespace torvane
