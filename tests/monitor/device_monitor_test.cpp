// Detection, the enumeration thread, hot-plug, the status report and the
// enter-flashing-mode command, run as the window runs them against the
// simulated bus.
#include <gtest/gtest.h>

#include <regex>
#include <utility>

#include "device/hid_link.h"
#include "monitor/debug_trace.h"
#include "tests/support/controller_harness.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using testing::ControllerHarness;
using testing::TempDir;

const std::string kBootHeader = "发现一个可烧录设备, 设备信息:";

TEST(DeviceMonitor, StartUpWithNothingAttachedReportsNoDevice) {
  ControllerHarness h;
  EXPECT_EQ(h.ui.EnumDoneCount(), 1);
  EXPECT_EQ(h.controller->State(), DS_NONE);
  EXPECT_TRUE(h.ui.enter_enabled);
  EXPECT_FALSE(h.ui.flash_enabled);
  EXPECT_EQ(h.ui.log, "没有发现设备\r\n");
}

TEST(DeviceMonitor, EachKindIsReportedWithItsButtonsAndText) {
  ControllerHarness h;
  h.ui.log.clear();
  const auto boot = h.Attach("boot,info=ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  EXPECT_FALSE(h.ui.enter_enabled);
  EXPECT_TRUE(h.ui.flash_enabled);
  EXPECT_EQ(h.ui.flash_caption, "烧录");
  EXPECT_EQ(h.ui.log, kBootHeader + "\nZAVRO:0.3.0.0 12:33:39 Sep 13 2016\r\n");
  EXPECT_FALSE(h.controller->DeviceOpen());  // open only for the query

  h.bus->unplug(boot);
  ASSERT_TRUE(h.WaitState(DS_NONE));
  EXPECT_TRUE(h.ui.enter_enabled);
  EXPECT_FALSE(h.ui.flash_enabled);

  h.ui.log.clear();
  h.Attach("app,info=APP 2.1");
  ASSERT_TRUE(h.WaitState(DS_APP));
  EXPECT_TRUE(h.ui.enter_enabled);
  EXPECT_FALSE(h.ui.flash_enabled);
  EXPECT_EQ(h.ui.log, "发现一个HID设备, 设备信息:\nAPP 2.1\r\n");
}

TEST(DeviceMonitor, OldBootloaderWinsTiesAndDrawsTheAdvice) {
  ControllerHarness h;
  h.Attach("boot");
  h.Attach("oldboot");
  ASSERT_TRUE(h.WaitState(DS_OLDBOOT));
  EXPECT_EQ(h.ui.flash_caption, "更新BOOT");
  EXPECT_NE(h.ui.log.find("发现一个旧版本可烧录设备, 设备信息:\n"), std::string::npos);
  EXPECT_NE(h.ui.log.find(" 升级期间请不要断开设备电源及USB！！\n========================================\n\r\n"),
            std::string::npos);
}

TEST(DeviceMonitor, UnrelatedDeviceChangesNothingVisible) {
  ControllerHarness h;
  h.Attach("boot");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  const std::string log = h.ui.log;
  const int enums = h.ui.EnumDoneCount();
  sim::SimInertInterface keyboard;
  keyboard.record.vendor_id = 0x046D;
  keyboard.record.product_id = 0xC31C;
  keyboard.record.usage_page = 1;
  keyboard.record.usage = 6;
  keyboard.report_descriptor = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x08,
                                0x81, 0x00, 0x95, 0x01, 0x91, 0x00, 0xC0};
  h.bus->attach_interfaces({keyboard});
  ASSERT_TRUE(h.WaitEnumDone(enums + 1));
  EXPECT_EQ(h.controller->State(), DS_BOOT);
  EXPECT_EQ(h.ui.log, log);
}

