// The whole window on the simulated bus: devices come and go while it runs,
// and a flash goes from the flash button to the device's own verdict.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>

#include "device/hid_link.h"
#include "monitor/device_controller.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "tests/ui/qt_test_app.h"
#include "ui/control_ids.h"
#include "ui/qt/log_pane.h"
#include "ui/qt/torvane_dlg.h"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

class DialogOnSimulatedBus : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    bus_ = std::make_shared<sim::SimBus>();
    dlg_ = std::make_unique<CTorvaneDlg>(nullptr, dir_.filePath("Torvane.ini"));
    dlg_->SetSimulatedBus(bus_);
    dlg_->show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Controller().State() != DS_UNSET; }, 10s));
  }
  void TearDown() override {
    if (dlg_) dlg_->done(0);
    dlg_.reset();
  }

  DeviceController& Controller() { return *dlg_->Controller(); }
  std::string Log() { return static_cast<LogPane*>(dlg_->GetDlgItem(IDC_LOG))->LogText().toStdString(); }
  QPushButton* Button(int id) { return static_cast<QPushButton*>(dlg_->GetDlgItem(id)); }
  sim::SimDeviceId Attach(const std::string& text) {
    sim::SimKnobs knobs;
    std::string error;
    EXPECT_TRUE(sim::parse_sim_knobs(text, &knobs, &error)) << error;
    return bus_->attach_model(knobs);
  }
  bool WaitState(DeviceState state) {
    return ProcessEventsUntil([&] { return Controller().State() == state; }, 10s);
  }

  QTemporaryDir dir_;
  std::shared_ptr<sim::SimBus> bus_;
  std::unique_ptr<CTorvaneDlg> dlg_;
};

TEST_F(DialogOnSimulatedBus, DevicesComingAndGoingSetTheButtonsAndTheLog) {
  EXPECT_EQ(Log(), "没有发现设备\r\n");
  EXPECT_TRUE(Button(IDC_BTN_ENTER_FLASH_MODE)->isEnabled());
  EXPECT_FALSE(Button(IDC_BTN_FLASH)->isEnabled());

  const auto old = Attach("oldboot");
  ASSERT_TRUE(WaitState(DS_OLDBOOT));
  EXPECT_FALSE(Button(IDC_BTN_ENTER_FLASH_MODE)->isEnabled());
  EXPECT_TRUE(Button(IDC_BTN_FLASH)->isEnabled());
  EXPECT_EQ(Button(IDC_BTN_FLASH)->text().toStdString(), "更新BOOT");
  EXPECT_NE(Log().find("发现一个旧版本可烧录设备, 设备信息:\r\n"), std::string::npos) << Log();

  bus_->unplug(old);
  ASSERT_TRUE(WaitState(DS_NONE));
  EXPECT_FALSE(Button(IDC_BTN_FLASH)->isEnabled());
  // The caption stays until the next found-device report.
  EXPECT_EQ(Button(IDC_BTN_FLASH)->text().toStdString(), "更新BOOT");
  Attach("boot");
  ASSERT_TRUE(WaitState(DS_BOOT));
  EXPECT_EQ(Button(IDC_BTN_FLASH)->text().toStdString(), "烧录");
}

TEST_F(DialogOnSimulatedBus, FullCycleFromApplicationThroughFlashBackToApplication) {
  const auto id = Attach("app");
  ASSERT_TRUE(WaitState(DS_APP));
  const std::string image = dir_.filePath("app.bin").toStdString();
  {
    std::ofstream out(image, std::ios::binary);
    for (int i = 0; i < 5000; ++i) out.put(static_cast<char>(i * 13));
  }
  static_cast<QLineEdit*>(dlg_->GetDlgItem(IDC_EDIT_PATH))->setText(QString::fromStdString(image));

  Button(IDC_BTN_ENTER_FLASH_MODE)->click();
  EXPECT_NE(Log().find("进入烧录模式，等待设备重启\r\n设备等待烧录\r\n"), std::string::npos) << Log();
  ASSERT_TRUE(WaitState(DS_BOOT));
  ASSERT_TRUE(Button(IDC_BTN_FLASH)->isEnabled());

  Button(IDC_BTN_FLASH)->click();
  ASSERT_TRUE(ProcessEventsUntil([&] { return Log().find("下载成功,设备即将重启\r\n") != std::string::npos; }, 30s))
      << Log();
  EXPECT_NE(Log().find("正在下载: 100\r\n下载成功"), std::string::npos) << Log();
  const auto verdict = bus_->model(id)->verdict();
  EXPECT_TRUE(verdict.completed) << verdict.summary();
  EXPECT_EQ(verdict.bytes.size(), 5000u);
  // The device restarts into its application, which the window reports.
  ASSERT_TRUE(WaitState(DS_APP));
}

TEST_F(DialogOnSimulatedBus, AFileErrorSaysWhyOnTheLineAfterTheFailure) {
  Attach("boot");
  ASSERT_TRUE(WaitState(DS_BOOT));
  const std::string image = dir_.filePath("missing.bin").toStdString();
  static_cast<QLineEdit*>(dlg_->GetDlgItem(IDC_EDIT_PATH))->setText(QString::fromStdString(image));
  Button(IDC_BTN_FLASH)->click();
  const std::string second = "下载失败\r\n镜像文件 '" + image + "': 无法打开";
  ASSERT_TRUE(ProcessEventsUntil([&] { return Log().find(second) != std::string::npos; }, 10s)) << Log();
}

TEST_F(DialogOnSimulatedBus, ClosingDuringATransferEndsPromptly) {
  Attach("boot,latency-us=2000,no-restart");
  ASSERT_TRUE(WaitState(DS_BOOT));
  const std::string image = dir_.filePath("big.bin").toStdString();
  {
    std::ofstream out(image, std::ios::binary);
    for (int i = 0; i < 48 * 400; ++i) out.put(static_cast<char>(i));
  }
  static_cast<QLineEdit*>(dlg_->GetDlgItem(IDC_EDIT_PATH))->setText(QString::fromStdString(image));
  Button(IDC_BTN_FLASH)->click();
  ASSERT_TRUE(ProcessEventsUntil([&] { return Log().find("正在下载") != std::string::npos; }, 10s));
  const auto start = std::chrono::steady_clock::now();
  dlg_->done(0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(dlg_->Controller()->AnyThreadAbandoned());
  // The settings were saved on the way out.
  EXPECT_NE(ReadFile(dir_.filePath("Torvane.ini")).find("File Path="), std::string::npos);
}

}  // namespace
}  // namespace torvane::test
