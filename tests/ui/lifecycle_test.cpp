// Start-up and shut-down: the order of their steps, the settings loaded into
// the boxes and saved, once, by every way of closing the window.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>

#include "settings/app_paths.h"
#include "tests/ui/probe_dialog.h"
#include "tests/ui/qt_test_app.h"
#include "ui/control_ids.h"
#include "ui/qt/log_pane.h"
#include "ui/qt/termination_signals.h"

namespace torvane::test {
namespace {

class LifecycleTest : public ::testing::Test {
 protected:
  std::unique_ptr<ProbeDlg> Open(const std::string& ini_text = std::string()) {
    if (!ini_text.empty()) WriteFile(IniPath(), ini_text);
    auto dlg = std::make_unique<ProbeDlg>(nullptr, IniPath());
    dlg->show();
    return dlg;
  }
  QString IniPath() const { return dir_.filePath(QStringLiteral("Torvane.ini")); }
  std::string Ini() const { return ReadFile(IniPath()); }
  static QString Box(const ProbeDlg& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id))->text(); }
  static void SetBox(ProbeDlg& dlg, int id, const QString& text) {
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(id))->setText(text);
  }

  QTemporaryDir dir_;
};

TEST_F(LifecycleTest, StartUpStepsInOrderAfterTheSettings) {
  WriteFile(IniPath(), "[Config]\nVID=1A2B\nDisable User Input=1\n");
  auto dlg = std::make_unique<ProbeDlg>(nullptr, IniPath());
  EXPECT_TRUE(dlg->calls.empty());  // nothing before the window opens
  bool loaded_and_locked = false;
  dlg->on_call = [&](const std::string& name) {
    if (name == "RegisterDeviceNotifications") {
      loaded_and_locked = Box(*dlg, IDC_EDIT_VID) == QStringLiteral("1A2B") &&
                          !dlg->GetDlgItem(IDC_EDIT_VID)->isEnabled() && dlg->m_log->font() == dlg->font() &&
                          !dlg->isVisible();
    }
  };
  dlg->show();
  EXPECT_TRUE(loaded_and_locked);
  const std::vector<std::string> expected = {"RegisterDeviceNotifications", "HidLinkInit",
                                             "ResetWorkerState",            "StartDownloadThread",
                                             "StartEnumThread",             "RequestEnumeration"};
  EXPECT_EQ(dlg->calls, expected);
  // Showing again does not start again.
  dlg->hide();
  dlg->show();
  EXPECT_EQ(dlg->calls, expected);
}

TEST_F(LifecycleTest, ShutDownSavesFirstThenStopsInOrder) {
  auto dlg = Open();
  dlg->calls.clear();
  SetBox(*dlg, IDC_EDIT_VID, QStringLiteral("0abc"));
  std::string file_at_stop;
  dlg->on_call = [&](const std::string& name) {
    if (name == "StopDownloadThread") file_at_stop = Ini();
  };
  dlg->reject();
  const std::vector<std::string> expected = {"StopDownloadThread", "StopEnumThread", "CloseDevice", "HidLinkExit"};
  EXPECT_EQ(dlg->calls, expected);
  EXPECT_NE(file_at_stop.find("VID=ABC"), std::string::npos) << file_at_stop;
  EXPECT_FALSE(dlg->isVisible());
}

TEST_F(LifecycleTest, NoFileGivesDefaultsAndExitCreatesRecentAndConfig) {
  auto dlg = Open();
  EXPECT_EQ(Box(*dlg, IDC_EDIT_VID), QStringLiteral("0534"));
  EXPECT_EQ(Box(*dlg, IDC_EDIT_PID), QStringLiteral("0002"));
  EXPECT_EQ(Box(*dlg, IDC_EDIT_USAGE_PAGE), QStringLiteral("0001"));
  EXPECT_EQ(Box(*dlg, IDC_EDIT_USAGE), QStringLiteral("0000"));
  EXPECT_EQ(Box(*dlg, IDC_EDIT_PATH), QString());
  EXPECT_EQ(dlg->m_appAddress, 0x1000u);
  EXPECT_EQ(dlg->m_bootVid, 0x484F);
  EXPECT_EQ(dlg->m_bootPid, 0x5048);
  EXPECT_EQ(dlg->m_bootUsagePage, 0xFFFF);
  EXPECT_EQ(dlg->m_bootUsage, 0xFFFF);
  EXPECT_EQ(dlg->m_oldBootVid, 0x484F);
  EXPECT_EQ(dlg->m_oldBootPid, 0x5045);
  EXPECT_EQ(dlg->m_bootUpdateCheck, 0);
  EXPECT_EQ(dlg->m_bootUpdateBin, "burn_boot_0.3.0.0.bin");
  EXPECT_EQ(dlg->SettingsPath(), IniPath().toStdString());
  EXPECT_TRUE(Ini().empty());
  dlg->reject();
  const std::string ini = Ini();
  for (const char* line : {"[Recent]", "File Path=", "[Config]", "VID=534", "PID=2", "Usage Page=1", "Usage=0",
                           "Disable User Input=0"}) {
    EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
  }
  EXPECT_EQ(ini.find("[Boot]"), std::string::npos);
}

