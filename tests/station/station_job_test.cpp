// The station running a production job: the slot map decides which ports
// are flashed, the job's SHA-256 pins the image, and every unit gets a
// serial number of its own from the journal.
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <filesystem>

#include "job/production_job.h"
#include "job/serial_journal.h"
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
    job_->slot_map = {{"bay-1", "槽1"}, {"bay-2", "槽2"}};
    config_.job = job_;
  }
  // A counter from SN00001000, written at App Address + 0x100 as 8 ASCII
  // characters; each device reads it back from what it received.
  void PlanSerials(uint64_t start = 1000, std::optional<uint64_t> last = std::nullopt) {
    SerialPlan plan;
    plan.address = config_.settings.app_address + 0x100;
    plan.width = 8;
    plan.format = SerialFormat::kAsciiDecimal;
    plan.prefix = "SN";
    plan.start = start;
    plan.last = last;
    plan.journal_path = dir_.dir() + "job.serials";
    job_->serial = plan;
    job_->path = dir_.dir() + "job.ini";
  }
  std::string SerialKnob() const {
    char text[64];
    std::snprintf(text, sizeof(text), "serial-at=%X:8:dec:SN", job_->serial->address);
    return text;
  }
  std::shared_ptr<ProductionJob> job_;
};

// "boot,port=bay-1,..." -> "bay-1".
std::string PortOf(const std::string& knobs) {
  const size_t at = knobs.find("port=") + 5;
  return knobs.substr(at, knobs.find(',', at) - at);
}

// Units plugged in over a run: each once `after` units have finished.
struct Arrival {
  std::string knobs;
  size_t after = 0;
};
struct SerialRun {
  const char* name;
  int count;
  std::vector<Arrival> arrivals;
  int passed;
  int failed;
  std::vector<std::string> serials_passed;  // in the order the units passed
  uint64_t used;                            // serials the journal holds used
};

TEST_F(StationJob, EveryPassedUnitHoldsItsOwnSerialAndAFailedOneGivesItsSerialOn) {
  const SerialRun runs[] = {
      {"four mapped units, one unmapped",
       4,
       {{"boot,port=bay-1"}, {"boot,port=bay-2"}, {"boot,port=bay-3"}, {"boot,port=bay-4"}, {"boot,port=bay-9"}},
       4,
       0,
       {},
       4},
      {"a failed unit's serial goes to the next",
       2,
       {{"boot,port=bay-1,silent-block=2"}, {"boot,port=bay-2", 1}},
       1,
       1,
       {"SN001000"},
       1},
      {"a unit failing on its last block keeps its serial",
       2,
       {{"boot,port=bay-1,wrong-echo-block=99"}, {"boot,port=bay-2", 1}},
       1,
       1,
       {"SN001001"},
       2},
  };
  for (const SerialRun& run : runs) {
    SCOPED_TRACE(run.name);
    TearDown();
    SetUp();
    observer_.Clear();
    std::remove(config_.record_path.c_str());
    std::remove((dir_.dir() + "job.serials").c_str());
    job_->slot_map = {{"bay-1", "槽1"}, {"bay-2", "槽2"}, {"bay-3", "槽3"}, {"bay-4", "槽4"}};
    PlanSerials();
    config_.count = run.count;
    std::map<std::string, sim::SimDeviceId> ids;
    size_t plugged = 0;
    for (; plugged < run.arrivals.size() && run.arrivals[plugged].after == 0; ++plugged) {
      ids[PortOf(run.arrivals[plugged].knobs)] = Plug(run.arrivals[plugged].knobs + "," + SerialKnob());
    }
    StartStation();
    for (; plugged < run.arrivals.size(); ++plugged) {
      ASSERT_TRUE(WaitForFinished(run.arrivals[plugged].after));
      ids[PortOf(run.arrivals[plugged].knobs)] = Plug(run.arrivals[plugged].knobs + "," + SerialKnob());
    }
    ASSERT_TRUE(station_->WaitUntilDone(std::chrono::seconds(20)));
    ASSERT_TRUE(station_->Stop());
    EXPECT_EQ(station_->Counters().passed, run.passed);
    EXPECT_EQ(station_->Counters().failed, run.failed);

    // A port outside the slot map is skipped and never flashed.
    if (ids.count("bay-9")) {
      EXPECT_FALSE(bus_->model(ids["bay-9"])->verdict().transfer_started);
      EXPECT_EQ(observer_.States("bay-9"), std::vector<UnitState>{UnitState::kSkipped});
      EXPECT_NE(observer_.Detail("bay-9").find("port bay-9"), std::string::npos) << observer_.Detail("bay-9");
    }
    // Units counted = units recorded, under their slots; every passed unit's
    // device holds the serial its record names, and the record's digest is
    // of what it got.
    const std::vector<std::string> records = RecordLines();
    ASSERT_EQ(records.size(), static_cast<size_t>(run.passed + run.failed));
    for (const auto& [view, result] : observer_.Finished()) EXPECT_EQ(view.slot, job_->slot_map.at(view.port));
    std::vector<std::string> passed_serials;
    for (const std::string& record : records) {
      ASSERT_EQ(ids.count(Field(record, "port")), 1u) << record;
      EXPECT_EQ(Field(record, "slot"), job_->slot_map.at(Field(record, "port"))) << record;
      const sim::SimVerdict v = bus_->model(ids[Field(record, "port")])->verdict();
      if (Field(record, "result") != "0") continue;
      passed_serials.push_back(Field(record, "serial_number"));
      EXPECT_EQ(v.serial_number, Field(record, "serial_number")) << v.summary();
      EXPECT_EQ(Field(record, "sha256"), DigestBytes(v.bytes.data(), v.bytes.size()).sha256) << record;
    }
    const std::set<std::string> distinct(passed_serials.begin(), passed_serials.end());
    EXPECT_EQ(distinct.size(), passed_serials.size());
    if (!run.serials_passed.empty()) {
      EXPECT_EQ(passed_serials, run.serials_passed);
    }

    // The journal agrees: a serial used per passed unit, and per unit that
    // may hold its serial.
    station_.reset();
    std::string error;
    const auto journal = SerialJournal::Open(*job_->serial, &error);
    ASSERT_TRUE(journal) << error;
    EXPECT_EQ(journal->Used(), run.used);
    EXPECT_EQ(journal->BurnedOnOpen(), 0u);
  }
}