TEST(DeviceMonitor, IdentityBoxesAreReadWithTheHexRule) {
  ControllerHarness h;
  h.Attach("app");
  ASSERT_TRUE(h.WaitState(DS_APP));
  for (const char* text : {"534", "0x534", "0534", "  534"}) {
    h.ui.identity.vid = text;
    EXPECT_EQ(h.controller->DetectDeviceState(), DS_APP) << text;
  }
  h.ui.identity.vid = "xyz";  // reads as 0: any vendor with PID 0002
  EXPECT_EQ(h.controller->DetectDeviceState(), DS_APP);
  h.ui.identity.vid = "10534";  // low 16 bits
  EXPECT_EQ(h.controller->DetectDeviceState(), DS_APP);
  h.ui.identity.vid = "1234";
  EXPECT_EQ(h.controller->DetectDeviceState(), DS_NONE);
}

TEST(DeviceMonitor, VendorZeroDetectsAnyVendorButOpensOnlyVendorZero) {
  ControllerHarness h;
  h.ui.identity.vid = "0";
  h.Attach("app");
  ASSERT_TRUE(h.WaitState(DS_APP));
  // Found by PID alone, but the open compares the vendor exactly.
  EXPECT_NE(h.ui.log.find("发现一个HID设备, 设备信息:未知\r\n"), std::string::npos) << h.ui.log;
}

TEST(DeviceMonitor, AnIdentityOfVendorAndProductZeroMatchesNothing) {
  Settings settings;
  settings.old_boot_vid = settings.old_boot_pid = 0;  // e.g. VID=none, PID=none
  settings.boot_vid = settings.boot_pid = 0;
  ControllerHarness h(settings);
  h.Attach("app");
  EXPECT_TRUE(h.WaitState(DS_APP));
  h.ui.identity.vid = h.ui.identity.pid = "0";
  EXPECT_EQ(h.controller->DetectDeviceState(), DS_NONE);
}

TEST(DeviceMonitor, ChangedIdentityClosesTheOpenDevice) {
  ControllerHarness h;
  h.Attach("boot");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  h.controller->OnEnterFlashMode();  // leaves the bootloader open
  ASSERT_TRUE(h.controller->DeviceOpen());
  h.controller->ReadAppIdentity();  // same values: nothing closes
  EXPECT_TRUE(h.controller->DeviceOpen());
  h.ui.identity.pid = "0003";
  h.controller->ReadAppIdentity();
  EXPECT_FALSE(h.controller->DeviceOpen());
}

TEST(DeviceMonitor, BurstOfNotificationsFoldsIntoOneEnumeration) {
  ControllerHarness h;
  const int before = h.ui.EnumDoneCount();
  // Hold the enumeration thread back so the whole burst lands while the
  // first request is still pending.
  h.controller->StopEnumThread();
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(h.controller->OnDeviceChange(DBT_DEVICEARRIVAL));
    EXPECT_TRUE(h.controller->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE));
  }
  EXPECT_FALSE(h.controller->OnDeviceChange(0x0007));
  EXPECT_EQ(h.controller->EnumRequests(), 1);
  h.controller->StartEnumThread();
  ASSERT_TRUE(h.WaitEnumDone(before + 1));
  h.ui.ProcessFor(std::chrono::milliseconds(300));
  EXPECT_EQ(h.ui.EnumDoneCount(), before + 1);
}

TEST(DeviceMonitor, ArrivalDuringARebuildCausesAnotherRebuild) {
  ControllerHarness h;
  h.Attach("app");  // a listed device: detection then works on the cached list
  ASSERT_TRUE(h.WaitState(DS_APP));
  // The request below stands in for the hot-plug event, at a moment the
  // rebuild has already scanned past the new device.
  h.controller->UnregisterDeviceNotifications();
  bool first = true;
  h.controller->SetAfterRebuildHookForTesting([&] {
    if (!std::exchange(first, false)) return;
    h.Attach("boot");
    h.controller->RequestEnumeration();
  });
  h.controller->RequestEnumeration();
  EXPECT_TRUE(h.WaitState(DS_BOOT, std::chrono::seconds(2)));
}

