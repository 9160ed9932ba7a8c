// The production station window on the simulated bus: the table, the
// counters and the record file against each device's own verdict; units
// coming and going; stop and close while units are flashing. Plus the
// feed's coalescing and row lifetime, which the window's repaint rate
// depends on.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <fstream>
#include <map>
#include <algorithm>
#include <random>

#include "device/hid_link.h"
#include "download/download_result.h"
#include "monitor/sim_hotplug_source.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "tests/ui/job_files.h"
#include "tests/ui/station_window_units.h"
#include "tests/ui/qt_test_app.h"
#include "ui/qt/station_table_model.h"
#include "ui/station_texts.h"
#include "ui/qt/station_window.h"
#include "ui/control_ids.h"
#include "ui/dialog_texts.h"
#include "ui/qt/torvane_dlg.h"
#include "monitor/device_controller.h"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

// A failed unit's serial number reads "taken back" only when the station
// gave it back; one the device may hold (a failure on its last block) stays.
TEST(StationFeed, SerialNumberTakenBackOnlyWhenGivenBack) {
  const struct {
    int result;
    bool kept;
    const char* text;
  } cases[] = {
      {DL_OK, true, "SN9"},
      {DL_PROTOCOL_ERROR, false, "SN9 (已收回)"},
      {DL_PROTOCOL_ERROR, true, "SN9"},
  };
  for (const auto& c : cases) {
    StationFeed feed(std::chrono::milliseconds(100), std::chrono::seconds(1));
    const UnitView a{1, "port-a", "sim:hidraw0", "", DS_BOOT, 1};
    feed.OnUnitAppeared(a);
    feed.OnUnitState(a, UnitState::kFlashing, "");
    UnitResult result;
    result.result = c.result;
    result.serial_number = "SN9";
    result.serial_number_kept = c.kept;
    feed.OnUnitFinished(a, result);
    const StationBatch batch = feed.Drain(StationClock::now());
    ASSERT_EQ(batch.changed.size(), 1u);
    EXPECT_EQ(StationSerialNumberText(batch.changed[0]), c.text) << c.result;
  }
}

TEST(StationFeed, CoalescesProgressAndKeepsRowsAsLongAsTheyMatter) {
  StationFeed feed(100ms, 1s);
  const UnitView a{1, "port-a", "sim:hidraw0", "A1", DS_BOOT, 1};
  const UnitView b{2, "port-b", "sim:hidraw1", "B1", DS_BOOT, 1};
  feed.OnUnitAppeared(a);
  feed.OnUnitAppeared(b);
  feed.OnUnitState(a, UnitState::kFlashing, "");
  feed.OnUnitState(b, UnitState::kFlashing, "");
  for (int percent = 0; percent <= 100; ++percent) feed.OnUnitProgress({1, percent, 0, 0, 1000.0, "SN7"});
  auto now = StationClock::now();
  StationBatch batch = feed.Drain(now);
  ASSERT_EQ(batch.changed.size(), 2u) << "one update per row, however many steps";
  EXPECT_EQ(batch.changed[0].percent, 100);
  EXPECT_EQ(batch.changed[0].serial_number, "SN7") << "the serial shows while the unit is flashed";
  EXPECT_TRUE(feed.Drain(now).changed.empty());

  // a passes and restarts (leaves, comes back within the grace): its row
  // stays. b leaves mid-flash: its row stays with the failure.
  UnitResult passed;
  passed.record_line = "{\"port\":\"port-a\"}";
  feed.OnUnitFinished(a, passed);
  feed.OnUnitState(a, UnitState::kPassed, "");
  feed.OnUnitState(a, UnitState::kGone, "");
  feed.OnUnitState(b, UnitState::kGone, "");
  UnitResult failed;
  failed.result = DL_PROTOCOL_ERROR;
  feed.OnUnitFinished(b, failed);
  feed.OnUnitState(b, UnitState::kFailed, "");
  batch = feed.Drain(now);
  EXPECT_EQ(batch.record_lines.size(), 2u);
  EXPECT_TRUE(batch.removed.empty());
  EXPECT_EQ(StationStateText(batch.changed[1]), "失败: 通信错误, 设备已离开");
  feed.OnUnitAppeared({1, "port-a", "sim:hidraw0", "A1", DS_APP, 1});
  feed.OnUnitState({1, "port-a", "sim:hidraw0", "A1", DS_APP, 1}, UnitState::kPassed, "");
  EXPECT_TRUE(feed.Drain(now + 1s).removed.empty());

  // a is unplugged for good: its row goes after the grace; b's failure
  // stays longer.
  feed.OnUnitState(a, UnitState::kGone, "");
  now = StationClock::now();
  EXPECT_TRUE(feed.Drain(now).removed.empty());
  EXPECT_EQ(feed.Drain(now + 200ms).removed, std::vector<std::string>{"port-a"});
  EXPECT_EQ(feed.Drain(now + 2s).removed, std::vector<std::string>{"port-b"});
}

