// The station window's operator signals, whatever toolkit draws them: the
// finished count, the failure alert, failed rows kept until acknowledged
// (also when a new unit takes their port) and the run's yield.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "device/hid_link.h"
#include "download/download_result.h"
#include "monitor/sim_hotplug_source.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "tests/support/temp_dir.h"
#include "ui/station_session.h"
#include "ui/station_table.h"
#include "ui/station_texts.h"
#include "ui/yield_worker.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;

StationRow Row(const std::string& port, uint64_t unit, UnitState state, int result = DL_OK) {
  StationRow row;
  row.port = port;
  row.unit = unit;
  row.state = state;
  row.has_result = state == UnitState::kPassed || state == UnitState::kFailed;
  row.result = result;
  return row;
}

std::string Rows(const StationTable& table) {
  std::string text;
  for (const StationRow& row : table.Rows()) {
    text += row.port + "#" + std::to_string(row.unit) + (row.held ? " held" : "") +
            (AwaitsAcknowledgement(row) ? " awaits" : "") + ";";
  }
  return text;
}

TEST(StationTable, FailedRowsStayUntilAcknowledged) {
  struct Step {
    const char* what;
    std::vector<StationRow> changed;
    std::vector<std::string> removed;
    int acknowledge;  // row index; -1: none
    const char* rows;
  };
  const Step steps[] = {
      {"two units", {Row("p1", 1, UnitState::kFlashing), Row("p2", 2, UnitState::kFlashing)}, {}, -1, "p1#1;p2#2;"},
      {"p1 fails, p2 is cancelled",
       {Row("p1", 1, UnitState::kFailed, DL_PROTOCOL_ERROR), Row("p2", 2, UnitState::kFailed, DL_CANCELLED)}, {}, -1,
       "p1#1 awaits;p2#2;"},
      {"both leave: the failure is held", {}, {"p1", "p2"}, -1, "p1#1 held awaits;"},
      {"a new unit on p1 has a row of its own", {Row("p1", 3, UnitState::kFlashing)}, {}, -1,
       "p1#1 held awaits;p1#3;"},
      {"the newcomer fails too", {Row("p1", 3, UnitState::kFailed, DL_PROTOCOL_ERROR)}, {}, -1,
       "p1#1 held awaits;p1#3 awaits;"},
      {"the held one is acknowledged and goes", {}, {}, 0, "p1#3 awaits;"},
      {"the present one is acknowledged and stays", {}, {}, 0, "p1#3;"},
      {"and goes with its unit", {}, {"p1"}, -1, ""},
      {"p4 fails and another unit replaces it at once", {Row("p4", 4, UnitState::kFailed, DL_FILE_ERROR)}, {}, -1,
       "p4#4 awaits;"},
      {"", {Row("p4", 5, UnitState::kPassed)}, {}, -1, "p4#4 held awaits;p4#5;"},
      {"the failed unit comes back: its row is live again", {Row("p4", 4, UnitState::kFailed, DL_FILE_ERROR)}, {}, -1,
       "p4#4 awaits;"},
  };
  StationTable table;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    StationBatch batch;
    batch.changed = step.changed;
    batch.removed = step.removed;
    table.Apply(batch, StationClock::now());
    if (step.acknowledge >= 0) table.Acknowledge(step.acknowledge);
    EXPECT_EQ(Rows(table), step.rows);
  }
  EXPECT_EQ(table.AcknowledgeAll().size(), 1u);
  EXPECT_EQ(table.AwaitingAcknowledgement(), 0);
  EXPECT_EQ(StationCellText(Row("p1", 1, UnitState::kFailed, DL_PROTOCOL_ERROR), kColState, StationClock::now()),
            "失败: 通信错误 [待确认]");
}

TEST(StationTexts, FinishedCountAndYield) {
  EXPECT_EQ(StationFinishedText(17, 100), "17 / 100");
  EXPECT_EQ(StationFinishedText(17, 0), "17 台");
  // Unit 2 passed on its second attempt; unit 3 never reached its bootloader;
  // a torn line is skipped.
  const std::string lines =
      "{\"unit\":1,\"final\":true,\"attempt\":1,\"duration_s\":2.0,\"end\":\"2026-12-07T14:00:01.000+01:00\","
      "\"result_name\":\"ok\",\"serial_number\":\"SN001000\"}\n"
      "{\"unit\":2,\"final\":false,\"attempt\":1,\"duration_s\":1.0,\"end\":\"2026-12-07T14:00:02.000+01:00\","
      "\"result_name\":\"protocol-error\"}\n"
      "{\"unit\":2,\"final\":true,\"attempt\":2,\"duration_s\":3.0,\"end\":\"2026-12-07T14:00:09.000+01:00\","
      "\"result_name\":\"ok\",\"serial_number\":\"SN001001\"}\n"
      "{\"unit\":3,\"final\":true,\"attempt\":1,\"duration_s\":4.5,\"end\":\"2026-12-07T14:00:10.000+01:00\","
      "\"result_name\":\"enter-boot-failed\"}\n"
      "{\"unit\":4,\"fin\n";
  EXPECT_EQ(StationYieldText(BuildYieldReport({{"run", lines}}, {})),
            "本次 3 台   成功 2   失败 1   一次通过率 33.3%   重试 1   已写入序列号 2 个 (SN001000 至 SN001001)\n"
            "失败原因: 未能进入烧录模式 1   平均用时 3.5 s   95% 用时 4.5 s");
  EXPECT_EQ(StationYieldText(YieldReport{}), "本次 0 台   成功 0   失败 0   一次通过率 0.0%   重试 0\n失败原因: 无");
}