#ifndef _WIN32
TEST_F(StationJob, AJournalThatCannotBeWrittenFailsItsUnitAndStopsTheStation) {
  PlanSerials();
  config_.count = 3;
  config_.record_path.clear();  // the journal is the only file that grows
  job_->slot_map["bay-3"] = "槽3";
  Plug("boot,port=bay-1," + SerialKnob());
  StartStation();
  ASSERT_TRUE(WaitForFinished(1));
  // The journal cannot grow by another line.
  const auto journal_size = std::filesystem::file_size(job_->serial->journal_path);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = journal_size + 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const sim::SimDeviceId second = Plug("boot,port=bay-2," + SerialKnob());
  const bool done = station_->WaitUntilDone(std::chrono::seconds(10));
  const sim::SimDeviceId third = Plug("boot,port=bay-3," + SerialKnob());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);

  EXPECT_TRUE(done) << "the station stops taking units";
  EXPECT_TRUE(station_->SerialJournalFailed());
  EXPECT_FALSE(bus_->model(second)->verdict().transfer_started) << "no serial, no flash";
  EXPECT_FALSE(bus_->model(third)->verdict().transfer_started);
  EXPECT_EQ(station_->Counters().passed, 1);
  EXPECT_EQ(station_->Counters().failed, 1);
  EXPECT_EQ(observer_.States("bay-3"), std::vector<UnitState>{UnitState::kIdle});
}
#endif

TEST_F(StationJob, AJobItsImageOrSerialsCannotServeIsRefusedBeforeAnyUnit) {
  struct Refusal {
    const char* name;
    std::function<void()> change;
    StationStartError why;
    std::string says;
  };
  const std::vector<uint8_t> bytes = testing::PatternBytes(4800);
  const std::string pin(64, 'a');
  const Refusal refusals[] = {
      {"another image than the pinned one",
       [&] { job_->sha256 = pin; },
       StationStartError::kPinnedImage,
       DigestBytes(bytes.data(), bytes.size()).sha256 + ", the job pins " + pin},
      {"fewer serials left than units",
       [this] { PlanSerials(1000, 1002); },
       StationStartError::kSerials,
       "3 serial numbers left"},
      {"no count", [this] { config_.count = 0; }, StationStartError::kSerials, "count"},
      {"serial outside the image",
       [this] { job_->serial->address = config_.settings.app_address + 4800 - 4; },
       StationStartError::kSerials,
       "serial.address"},
      {"journal in a missing folder",
       [this] { job_->serial->journal_path = dir_.dir() + "missing/job.serials"; },
       StationStartError::kSerials,
       "missing/job.serials"},
  };
  const sim::SimDeviceId id = Plug("boot,port=bay-1");
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.name);
    job_->sha256 = DigestBytes(bytes.data(), bytes.size()).sha256;
    PlanSerials();
    config_.count = 4;
    refusal.change();
    StationCore station(config_);
    std::string error;
    StationStartError why;
    EXPECT_FALSE(station.Start(&observer_, MakeSimHotplugSource(bus_), &error, &why));
    EXPECT_EQ(why, refusal.why);
    EXPECT_NE(error.find(refusal.says), std::string::npos) << error;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(bus_->model(id)->verdict().transfer_started);
  EXPECT_TRUE(RecordLines().empty());
}

}  // namespace
}  // namespace torvane