TEST(StationRecordPath, BesideTheSettingsFileOrInTheDataFolder) {
  QTemporaryDir dir;
  const QDate date(2026, 12, 7);
  EXPECT_EQ(DefaultStationRecordPath(dir.filePath("Torvane.ini"), date),
            dir.filePath("torvane-record-2026-12-07.jsonl"));
  const QString elsewhere = DefaultStationRecordPath(dir.filePath("gone/Torvane.ini"), date);
  EXPECT_FALSE(elsewhere.startsWith(dir.path())) << elsewhere.toStdString();
  EXPECT_TRUE(elsewhere.endsWith("/torvane-record-2026-12-07.jsonl")) << elsewhere.toStdString();
}

class StationWindowOnSimulatedBus : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    bus_ = std::make_shared<sim::SimBus>();
    hid_link_set_backend(bus_);
    hid_link_init();
    image_ = dir_.filePath("app.bin").toStdString();
    std::vector<char> bytes(12000);
    std::mt19937 random(7);
    for (char& b : bytes) b = static_cast<char>(random());
    std::ofstream(image_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  void TearDown() override {
    window_.reset();
    hid_link_exit();
    hid_link_set_backend(nullptr);
  }

  StationWindow& Window() {
    if (!window_) {
      StationWindowSetup setup;
      setup.settings.boot_update_bin = TORVANE_SAMPLES_DIR "/burn_boot_0.3.0.0.bin";
      setup.settings.boot_update_bin_header = TORVANE_SAMPLES_DIR "/head_1.0_2016_04_22.bin";
      setup.settings_path = dir_.filePath("Torvane.ini").toStdString();
      setup.image_path = image_;
      setup.make_hotplug_source = [bus = bus_] { return MakeSimHotplugSource(bus); };
      window_ = std::make_unique<StationWindow>(std::move(setup));
      window_->show();
    }
    return *window_;
  }
  sim::SimDeviceId Attach(const std::string& text) {
    sim::SimKnobs knobs;
    std::string error;
    EXPECT_TRUE(sim::parse_sim_knobs(text, &knobs, &error)) << error;
    return bus_->attach_model(knobs);
  }
  const StationRow* Row(const std::string& port) {
    for (const StationRow& row : Window().Model()->Rows()) {
      if (row.port == port) return &row;
    }
    return nullptr;
  }
  QVariant Data(const std::string& port, int column, int role) {
    const auto& rows = Window().Model()->Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].port == port) return Window().Model()->index(static_cast<int>(i), column).data(role);
    }
    return QVariant();
  }
  QString Cell(const std::string& port, int column) { return Data(port, column, Qt::DisplayRole).toString(); }
  bool Finished(const std::string& port) {
    const StationRow* row = Row(port);
    return row != nullptr && (row->state == UnitState::kPassed || row->state == UnitState::kFailed);
  }
  std::vector<std::string> RecordLines() {
    std::vector<std::string> lines;
    std::ifstream in(Window().RecordPathBox()->text().toStdString());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  QTemporaryDir dir_;
  std::shared_ptr<sim::SimBus> bus_;
  std::string image_;
  std::unique_ptr<StationWindow> window_;
};