TEST(YieldWorker, BuildsTheLatestLinesAndForgetsThemOnReset) {
  const std::string line =
      "{\"unit\":1,\"final\":true,\"attempt\":1,\"duration_s\":2.0,\"end\":\"2026-12-07T14:00:01.000+01:00\","
      "\"result_name\":\"ok\"}\n";
  YieldWorker worker;
  YieldReport report;
  worker.Submit(line);
  worker.Submit(line + std::string(line).replace(8, 1, "2"));
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!(worker.Take(&report) && report.units == 2) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(report.units, 2);
  worker.Submit(line);
  worker.Reset();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(worker.Take(&report));
}

class StationSessionOnSimulatedBus : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_shared<sim::SimBus>();
    hid_link_set_backend(bus_);
    hid_link_init();
  }
  void TearDown() override {
    hid_link_exit();
    hid_link_set_backend(nullptr);
  }
  sim::SimDeviceId Attach(const std::string& text) {
    sim::SimKnobs knobs;
    std::string error;
    EXPECT_TRUE(sim::parse_sim_knobs(text, &knobs, &error)) << error;
    return bus_->attach_model(knobs);
  }
  bool RefreshUntil(StationSession& session, const std::function<bool()>& done, std::chrono::milliseconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      session.Refresh();
      if (done()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  static int Count(const StationSession& session, const std::string& port, UnitState state) {
    int n = 0;
    for (const StationRow& row : session.Table().Rows()) n += row.port == port && row.state == state ? 1 : 0;
    return n;
  }

  testing::TempDir dir_;
  std::shared_ptr<sim::SimBus> bus_;
};

TEST_F(StationSessionOnSimulatedBus, AlertsOncePerFailureKeepsItsRowAndCountsTheRunsYield) {
  StationWindowSetup setup;
  setup.image_path = dir_.Write("app.bin", testing::PatternBytes(12000, 7));
  setup.settings_path = dir_.path() + "/Torvane.ini";
  setup.make_hotplug_source = [bus = bus_] { return MakeSimHotplugSource(bus); };
  StationSession session(setup);
  int alerts = 0;
  session.SetFailureAlert([&] { ++alerts; });
  Attach("boot,port=p1");
  const auto failing = Attach("boot,port=p2,start-status=9");
  StationSession::RunOptions options;
  options.record_path = dir_.path() + "/record.jsonl";
  options.count = 3;
  std::string message;
  ASSERT_TRUE(session.Start(options, &message)) << message;
  ASSERT_TRUE(RefreshUntil(session, [&] {
    return Count(session, "p1", UnitState::kPassed) == 1 && Count(session, "p2", UnitState::kFailed) == 1;
  }));
  EXPECT_EQ(alerts, 1);
  EXPECT_EQ(session.FinishedText(), "2 / 3");

  // The failed unit is pulled and a new one put in its place: the failure
  // keeps its row, the newcomer's is its own.
  std::this_thread::sleep_for(1200ms);  // a departure right after the outcome is a restart
  bus_->unplug(failing);
  Attach("boot,port=p2");
  ASSERT_TRUE(RefreshUntil(session, [&] { return Count(session, "p2", UnitState::kPassed) == 1; }));
  ASSERT_EQ(Count(session, "p2", UnitState::kFailed), 1);
  int held = -1;
  for (size_t i = 0; i < session.Table().Rows().size(); ++i) {
    if (session.Table().Rows()[i].held) held = static_cast<int>(i);
  }
  ASSERT_GE(held, 0);
  EXPECT_EQ(session.Table().Rows()[static_cast<size_t>(held) + 1].state, UnitState::kPassed);
  session.Acknowledge(held);
  EXPECT_EQ(Count(session, "p2", UnitState::kFailed), 0);
  EXPECT_EQ(alerts, 1);

  // The count is reached: the yield is the record file's.
  ASSERT_TRUE(RefreshUntil(session, [&] { return session.FinishedText() == "3 / 3"; }));
  session.Stop();
  ASSERT_TRUE(RefreshUntil(session, [&] { return !session.Running(); }));
  std::ifstream in(options.record_path, std::ios::binary);
  std::stringstream record;
  record << in.rdbuf();
  const YieldReport& yield = session.RunYield();
  EXPECT_EQ(yield.units, 3);
  EXPECT_EQ(yield.passed, 2);
  EXPECT_EQ(yield.failed, 1);
  EXPECT_EQ(session.YieldText(), StationYieldText(BuildYieldReport({{"file", record.str()}}, {})));
}

}  // namespace
}  // namespace torvane
