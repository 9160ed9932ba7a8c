// The Win32 main dialog on the simulated bus, driven as an operator would:
// by control id with window messages (clicks, texts), reading the log pane.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>

#include "download/download_result.h"
#include "monitor/device_controller.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "tests/support/temp_dir.h"
#include "ui/control_ids.h"
#include "ui/dialog_settings.h"
#include "ui/dialog_template.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/message_box.h"
#include "ui/win32/win32_text.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;

// Runs the thread's messages, as the program's loop does, until pred holds.
bool PumpUntil(HWND dialog, const std::function<bool()>& pred, std::chrono::milliseconds timeout = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageW(dialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

class Win32Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes_.clear();
    SetMessageBoxHookForTesting([this](const std::string& text, UINT) {
      boxes_.push_back(text);
      return IDOK;
    });
    bus_ = std::make_shared<sim::SimBus>();
  }
  void TearDown() override {
    dialog_.reset();
    SetMessageBoxHookForTesting(nullptr);
  }

  void Open() {
    MainDialog::Options options;
    options.settings_file = Ini();
    options.sim_bus = bus_;
    dialog_ = std::make_unique<MainDialog>(options);
    ASSERT_TRUE(dialog_->Create());
    ASSERT_TRUE(Pump([&] { return Controller().State() != DS_UNSET; }));
  }
  std::string Ini() const { return dir_.path() + "/Torvane.ini"; }
  bool Pump(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 20s) {
    return PumpUntil(dialog_ ? dialog_->Window() : nullptr, pred, timeout);
  }
  DeviceController& Controller() { return *dialog_->Controller(); }
  std::string Log() { return dialog_->LogText(); }
  bool LogHas(const std::string& text) { return Log().find(text) != std::string::npos; }
  void Click(int id) { SendMessageW(dialog_->Item(id), BM_CLICK, 0, 0); }
  void SetText(int id, const std::string& text) { SetWindowTextW(dialog_->Item(id), Utf8ToWide(text).c_str()); }
  bool Enabled(int id) { return IsWindowEnabled(dialog_->Item(id)) != 0; }
  sim::SimDeviceId Attach(const std::string& text) {
    sim::SimKnobs knobs;
    std::string error;
    EXPECT_TRUE(sim::parse_sim_knobs(text, &knobs, &error)) << error;
    return bus_->attach_model(knobs);
  }
  bool WaitState(DeviceState state) { return Pump([&] { return Controller().State() == state; }); }

  testing::TempDir dir_;
  std::shared_ptr<sim::SimBus> bus_;
  std::unique_ptr<MainDialog> dialog_;
  std::vector<std::string> boxes_;
};