TEST_F(StationWindowOnSimulatedBus, TableCountersAndRecordAgreeWithEveryDevice) {
  const auto& units = torvane::testing::kStationWindowUnits;
  std::map<std::string, sim::SimDeviceId> ids;
  ids["p1"] = Attach(units[0].knobs);
  ASSERT_TRUE(Window().StartStation());
  // The others arrive while the station runs; an application device is
  // left alone without "自动进入烧录模式".
  for (const auto& unit : units) {
    if (ids.count(unit.port) == 0) ids[unit.port] = Attach(unit.knobs);
  }
  Attach("app,port=p5");
  ASSERT_TRUE(ProcessEventsUntil([&] {
    return Finished("p1") && Finished("p2") && Finished("p3") && Finished("p4") && Window().ActiveUnits() == 0;
  }, 30s));
  ASSERT_TRUE(ProcessEventsUntil([&] { return Row("p5") != nullptr; }, 5s));
  EXPECT_EQ(Cell("p5", StationTableModel::kState).toStdString(), "应用程序模式, 不烧录");

  const std::vector<std::string> record = RecordLines();
  ASSERT_EQ(record.size(), 4u);
  for (const auto& unit : units) {
    SCOPED_TRACE(unit.knobs);
    const auto verdict = bus_->model(ids[unit.port])->verdict();
    EXPECT_EQ(verdict.completed, unit.passes);
    EXPECT_EQ(Cell(unit.port, StationTableModel::kState).left(static_cast<int>(QString::fromUtf8(unit.state).size())),
              QString::fromUtf8(unit.state));
    const std::string port_field = "\"port\":\"" + std::string(unit.port) + "\"";
    const std::string result_field = unit.passes ? "\"result\":0," : "\"result\":3,";
    int matching = 0;
    for (const std::string& line : record) {
      if (line.find(port_field) != std::string::npos) {
        ++matching;
        EXPECT_NE(line.find(result_field), std::string::npos) << line;
      }
    }
    EXPECT_EQ(matching, 1);
  }
  // Passed and failed differ by icon and text, not by colour alone.
  for (const char* port : {"p1", "p3"}) EXPECT_TRUE(Data(port, StationTableModel::kState, Qt::DecorationRole).isValid());
  ASSERT_TRUE(ProcessEventsUntil([&] { return Window().CountersText().startsWith(QString::fromUtf8("成功: 2   失败: 2")); }, 2s))
      << Window().CountersText().toStdString();
  // The recent records read as text, not JSON; the boot update is named.
  const std::string recent = Window().RecordLinesText().toStdString();
  EXPECT_EQ(recent.find('{'), std::string::npos) << recent;
  EXPECT_NE(recent.find("端口 p4  序列号 "), std::string::npos) << recent;
  EXPECT_NE(recent.find("失败: 通信错误"), std::string::npos) << recent;
  EXPECT_NE(recent.find("BOOT 已更新"), std::string::npos) << recent;
  EXPECT_TRUE(Cell("p2", StationTableModel::kState).startsWith(QString::fromUtf8("成功, BOOT 已更新")));

  // A device that is unplugged for good loses its row; the failed one that
  // left mid-flash keeps it.
  bus_->unplug(ids["p1"]);
  EXPECT_TRUE(ProcessEventsUntil([&] { return Row("p1") == nullptr; }, 5s));
  EXPECT_NE(Row("p4"), nullptr);
}

// What the operator reads and hears: the digest every record carries, the
// count, one beep for the failure, the yield, and the failed row kept until
// a double-click acknowledges it.
TEST_F(StationWindowOnSimulatedBus, OperatorSignals) {
  Attach("boot,port=p1");
  Attach("boot,port=p2,start-status=9");
  int beeps = 0;
  Window().SetFailureAlert([&] { ++beeps; });
  Window().CountBox()->setValue(2);
  ASSERT_TRUE(ProcessEventsUntil([&] { return !Window().DigestText().isEmpty(); }, 10s));
  ASSERT_TRUE(Window().StartStation());
  ASSERT_TRUE(ProcessEventsUntil([&] { return Finished("p1") && Finished("p2") && Window().FinishedText() == "2 / 2"; },
                                 30s));
  EXPECT_EQ(beeps, 1);
  const std::vector<std::string> record = RecordLines();
  ASSERT_EQ(record.size(), 2u);
  const auto field = [&](const std::string& name) {
    const size_t at = record[0].find("\"" + name + "\":\"") + name.size() + 4;
    return QString::fromStdString(record[0].substr(at, record[0].find('"', at) - at));
  };
  EXPECT_EQ(Window().DigestText(), "CRC-32 " + field("crc32") + "   SHA-256 " + field("sha256").left(8));
  // The yield is built off the window's thread.
  EXPECT_TRUE(ProcessEventsUntil([&] { return Window().YieldText().startsWith(QString::fromUtf8("本次 2 台   成功 1   失败 1")); }, 5s))
      << Window().YieldText().toStdString();
  EXPECT_TRUE(Cell("p2", StationTableModel::kState).endsWith(QString::fromUtf8("[待确认]")));
  EXPECT_TRUE(Window().AcknowledgeButton()->isEnabled());
  int row = 0;
  while (Window().Model()->Rows()[static_cast<size_t>(row)].port != "p2") ++row;
  QTableView* table = Window().Table();
  const QRect cell = table->visualRect(Window().Model()->index(row, StationTableModel::kState));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_FALSE(Cell("p2", StationTableModel::kState).contains(QString::fromUtf8("待确认")));
  EXPECT_FALSE(Window().AcknowledgeButton()->isEnabled());
}