TEST_F(LifecycleTest, SettingsFillMembersAndBoxes) {
  auto dlg = Open(
      "[Recent]\nFile Path=/srv/fw/app 1.bin\n"
      "[config]\nvid=0x1A2B\nPID=12345\nUsage Page=\nUsage=zz\nApp Address=8000\n"
      "[OldBoot]\nVID=1\nPID=2\n"
      "[Boot]\nVID=3\nPID=4\nUsage Page=FF00\nUsage=1\nBoot Update Bin=b.bin\n"
      "Boot Bin Info=ZAVRO:0.4\nBoot Update Bin Header=h.bin\nBoot Update Check=yes\n");
  EXPECT_EQ(Box(*dlg, IDC_EDIT_PATH), QStringLiteral("/srv/fw/app 1.bin"));
  EXPECT_EQ(Box(*dlg, IDC_EDIT_VID), QStringLiteral("1A2B"));
  EXPECT_EQ(Box(*dlg, IDC_EDIT_PID), QStringLiteral("2345"));
  EXPECT_EQ(Box(*dlg, IDC_EDIT_USAGE_PAGE), QStringLiteral("0001"));
  EXPECT_EQ(Box(*dlg, IDC_EDIT_USAGE), QStringLiteral("0000"));
  EXPECT_EQ(dlg->m_appVid, 0x1A2B);
  EXPECT_EQ(dlg->m_appPid, 0x2345);
  EXPECT_EQ(dlg->m_appUsagePage, 0x0001);
  EXPECT_EQ(dlg->m_appUsage, 0x0000);
  EXPECT_EQ(dlg->m_appAddress, 0x8000u);
  EXPECT_EQ(dlg->m_oldBootVid, 1);
  EXPECT_EQ(dlg->m_oldBootPid, 2);
  EXPECT_EQ(dlg->m_bootVid, 3);
  EXPECT_EQ(dlg->m_bootPid, 4);
  EXPECT_EQ(dlg->m_bootUsagePage, 0xFF00);
  EXPECT_EQ(dlg->m_bootUsage, 1);
  EXPECT_EQ(dlg->m_bootUpdateBin, "b.bin");
  EXPECT_EQ(dlg->m_bootBinInfo, "ZAVRO:0.4");
  EXPECT_EQ(dlg->m_bootUpdateBinHeader, "h.bin");
  EXPECT_EQ(dlg->m_bootUpdateCheck, 1);
}

TEST_F(LifecycleTest, SavesTheBoxesAsTheyStandAndKeepsTheRest) {
  auto dlg = Open("; operator notes\n[Config]\nVID=0534\nApp Address=8000\n[Boot]\nVID=484F\n");
  SetBox(*dlg, IDC_EDIT_PATH, QStringLiteral("/tmp/中文/image.bin"));
  SetBox(*dlg, IDC_EDIT_PID, QString());             // emptied: saved as 0
  SetBox(*dlg, IDC_EDIT_USAGE_PAGE, QStringLiteral("  0xff00"));
  SetBox(*dlg, IDC_EDIT_USAGE, QStringLiteral("xyz"));
  dlg->accept();
  const std::string ini = Ini();
  for (const char* line : {"; operator notes", "File Path=/tmp/中文/image.bin", "VID=534", "PID=0",
                           "Usage Page=FF00", "Usage=0", "App Address=8000", "[Boot]", "VID=484F",
                           "Disable User Input=0"}) {
    EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
  }
  // The next start reads the emptied box as 0, not as the default.
  auto again = Open();
  EXPECT_EQ(Box(*again, IDC_EDIT_PID), QStringLiteral("0000"));
  EXPECT_EQ(Box(*again, IDC_EDIT_PATH), QStringLiteral("/tmp/中文/image.bin"));
}