TEST_F(Win32Dialog, TheWindowIsItsTemplateWithTheMenuEntries) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const HWND window = dialog_->Window();
  EXPECT_EQ(WindowTextUtf8(window), kMainDialogCaption);
  // The children in template order: kind, caption and rectangle as the table says.
  HWND child = GetWindow(window, GW_CHILD);
  for (const TemplateControl& control : kMainDialogControls) {
    ASSERT_NE(child, nullptr);
    if (control.id != IDC_STATIC) {
      EXPECT_EQ(GetDlgCtrlID(child), control.id);
    }
    wchar_t class_name[64] = {};
    GetClassNameW(child, class_name, 64);
    const std::string kind = WideToUtf8(class_name);
    switch (control.kind) {
      case ControlKind::Edit: EXPECT_EQ(kind, "Edit"); break;
      case ControlKind::LogPane: EXPECT_EQ(_stricmp(kind.c_str(), "RICHEDIT50W"), 0) << kind; break;
      default: EXPECT_TRUE(kind == "Button" || kind == "Static") << kind; break;
    }
    if (control.kind != ControlKind::Edit && control.kind != ControlKind::LogPane) {
      EXPECT_EQ(WindowTextUtf8(child), control.caption);
    }
    // Position and size are each converted from dialog units.
    RECT place{control.rect.x, control.rect.y, control.rect.cx, control.rect.cy};
    MapDialogRect(window, &place);
    RECT actual;
    GetWindowRect(child, &actual);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, place.left) << control.caption;
    EXPECT_EQ(actual.top, place.top) << control.caption;
    EXPECT_EQ(actual.right - actual.left, place.right) << control.caption;
    EXPECT_EQ(actual.bottom - actual.top, place.bottom) << control.caption;
    child = GetWindow(child, GW_HWNDNEXT);
  }
  wchar_t text[64] = {};
  const HMENU menu = GetSystemMenu(window, FALSE);
  GetMenuStringW(menu, IDM_ABOUTBOX, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(WideToUtf8(text), kAboutMenuText);
  GetMenuStringW(menu, IDM_STATION, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(WideToUtf8(text), "生产线烧录...");
  EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
}

TEST_F(Win32Dialog, FlashesTheImageWithTheLogLinesOfTheLinuxDialog) {
  const auto id = Attach("boot");
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(WaitState(DS_BOOT)) << Log();
  const std::string image = dir_.Write("app.bin", testing::PatternBytes(5000));
  SetText(IDC_EDIT_PATH, image);
  ASSERT_TRUE(Enabled(IDC_BTN_FLASH));
  Click(IDC_BTN_FLASH);
  ASSERT_TRUE(Pump([&] { return LogHas("下载成功,设备即将重启\r\n"); })) << Log();
  // As the Linux dialog writes it: the percentages replace the preparing
  // line and then their own, so one line ends at 100 before the result.
  EXPECT_TRUE(LogHas("\r\n正在下载: 100\r\n下载成功,设备即将重启\r\n")) << Log();
  EXPECT_FALSE(LogHas("准备下载")) << Log();
  EXPECT_EQ(Log().find("正在下载"), Log().rfind("正在下载")) << Log();
  const auto verdict = bus_->model(id)->verdict();
  EXPECT_TRUE(verdict.completed) << verdict.summary();
  EXPECT_EQ(verdict.bytes, testing::PatternBytes(5000));
  // Closing saves the boxes.
  dialog_->Close();
  std::ifstream ini(platform::PathFromUtf8(Ini()), std::ios::binary);
  std::stringstream saved;
  saved << ini.rdbuf();
  EXPECT_NE(saved.str().find("app.bin"), std::string::npos) << saved.str();
}

TEST_F(Win32Dialog, ASecondPressCancelsTheDownload) {
  const auto id = Attach("boot,latency-us=2000,no-restart");
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(WaitState(DS_BOOT));
  SetText(IDC_EDIT_PATH, dir_.Write("big.bin", testing::PatternBytes(48 * 2000)));
  Click(IDC_BTN_FLASH);
  ASSERT_TRUE(Pump([&] { return LogHas("正在下载"); })) << Log();
  Click(IDC_BTN_FLASH);
  ASSERT_TRUE(Pump([&] { return LogHas("下载失败\r\n"); })) << Log();
  EXPECT_FALSE(bus_->model(id)->verdict().completed);
  EXPECT_FALSE(LogHas("下载成功"));
}

TEST_F(Win32Dialog, EnterFlashingModeRestartsAnApplicationDeviceIntoItsBootloader) {
  Attach("app");
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(WaitState(DS_APP));
  EXPECT_TRUE(Enabled(IDC_BTN_ENTER_FLASH_MODE));
  Click(IDC_BTN_ENTER_FLASH_MODE);
  EXPECT_TRUE(LogHas("进入烧录模式，等待设备重启\r\n设备等待烧录\r\n")) << Log();
  ASSERT_TRUE(WaitState(DS_BOOT)) << Log();
  EXPECT_TRUE(Enabled(IDC_BTN_FLASH));
  EXPECT_EQ(dialog_->ControlText(IDC_BTN_FLASH), "烧录");
}

TEST_F(Win32Dialog, AnOldBootloaderIsAdvisedToBeUpdated) {
  std::ofstream(platform::PathFromUtf8(Ini()), std::ios::binary) << "[Boot]\r\nBoot Update Check=1\r\n";
  Attach("boot,info=ZAVRO:0.1");
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(WaitState(DS_BOOT)) << Log();
  EXPECT_EQ(Controller().BootUpdateAdvised(), 1);
  EXPECT_EQ(dialog_->ControlText(IDC_BTN_FLASH), "更新BOOT") << Log();
}

TEST_F(Win32Dialog, AnUnusableSettingsFileIsReportedAndLeftAlone) {
  const std::string bad("V\0I\0D\0=\0" "1\0", 10);
  std::ofstream(platform::PathFromUtf8(Ini()), std::ios::binary) << bad;
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(Pump([&] { return !boxes_.empty(); })) << Log();
  EXPECT_EQ(boxes_.front().rfind("设置文件无法使用:\n", 0), 0u) << boxes_.front();
  EXPECT_NE(boxes_.front().find("UTF-16"), std::string::npos) << boxes_.front();
  EXPECT_EQ(dialog_->ControlText(IDC_EDIT_VID), IdentityBoxText(Settings{}.app_vid));  // the default
  SetText(IDC_EDIT_VID, "1234");
  dialog_->Close();
  std::ifstream ini(platform::PathFromUtf8(Ini()), std::ios::binary);
  std::stringstream kept;
  kept << ini.rdbuf();
  EXPECT_EQ(kept.str(), bad);
}

}  // namespace
}  // namespace torvane