TEST(DeviceMonitor, FailedInfoQueryShowsUnknownAndKeepsTheAdviceFlag) {
  Settings settings;
  settings.boot_update_check = true;
  ControllerHarness h(settings);
  const auto old = h.Attach("boot,info=ZAVRO:0.1");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  EXPECT_EQ(h.controller->BootUpdateAdvised(), 1);
  h.bus->unplug(old);
  ASSERT_TRUE(h.WaitState(DS_NONE));
  h.ui.log.clear();
  h.Attach("app,info-status=1");
  ASSERT_TRUE(h.WaitState(DS_APP));
  EXPECT_EQ(h.controller->BootUpdateAdvised(), 1);
  EXPECT_EQ(h.ui.log.rfind("发现一个HID设备, 设备信息:未知\n---", 0), 0u) << h.ui.log;
  EXPECT_EQ(h.ui.flash_caption, "更新BOOT");
}

TEST(DeviceMonitor, EnterFlashModeRestartsTheApplicationIntoItsBootloader) {
  ControllerHarness h;
  h.Attach("app");
  ASSERT_TRUE(h.WaitState(DS_APP));
  h.ui.log.clear();
  h.controller->OnEnterFlashMode();
  EXPECT_EQ(h.ui.log, "进入烧录模式，等待设备重启\r\n设备等待烧录\r\n");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  EXPECT_TRUE(h.ui.flash_enabled);
  EXPECT_FALSE(h.ui.enter_enabled);
}

TEST(DeviceMonitor, EnterFlashModeStatusesAndSilence) {
  struct Case {
    const char* knobs;
    bool waiting;
  };
  for (const Case& c : {Case{"app,enter-status=4,no-restart", true}, Case{"app,enter-status=1", false},
                        Case{"app,enter-silent", false}}) {
    ControllerHarness h;
    h.Attach(c.knobs);
    ASSERT_TRUE(h.WaitState(DS_APP));
    h.ui.log.clear();
    h.controller->OnEnterFlashMode();
    EXPECT_EQ(h.ui.log, std::string("进入烧录模式，等待设备重启\r\n") + (c.waiting ? "设备等待烧录\r\n" : ""))
        << c.knobs;
  }
}

TEST(DeviceMonitor, EnterFlashModeOnAnOldBootloaderFindsNoDevice) {
  ControllerHarness h;
  h.Attach("oldboot");
  ASSERT_TRUE(h.WaitState(DS_OLDBOOT));
  h.ui.log.clear();
  h.controller->OnEnterFlashMode();
  EXPECT_EQ(h.ui.log, "没有发现设备\r\n");
}

TEST(DeviceMonitor, ClickBetweenRebuildAndItsEnumDoneStoresTheNewStateAtOnce) {
  ControllerHarness h;
  h.Attach("app");
  ASSERT_TRUE(h.WaitState(DS_APP));
  const int enums = h.ui.EnumDoneCount();
  // The device leaves; rebuild the cache before the message is handled.
  for (int id = 1; id < 10; ++id) h.bus->unplug(static_cast<sim::SimDeviceId>(id));
  hid_link_refresh();
  h.ui.log.clear();
  h.controller->OnEnterFlashMode();  // sees the rebuilt list
  EXPECT_EQ(h.controller->State(), DS_NONE);
  EXPECT_EQ(h.ui.log, "没有发现设备\r\n");
  ASSERT_TRUE(h.WaitEnumDone(enums + 1));
  h.ui.ProcessFor(std::chrono::milliseconds(200));
  // That WM_ENUM_DONE found no change: no further report, buttons as before.
  EXPECT_EQ(h.ui.log, "没有发现设备\r\n");
  EXPECT_TRUE(h.ui.enter_enabled);
}

// A device whose reports are too long to open: the found-device report
// shows "未知", the enter-flashing-mode button "设备异常" without sending
// anything, and a download shows "设备异常", "准备下载", "下载失败" in
// that order.
TEST(DeviceMonitor, OpenFailuresShowDeviceErrorInEveryPath) {
  TempDir files;
  const std::string image = files.Write("app.bin", testing::PatternBytes(100));
  struct Case {
    const char* knobs;
    DeviceState state;
    const char* header;
  } const cases[] = {{"app,report-length=5000", DS_APP, "发现一个HID设备, 设备信息:"},
                     {"boot,report-length=5000,no-restart", DS_BOOT, "发现一个可烧录设备, 设备信息:"}};
  for (const Case& c : cases) {
    ControllerHarness h;
    h.ui.log.clear();
    const auto id = h.Attach(c.knobs);
    ASSERT_TRUE(h.WaitState(c.state));
    EXPECT_EQ(h.ui.log, std::string(c.header) + "未知\r\n") << c.knobs;
    h.ui.log.clear();
    h.controller->OnEnterFlashMode();
    EXPECT_EQ(h.ui.log, "设备异常\r\n") << c.knobs;
    EXPECT_EQ(h.Verdict(id).frames_received, 0u) << c.knobs;
    if (c.state != DS_BOOT) continue;
    h.ui.log.clear();
    EXPECT_EQ(h.Flash(image), DL_PROTOCOL_ERROR);
    EXPECT_EQ(h.ui.log, "设备异常\r\n准备下载\r\n下载失败\r\n");
  }
}

