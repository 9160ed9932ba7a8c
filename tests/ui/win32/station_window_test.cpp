// The Win32 station window on the simulated bus: the list view, counters and
// record file against each device's own verdict.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>

#include "device/hid_link.h"
#include "monitor/sim_hotplug_source.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/job_files.h"
#include "tests/ui/station_window_units.h"
#include "ui/station_table.h"
#include "ui/win32/message_box.h"
#include "ui/win32/station_window.h"
#include "ui/win32/win32_text.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;

class Win32Station : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_shared<sim::SimBus>();
    hid_link_set_backend(bus_);
    hid_link_init();
    image_ = dir_.Write("app.bin", testing::PatternBytes(12000, 7));
    SetMessageBoxHookForTesting([this](const std::string& text, UINT) {
      boxes_.push_back(text);
      return IDYES;
    });
  }
  void TearDown() override {
    window_.reset();
    SetMessageBoxHookForTesting(nullptr);
    hid_link_exit();
    hid_link_set_backend(nullptr);
  }

  StationWindow& Window() {
    if (!window_) {
      StationWindowSetup setup;
      setup.settings.boot_update_bin = TORVANE_SAMPLES_DIR "/burn_boot_0.3.0.0.bin";
      setup.settings.boot_update_bin_header = TORVANE_SAMPLES_DIR "/head_1.0_2016_04_22.bin";
      setup.settings_path = dir_.path() + "/Torvane.ini";
      setup.image_path = image_;
      setup.make_hotplug_source = [bus = bus_] { return MakeSimHotplugSource(bus); };
      window_ = std::make_unique<StationWindow>(std::move(setup));
      EXPECT_TRUE(window_->Create(nullptr));
    }
    return *window_;
  }
  bool Pump(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (pred()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }
  sim::SimDeviceId Attach(const std::string& text) {
    sim::SimKnobs knobs;
    std::string error;
    EXPECT_TRUE(sim::parse_sim_knobs(text, &knobs, &error)) << error;
    return bus_->attach_model(knobs);
  }
  // The list view's row of a port, or -1.
  int RowOf(const std::string& port) {
    for (int row = 0; row < Window().RowCount(); ++row) {
      if (Window().CellText(row, kColPort) == port) return row;
    }
    return -1;
  }
  std::string State(const std::string& port) {
    const int row = RowOf(port);
    return row < 0 ? std::string() : Window().CellText(row, kColState);
  }
  bool Finished(const std::string& port) {
    const std::string state = State(port);
    return state.rfind("成功", 0) == 0 || state.rfind("失败", 0) == 0;
  }
  std::vector<std::string> RecordLines() {
    std::vector<std::string> lines;
    std::ifstream in(platform::PathFromUtf8(WindowTextUtf8(Window().Item(IDC_ST_RECORD_PATH))), std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  testing::TempDir dir_;
  std::shared_ptr<sim::SimBus> bus_;
  std::string image_;
  std::unique_ptr<StationWindow> window_;
  std::vector<std::string> boxes_;
};

TEST_F(Win32Station, ListCountersAndRecordAgreeWithEveryDevice) {
  const auto& units = torvane::testing::kStationWindowUnits;
  std::map<std::string, sim::SimDeviceId> ids;
  ids["p1"] = Attach(units[0].knobs);
  // The image is read off the UI thread.
  EXPECT_TRUE(Pump([&] { return WindowTextUtf8(Window().Item(IDC_ST_IMAGE)).rfind("app.bin   12000 字节   CRC-32 ", 0) == 0; }))
      << WindowTextUtf8(Window().Item(IDC_ST_IMAGE));
  SendMessageW(Window().Item(IDC_ST_START_STOP), BM_CLICK, 0, 0);
  ASSERT_TRUE(Window().Session().Running()) << (boxes_.empty() ? "" : boxes_.back());
  EXPECT_EQ(WindowTextUtf8(Window().Item(IDC_ST_START_STOP)), "停止");
  for (const auto& unit : units) {
    if (ids.count(unit.port) == 0) ids[unit.port] = Attach(unit.knobs);
  }
  Attach("app,port=p5");
  ASSERT_TRUE(Pump([&] {
    return Finished("p1") && Finished("p2") && Finished("p3") && Finished("p4") && Window().Session().ActiveUnits() == 0;
  }));
  ASSERT_TRUE(Pump([&] { return RowOf("p5") >= 0; }, 5s));
  EXPECT_EQ(State("p5"), "应用程序模式, 不烧录");

  const std::vector<std::string> record = RecordLines();
  ASSERT_EQ(record.size(), 4u);
  for (const auto& unit : units) {
    SCOPED_TRACE(unit.knobs);
    EXPECT_EQ(bus_->model(ids[unit.port])->verdict().completed, unit.passes);
    EXPECT_EQ(State(unit.port).rfind(unit.state, 0), 0u) << State(unit.port);
    const std::string port_field = "\"port\":\"" + std::string(unit.port) + "\"";
    const std::string result_field = unit.passes ? "\"result\":0," : "\"result\":3,";
    int matching = 0;
    for (const std::string& line : record) {
      if (line.find(port_field) == std::string::npos) continue;
      ++matching;
      EXPECT_NE(line.find(result_field), std::string::npos) << line;
    }
    EXPECT_EQ(matching, 1);
  }
  ASSERT_TRUE(Pump([&] { return WindowTextUtf8(Window().Item(IDC_ST_COUNTERS)).rfind("成功: 2   失败: 2", 0) == 0; }, 2s))
      << WindowTextUtf8(Window().Item(IDC_ST_COUNTERS));
  EXPECT_NE(WindowTextUtf8(Window().Item(IDC_ST_RECORDS)).find("p4"), std::string::npos);
}

// The digest every record carries, the count, one alert for the failure,
// the yield, and the failed row kept until the list view's double-click.
TEST_F(Win32Station, OperatorSignals) {
  Attach("boot,port=p1");
  Attach("boot,port=p2,start-status=9");
  int beeps = 0;
  Window().Session().SetFailureAlert([&] { ++beeps; });
  SetWindowTextW(Window().Item(IDC_ST_COUNT), L"2");
  ASSERT_TRUE(Pump([&] { return !WindowTextUtf8(Window().Item(IDC_ST_DIGEST)).empty(); }));
  ASSERT_TRUE(Window().StartStation()) << (boxes_.empty() ? "" : boxes_.back());
  ASSERT_TRUE(Pump([&] { return Finished("p1") && Finished("p2") && WindowTextUtf8(Window().Item(IDC_ST_FINISHED)) == "2 / 2"; }));
  EXPECT_EQ(beeps, 1);
  const std::vector<std::string> record = RecordLines();
  ASSERT_EQ(record.size(), 2u);
  const auto field = [&](const std::string& name) {
    const size_t at = record[0].find("\"" + name + "\":\"") + name.size() + 4;
    return record[0].substr(at, record[0].find('"', at) - at);
  };
  EXPECT_EQ(WindowTextUtf8(Window().Item(IDC_ST_DIGEST)), "CRC-32 " + field("crc32") + "   SHA-256 " + field("sha256").substr(0, 8));
  // The yield is built off the window's thread.
  EXPECT_TRUE(Pump([&] { return WindowTextUtf8(Window().Item(IDC_ST_YIELD)).rfind("本次 2 台   成功 1   失败 1", 0) == 0; }, 5s))
      << WindowTextUtf8(Window().Item(IDC_ST_YIELD));
  EXPECT_NE(State("p2").find("[待确认]"), std::string::npos) << State("p2");
  EXPECT_TRUE(IsWindowEnabled(Window().Item(IDC_ST_ACKNOWLEDGE)));
  RECT cell{};
  cell.top = kColState;
  cell.left = LVIR_BOUNDS;
  SendMessageW(Window().Item(IDC_ST_UNITS), LVM_GETSUBITEMRECT, static_cast<WPARAM>(RowOf("p2")), reinterpret_cast<LPARAM>(&cell));
  SendMessageW(Window().Item(IDC_ST_UNITS), WM_LBUTTONDBLCLK, MK_LBUTTON,
               MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2));
  EXPECT_EQ(State("p2").find("[待确认]"), std::string::npos) << State("p2");
  EXPECT_FALSE(IsWindowEnabled(Window().Item(IDC_ST_ACKNOWLEDGE)));
}

// A locked job: read-only until the password; its slot map names the rows
// and skips the port it lacks.
TEST_F(Win32Station, RunsALockedJob) {
  const std::string job = testing::WriteJobFile(image_, "line.ini", "count = 1\n", "[slots]\np1 = 槽1\n", "secret");
  ASSERT_TRUE(Window().OpenJob(job)) << (boxes_.empty() ? "" : boxes_.back());
  EXPECT_EQ(WindowTextUtf8(Window().Item(IDC_ST_JOB)), "作业: line.ini   已锁定");
  EXPECT_EQ(WindowTextUtf8(Window().Item(IDC_ST_COUNT)), "1");
  EXPECT_FALSE(IsWindowEnabled(Window().Item(IDC_ST_COUNT)));
  SetWindowTextW(Window().Item(IDC_ST_PASSWORD), L"wrong");
  SendMessageW(Window().Item(IDC_ST_UNLOCK), BM_CLICK, 0, 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "管理员密码不正确。");
  EXPECT_FALSE(IsWindowEnabled(Window().Item(IDC_ST_COUNT)));
  SetWindowTextW(Window().Item(IDC_ST_PASSWORD), L"secret");
  SendMessageW(Window().Item(IDC_ST_UNLOCK), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowEnabled(Window().Item(IDC_ST_COUNT)));
  EXPECT_FALSE(IsWindowVisible(Window().Item(IDC_ST_UNLOCK)));

  Attach("boot,port=p9");
  ASSERT_TRUE(Window().StartStation());
  Attach("boot,port=p1");
  ASSERT_TRUE(Pump([&] { return Finished("p1") && RowOf("p9") >= 0; }));
  EXPECT_EQ(Window().CellText(RowOf("p1"), kColSlot), "槽1");
  EXPECT_EQ(State("p9").rfind("已跳过", 0), 0u) << State("p9");
  EXPECT_EQ(WindowTextUtf8(Window().Item(IDC_ST_FINISHED)), "1 / 1");
}

TEST_F(Win32Station, ClosingWithUnitsFlashingAsksFirst) {
  Attach("boot,port=p1,latency-us=20000");
  ASSERT_TRUE(Window().StartStation());
  ASSERT_TRUE(Pump([&] { return Window().Session().ActiveUnits() > 0; }));
  SendMessageW(Window().Window(), WM_CLOSE, 0, 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "仍有设备正在烧录。停止烧录并关闭窗口吗?");
  EXPECT_FALSE(Window().Open());
  EXPECT_FALSE(Window().Session().Running());
}

TEST_F(Win32Station, ARecordFileThatCannotBeUsedStartsNothing) {
  Attach("boot,port=p1");
  SetWindowTextW(Window().Item(IDC_ST_RECORD_PATH), Utf8ToWide(dir_.path()).c_str());  // a folder
  EXPECT_FALSE(Window().StartStation());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].rfind("记录文件无法使用, 未开始烧录:\n", 0), 0u) << boxes_[0];
  EXPECT_EQ(WindowTextUtf8(Window().Item(IDC_ST_START_STOP)), "开始");
}

}  // namespace
}  // namespace torvane
