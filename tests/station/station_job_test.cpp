// The station running a production job: the slot map decides which ports
// are flashed, the job's SHA-256 pins the image.
#include "job/production_job.h"
#include "station/image_digest.h"
#include "tests/station/station_fixture.h"

namespace torvane {
namespace {

using namespace station_test;

class StationJob : public Station {
 protected:
  void SetUp() override {
    Station::SetUp();
    const std::vector<uint8_t> bytes = testing::PatternBytes(4800);
    job_ = std::make_shared<ProductionJob>();
    job_->image_path = image_;
    job_->sha256 = DigestBytes(bytes.data(), bytes.size()).sha256;
    job_->slots = {{"bay-1", "槽1"}, {"bay-2", "槽2"}};
    config_.job = job_;
  }
  std::shared_ptr<ProductionJob> job_;
};

TEST_F(StationJob, OnlyMappedPortsAreFlashedCountedAndRecordedUnderTheirSlot) {
  const sim::SimDeviceId one = Plug("boot,port=bay-1,serial=U1");
  const sim::SimDeviceId two = Plug("boot,port=bay-2,serial=U2");
  const sim::SimDeviceId outside = Plug("boot,port=bay-9,serial=U3");
  config_.count = 2;
  StartStation();
  ASSERT_TRUE(station_->WaitUntilDone(std::chrono::seconds(20)));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(bus_->model(one)->verdict().completed);
  EXPECT_TRUE(bus_->model(two)->verdict().completed);
  EXPECT_FALSE(bus_->model(outside)->verdict().transfer_started);
  EXPECT_EQ(observer_.States("bay-9"), std::vector<UnitState>{UnitState::kSkipped});
  EXPECT_NE(observer_.Detail("bay-9").find("bay-9"), std::string::npos) << observer_.Detail("bay-9");
  const std::vector<std::string> records = RecordLines();
  ASSERT_EQ(records.size(), 2u);
  for (const std::string& record : records) {
    EXPECT_EQ(Field(record, "slot"), Field(record, "port") == "bay-1" ? "槽1" : "槽2") << record;
  }
  for (const auto& [view, result] : observer_.Finished()) EXPECT_EQ(view.slot, job_->slots.at(view.port));
  EXPECT_EQ(station_->Counters().passed, 2);
  EXPECT_EQ(station_->Counters().failed, 0);
}

TEST_F(StationJob, AnImageOtherThanThePinnedOneIsRefusedBeforeAnyUnit) {
  const sim::SimDeviceId id = Plug("boot,port=bay-1");
  const std::string pinned(64, 'a');
  job_->sha256 = pinned;
  StationCore station(config_);
  std::string error;
  StationStartError why;
  EXPECT_FALSE(station.Start(&observer_, MakeSimHotplugSource(bus_), &error, &why));
  EXPECT_EQ(why, StationStartError::kPinnedImage);
  const std::vector<uint8_t> bytes = testing::PatternBytes(4800);
  EXPECT_NE(error.find(pinned), std::string::npos) << error;
  EXPECT_NE(error.find(DigestBytes(bytes.data(), bytes.size()).sha256), std::string::npos) << error;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(bus_->model(id)->verdict().transfer_started);
  EXPECT_TRUE(RecordLines().empty());
}

}  // namespace
}  // namespace torvane