// Two changes of device during one download (replies take 0.9 s, so it is
// still waiting for an answer) raise one cancellation, not two.
TEST(DeviceMonitor, StateChangesDuringADownloadRaiseTheCancelOnce) {
  TempDir files;
  ControllerHarness h;
  const auto id = h.Attach("boot,latency-us=900000,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT, std::chrono::seconds(5)));
  const size_t before = h.ui.results.size();
  h.controller->OnFlash(files.Write("app.bin", testing::PatternBytes(480)));
  ASSERT_TRUE(h.ui.ProcessUntil([&] { return h.Verdict(id).start_commands == 1; }, std::chrono::seconds(5)));
  const auto old = h.Attach("oldboot");
  ASSERT_TRUE(h.WaitState(DS_OLDBOOT));
  EXPECT_EQ(h.controller->CancelRequests(), 1);
  // The second change is handled while the start command still waits; its
  // report then waits behind that answer, so the download may be over here.
  h.bus->unplug(old);
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  EXPECT_LE(h.controller->CancelRequests(), 1);
  ASSERT_TRUE(h.ui.ProcessUntil([&] { return h.ui.results.size() > before; }, std::chrono::seconds(10)));
  EXPECT_EQ(h.ui.results.back(), DL_CANCELLED);
  EXPECT_EQ(h.controller->CancelRequests(), 0) << "a second raise would outlive the download";
}

// Usage boxes at FFFF open whatever usage the device has; a usage that
// differs leaves the device unopened, so its info is unknown.
TEST(DeviceMonitor, UsageBoxesAtFFFFMatchAnyUsage) {
  struct Case {
    const char* usage_page;
    const char* usage;
    bool opens;
  } const cases[] = {{"FFFF", "FFFF", true}, {"FFFF", "0000", true}, {"0001", "FFFF", true},
                     {"0001", "0000", true}, {"0002", "FFFF", false}, {"FFFF", "0005", false}};
  for (const Case& c : cases) {
    ControllerHarness h;
    h.ui.identity.usage_page = c.usage_page;
    h.ui.identity.usage = c.usage;
    h.ui.log.clear();
    h.Attach("app,info=APP 2.1");
    ASSERT_TRUE(h.WaitState(DS_APP));
    EXPECT_EQ(h.ui.log, std::string("发现一个HID设备, 设备信息:") + (c.opens ? "\nAPP 2.1" : "未知") + "\r\n")
        << c.usage_page << ":" << c.usage;
  }
}

TEST(DebugTrace, PrefixCutAndCheckDeviceFormat) {
  const std::string prefix = "[" + ApplicationName() + "] ";
  ::testing::internal::CaptureStderr();
  DebugTrace("DoEnumerate: %d\n", 42);
  DebugTrace("%s", std::string(2000, 'x').c_str());
  const std::string traced = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(traced, prefix + "DoEnumerate: 42\n" + prefix + std::string(1023, 'x'));

  ::testing::internal::CaptureStderr();
  {
    ControllerHarness h;  // its first enumeration handles one WM_ENUM_DONE
  }
  const std::string checks = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_search(checks, std::regex("(^|\n)CheckDevice@[0-9]+\n"))) << checks;
  EXPECT_EQ(checks.find("] CheckDevice"), std::string::npos) << "no prefix: " << checks;
}

}  // namespace
}  // namespace torvane