TEST_F(LifecycleTest, OperatorModeIsWrittenBack) {
  auto dlg = Open("[Config]\nDisable User Input=TRUE\n");
  dlg->reject();
  EXPECT_NE(Ini().find("Disable User Input=1"), std::string::npos) << Ini();
}

// Each way of closing: settings saved once with the current box text,
// shut-down steps run once.
struct ClosePath {
  const char* name;
  std::function<void(ProbeDlg&)> close;
};

void PrintTo(const ClosePath& path, std::ostream* os) { *os << path.name; }

class ClosePathTest : public LifecycleTest, public ::testing::WithParamInterface<ClosePath> {};

void PressKeyOn(ProbeDlg& dlg, int id, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* widget = dlg.GetDlgItem(id);
  dlg.activateWindow();
  widget->setFocus();
  QTest::keyClick(widget, key, modifiers);
}

TEST_P(ClosePathTest, SavesOnceAndShutsDownOnce) {
  auto dlg = Open();
  SetBox(*dlg, IDC_EDIT_VID, QStringLiteral("BEEF"));
  SetBox(*dlg, IDC_EDIT_PATH, QStringLiteral("/x/y.bin"));
  dlg->calls.clear();
  GetParam().close(*dlg);
  ASSERT_TRUE(ProcessEventsUntil([&] { return dlg->Destroyed(); }, std::chrono::seconds(5)));
  EXPECT_FALSE(dlg->isVisible());
  const std::string ini = Ini();
  EXPECT_NE(ini.find("VID=BEEF"), std::string::npos) << ini;
  EXPECT_NE(ini.find("File Path=/x/y.bin"), std::string::npos) << ini;
  EXPECT_EQ(std::count(dlg->calls.begin(), dlg->calls.end(), "StopDownloadThread"), 1);

  // No second save and no second shut-down, whatever comes after.
  WriteFile(IniPath(), "marker\n");
  dlg->reject();
  dlg->accept();
  dlg->close();
  dlg.reset();
  EXPECT_EQ(Ini(), "marker\n");
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, ClosePathTest,
    ::testing::Values(
        ClosePath{"EscapeInEditBox", [](ProbeDlg& d) { PressKeyOn(d, IDC_EDIT_PID, Qt::Key_Escape); }},
        ClosePath{"EscapeOnButton", [](ProbeDlg& d) { PressKeyOn(d, IDC_BTN_FLASH, Qt::Key_Escape); }},
        ClosePath{"EscapeInLogPane", [](ProbeDlg& d) { PressKeyOn(d, IDC_LOG, Qt::Key_Escape); }},
        ClosePath{"EnterInVidBox", [](ProbeDlg& d) { PressKeyOn(d, IDC_EDIT_VID, Qt::Key_Return); }},
        ClosePath{"EnterInPathBox", [](ProbeDlg& d) { PressKeyOn(d, IDC_EDIT_PATH, Qt::Key_Return); }},
        ClosePath{"KeypadEnterInUsageBox",
                  [](ProbeDlg& d) { PressKeyOn(d, IDC_EDIT_USAGE, Qt::Key_Enter, Qt::KeypadModifier); }},
        ClosePath{"EnterInLogPane", [](ProbeDlg& d) { PressKeyOn(d, IDC_LOG, Qt::Key_Return); }},
        ClosePath{"TitleBarClose", [](ProbeDlg& d) { d.close(); }},
        ClosePath{"WindowMenuClose", [](ProbeDlg& d) { d.OnSysCommand(0xF060, 0); }},
        ClosePath{"Reject", [](ProbeDlg& d) { d.reject(); }},
        ClosePath{"Accept", [](ProbeDlg& d) { d.accept(); }},
        ClosePath{"ApplicationQuit",
                  [](ProbeDlg& d) {
                    // Quit from inside the application's event loop, as a
                    // session end does.
                    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
                    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
                    QCoreApplication::exec();
                    (void)d;
                  }}),
    [](const ::testing::TestParamInfo<ClosePath>& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, TerminationSignalClosesThroughShutDown) {
  auto dlg = Open();
  SetBox(*dlg, IDC_EDIT_VID, QStringLiteral("C0DE"));
  ASSERT_TRUE(InstallTerminationHandler());
  QTimer::singleShot(0, [] { std::raise(SIGTERM); });
  QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  RemoveTerminationHandler();
  EXPECT_TRUE(dlg->Destroyed());
  EXPECT_NE(Ini().find("VID=C0DE"), std::string::npos) << Ini();
  EXPECT_EQ(std::count(dlg->calls.begin(), dlg->calls.end(), "StopDownloadThread"), 1);
}

TEST_F(LifecycleTest, DestroyingAnOpenWindowStillSaves) {
  auto dlg = Open();
  SetBox(*dlg, IDC_EDIT_USAGE, QStringLiteral("77"));
  // The base class's own shut-down in its destructor.
  auto plain = std::make_unique<CTorvaneDlg>(nullptr, IniPath());
  plain->show();
  qobject_cast<QLineEdit*>(plain->GetDlgItem(IDC_EDIT_USAGE))->setText(QStringLiteral("99"));
  plain.reset();
  EXPECT_NE(Ini().find("Usage=99"), std::string::npos) << Ini();
}

TEST_F(LifecycleTest, WindowNeverOpenedWritesNothing) {
  { ProbeDlg dlg(nullptr, IniPath()); }
  EXPECT_TRUE(Ini().empty());
  EXPECT_FALSE(QFile::exists(IniPath()));
}

TEST_F(LifecycleTest, EnterOnAFocusedButtonPressesItInstead) {
  auto dlg = Open();
  PressKeyOn(*dlg, IDC_BTN_FLASH, Qt::Key_Return);
  EXPECT_EQ(dlg->flash_clicks, 1);
  PressKeyOn(*dlg, IDC_BTN_ENTER_FLASH_MODE, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(dlg->enter_flash_mode_clicks, 1);
  dlg->AppendLog(QStringLiteral("x\r\n"), false);
  PressKeyOn(*dlg, IDC_BTN_CLEAR, Qt::Key_Return);
  EXPECT_TRUE(dlg->m_log->toPlainText().isEmpty());
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_FALSE(dlg->Destroyed());
  // With a modifier Enter is no close command.
  PressKeyOn(*dlg, IDC_EDIT_VID, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(LifecycleTest, DefaultSettingsFileLivesBesideTheExecutable) {
  SetAppDirectoryForTesting(dir_.path().toStdString() + "/");
  {
    ProbeDlg dlg;
    dlg.show();
    EXPECT_EQ(dlg.SettingsPath(), dir_.path().toStdString() + "/Torvane.ini");
    dlg.reject();
  }
  SetAppDirectoryForTesting(std::nullopt);
  EXPECT_NE(Ini().find("[Config]"), std::string::npos);
}

TEST_F(LifecycleTest, UnusableSettingsFileIsNamedOnceAndNeverRewritten) {
  const std::string utf16("\xFF\xFE[\0C\0]\0", 8);
  WriteFile(IniPath(), utf16);
  auto dlg = Open();
  QTest::qWait(50);
  const auto boxes = dlg->findChildren<QMessageBox*>(QStringLiteral("settingsProblem"));
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes.front()->text().contains(IniPath())) << boxes.front()->text().toStdString();
  EXPECT_EQ(Box(*dlg, IDC_EDIT_VID), QStringLiteral("0534"));  // the defaults
  boxes.front()->accept();
  dlg->reject();
  EXPECT_EQ(Ini(), utf16);
}

TEST_F(LifecycleTest, UnwritableSettingsFileIsNoFailureOfTheWindow) {
  const QString blocked = dir_.filePath(QStringLiteral("no-such-dir/Torvane.ini"));
  ProbeDlg dlg(nullptr, blocked);
  dlg.show();
  dlg.reject();
  EXPECT_TRUE(dlg.Destroyed());
  EXPECT_FALSE(QFile::exists(blocked));
}

}  // namespace
}  // namespace torvane::test