// A locked job: its problems open nothing; its setup is read-only until the
// password; its slot map names the rows and skips the port it lacks; the
// unit's serial number is shown.
TEST_F(StationWindowOnSimulatedBus, RunsALockedJob) {
  const std::string more =
      "[slots]\np1 = 槽1\n[serial]\naddress = 0x1100\nwidth = 8\nformat = dec\nprefix = SN\nstart = 1000\n";
  WhenModalOf<QMessageBox>([](QMessageBox* box) { box->accept(); });
  EXPECT_FALSE(Window().OpenJob(QString::fromStdString(testing::WriteJobFile(image_, "bad.ini", "count = -1\n"))));
  EXPECT_EQ(Window().JobText().toStdString(), "未打开作业");
  ASSERT_TRUE(Window().OpenJob(
      QString::fromStdString(testing::WriteJobFile(image_, "line.ini", "count = 1\nattempts = 2\n", more, "secret"))));
  EXPECT_EQ(Window().JobText().toStdString(), "作业: line.ini   已锁定");
  EXPECT_EQ(Window().CountBox()->value(), 1);
  EXPECT_FALSE(Window().CountBox()->isEnabled());
  EXPECT_FALSE(Window().AttemptsBox()->isEnabled());
  EXPECT_TRUE(Window().RecordPathBox()->isEnabled());  // the job names no record file
  Window().PasswordBox()->setText("wrong");
  WhenModalOf<QMessageBox>([](QMessageBox* box) { box->accept(); });
  EXPECT_FALSE(Window().UnlockJob());
  EXPECT_FALSE(Window().CountBox()->isEnabled());
  Window().PasswordBox()->setText("secret");
  EXPECT_TRUE(Window().UnlockJob());
  EXPECT_TRUE(Window().CountBox()->isEnabled());
  EXPECT_FALSE(Window().PasswordBox()->isVisible());
  EXPECT_EQ(CancelPendingModalWaits(), 0);
  ASSERT_TRUE(ProcessEventsUntil([&] { return Window().DigestText().endsWith(QString::fromUtf8("与作业一致")); }, 10s))
      << Window().DigestText().toStdString();

  Attach("boot,port=p9");
  ASSERT_TRUE(Window().StartStation());
  Attach("boot,port=p1");
  ASSERT_TRUE(ProcessEventsUntil([&] { return Finished("p1") && Row("p9") != nullptr; }, 30s));
  EXPECT_EQ(Cell("p1", StationTableModel::kSlot).toStdString(), "槽1");
  EXPECT_EQ(Cell("p1", StationTableModel::kSerialNumber).toStdString(), "SN001000");
  EXPECT_NE(Window().RecordLinesText().indexOf(QString::fromUtf8("槽位 槽1  产品序列号 SN001000")), -1);
  EXPECT_TRUE(Cell("p9", StationTableModel::kState).startsWith(QString::fromUtf8("已跳过")));
  EXPECT_EQ(Window().FinishedText().toStdString(), "1 / 1");
  ASSERT_EQ(RecordLines().size(), 1u);
  EXPECT_NE(RecordLines()[0].find("\"slot\":\"槽1\""), std::string::npos) << RecordLines()[0];
}

TEST_F(StationWindowOnSimulatedBus, StopCancelsRunningFlashesBetweenFrames) {
  const auto id = Attach("boot,port=p1,latency-us=20000");
  ASSERT_TRUE(Window().StartStation());
  ASSERT_TRUE(ProcessEventsUntil([&] { return Row("p1") != nullptr && Row("p1")->percent > 0; }, 10s));
  Window().StartStopButton()->click();
  EXPECT_TRUE(ProcessEventsUntil([&] { return !Window().Running(); }, 6s));
  EXPECT_EQ(Cell("p1", StationTableModel::kState).toStdString(), "失败: 已取消");
  EXPECT_EQ(Window().StartStopButton()->text().toStdString(), "开始");
  EXPECT_FALSE(bus_->model(id)->verdict().completed);
  ASSERT_EQ(RecordLines().size(), 1u);
  EXPECT_NE(RecordLines()[0].find("\"result\":6,"), std::string::npos);
}

TEST_F(StationWindowOnSimulatedBus, ClosingWithUnitsFlashingAsksFirst) {
  const auto id = Attach("boot,port=p1,latency-us=20000");
  ASSERT_TRUE(Window().StartStation());
  ASSERT_TRUE(ProcessEventsUntil([&] { return Window().ActiveUnits() > 0; }, 10s));
  WhenModalOf<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
  Window().close();
  EXPECT_TRUE(Window().isVisible());
  EXPECT_TRUE(Window().Running());
  WhenModalOf<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
  Window().close();
  EXPECT_FALSE(Window().isVisible());
  EXPECT_FALSE(Window().Running());
  EXPECT_FALSE(bus_->model(id)->verdict().completed);
  EXPECT_EQ(CancelPendingModalWaits(), 0);
}

// Refused at once with the reason in Chinese; a FIFO nobody reads does not
// freeze the window.
TEST_F(StationWindowOnSimulatedBus, RecordFileThatCannotBeUsedStartsNothing) {
  Attach("boot,port=p1");
  const QString fifo = dir_.filePath("fifo");
  ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const struct {
    QString path;
    const char* says;
  } cases[] = {{dir_.path(), "不是普通文件"}, {fifo, "不是普通文件"}, {QString::fromStdString(image_), "是要烧录的文件"}};
  for (const auto& c : cases) {
    Window().RecordPathBox()->setText(c.path);
    QString said;
    WhenModalOf<QMessageBox>([&](QMessageBox* box) {
      said = box->text();
      box->accept();
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(Window().StartStation());
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
    EXPECT_FALSE(Window().Running());
    EXPECT_TRUE(said.contains(QString::fromUtf8(c.says))) << said.toStdString();
    EXPECT_EQ(CancelPendingModalWaits(), 0);
  }
  EXPECT_EQ(QFile(QString::fromStdString(image_)).size(), 12000);
}

TEST(StationFromTheMainWindow, TakesThePathBoxImageAndHandsTheDevicesBack) {
  QTemporaryDir dir;
  auto bus = std::make_shared<sim::SimBus>();
  CTorvaneDlg dlg(nullptr, dir.filePath("Torvane.ini"));
  dlg.SetSimulatedBus(bus);
  dlg.show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return dlg.Controller()->State() == DS_NONE; }, 10s));
  static_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EDIT_PATH))->setText(dir.filePath("fw.bin"));
  // A device plugged in just before: its detection is queued when the
  // station opens and must not be acted on (opened, asked) while it is open.
  sim::SimKnobs knobs;
  ASSERT_TRUE(sim::parse_sim_knobs("boot", &knobs, nullptr));
  bus->attach_model(knobs);
  QString shown;
  DeviceState while_open = DS_UNSET;
  WhenModalOf<StationWindow>([&](StationWindow* station) {
    shown = station->ImageText();
    ProcessEventsUntil([] { return false; }, 500ms);
    while_open = dlg.Controller()->State();
    station->reject();
  });
  const auto actions = dlg.findChildren<QAction*>();
  const auto entry = std::find_if(actions.begin(), actions.end(),
                                  [](QAction* a) { return a->text() == QString::fromUtf8(kStationMenuText); });
  ASSERT_NE(entry, actions.end());
  (*entry)->trigger();
  EXPECT_TRUE(shown.contains(dir.filePath("fw.bin"))) << shown.toStdString();
  EXPECT_EQ(while_open, DS_NONE);
  // Detection runs again once the station window has closed.
  EXPECT_TRUE(ProcessEventsUntil([&] { return dlg.Controller()->State() == DS_BOOT; }, 10s));
  dlg.done(0);
}

}  // namespace
}  // namespace torvane::test
