// The main window's template: controls with their ids, captions, places
// and sizes, tab order, enable states, font, icon, and the About box.
#include <gtest/gtest.h>

#include <QAction>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "tests/ui/probe_dialog.h"
#include "tests/ui/qt_test_app.h"
#include "ui/qt/about_dlg.h"
#include "ui/control_ids.h"
#include "ui/qt/dialog_font.h"
#include "ui/dialog_template.h"
#include "ui/dialog_units.h"
#include "ui/qt/log_pane.h"

namespace torvane::test {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  std::unique_ptr<ProbeDlg> Open(const std::string& ini_text = std::string()) {
    if (!ini_text.empty()) WriteFile(IniPath(), ini_text);
    auto dlg = std::make_unique<ProbeDlg>(nullptr, IniPath());
    dlg->show();
    return dlg;
  }
  QString IniPath() const { return dir_.filePath(QStringLiteral("Torvane.ini")); }
  void TearDown() override { EXPECT_EQ(CancelPendingModalWaits(), 0) << "a dialog did not open"; }

  QTemporaryDir dir_;
};

QRect PixelRect(const DialogRect& r, DialogBaseUnits base) {
  return QRect(DialogUnitsToPixelsX(r.x, base), DialogUnitsToPixelsY(r.y, base), DialogUnitsToPixelsX(r.cx, base),
               DialogUnitsToPixelsY(r.cy, base));
}

QLabel* FindLabel(QWidget* dlg, const QString& text) {
  for (QLabel* label : dlg->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (label->text() == text) return label;
  }
  return nullptr;
}

TEST_F(MainWindowTest, WindowCaptionSizeFontAndIcon) {
  auto dlg = Open();
  EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Torvane"));
  const DialogBaseUnits base = DialogBaseUnitsOf(dlg->font());
  EXPECT_GT(base.x, 0);
  EXPECT_GT(base.y, 0);
  EXPECT_EQ(dlg->size(), QSize(DialogUnitsToPixelsX(240, base), DialogUnitsToPixelsY(235, base)));
  // A fixed frame without minimise and maximise boxes.
  EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
  EXPECT_FALSE(dlg->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(dlg->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(dlg->isModal());
  // The stand-in font at the template's 12 points, one of the families
  // that hold the Chinese captions.
  EXPECT_EQ(dlg->font().pointSize(), 12);
  EXPECT_TRUE(DialogFontFamilies().contains(QFontInfo(dlg->font()).family()))
      << QFontInfo(dlg->font()).family().toStdString();
  EXPECT_FALSE(dlg->windowIcon().isNull());
  EXPECT_FALSE(dlg->windowIcon().pixmap(32).isNull());
}

TEST_F(MainWindowTest, ControlsHaveTheirIdsCaptionsAndGeometry) {
  auto dlg = Open();
  const DialogBaseUnits base = DialogBaseUnitsOf(dlg->font());
  for (const TemplateControl& control : kMainDialogControls) {
    const QString caption = QString::fromUtf8(control.caption);
    SCOPED_TRACE(caption.toStdString() + " id " + std::to_string(control.id));
    QWidget* widget = nullptr;
    if (control.id != IDC_STATIC) {
      widget = dlg->GetDlgItem(control.id);
      ASSERT_NE(widget, nullptr);
      EXPECT_EQ(widget->objectName(), QString::number(control.id));
    }
    switch (control.kind) {
      case ControlKind::Edit: {
        auto* edit = qobject_cast<QLineEdit*>(widget);
        ASSERT_NE(edit, nullptr);
        EXPECT_TRUE(edit->hasFrame());
        break;
      }
      case ControlKind::PushButton: {
        auto* button = qobject_cast<QPushButton*>(widget);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), caption);
        break;
      }
      case ControlKind::Label: {
        auto* label = FindLabel(dlg.get(), caption);
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(label->alignment() & Qt::AlignRight);
        widget = label;
        break;
      }
      case ControlKind::GroupBox: {
        auto groups = dlg->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly);
        ASSERT_EQ(groups.size(), 1);
        EXPECT_TRUE(groups.front()->title().isEmpty());
        widget = groups.front();
        break;
      }
      case ControlKind::LogPane:
        ASSERT_NE(qobject_cast<LogPane*>(widget), nullptr);
        break;
      default:
        FAIL() << "unexpected control kind";
    }
    EXPECT_EQ(widget->geometry(), PixelRect(control.rect, base));
    EXPECT_EQ(widget->parentWidget(), dlg.get());
    EXPECT_TRUE(widget->isVisible());
  }
}

TEST_F(MainWindowTest, LogPaneIsReadOnlyWrappingAndInTheDialogFont) {
  auto dlg = Open();
  auto* pane = qobject_cast<LogPane*>(dlg->GetDlgItem(IDC_LOG));
  ASSERT_NE(pane, nullptr);
  EXPECT_TRUE(pane->isReadOnly());
  EXPECT_EQ(pane->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(pane->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_NE(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(pane->font(), dlg->font());
  EXPECT_TRUE(pane->toPlainText().isEmpty());
  EXPECT_NE(pane->frameShape(), QFrame::NoFrame);
}

TEST_F(MainWindowTest, TabOrderIsTemplateOrder) {
  auto dlg = Open();
  const std::vector<int> expected = {IDC_EDIT_PATH, IDC_BTN_CLEAR, IDC_BTN_ENTER_FLASH_MODE, IDC_BTN_FLASH,
                                     IDC_LOG,       IDC_BTN_OPEN,  IDC_EDIT_VID,             IDC_EDIT_PID,
                                     IDC_EDIT_USAGE_PAGE, IDC_EDIT_USAGE};
  std::vector<int> order;
  QWidget* first = dlg->GetDlgItem(IDC_EDIT_PATH);
  QWidget* w = first;
  do {
    if (w->focusPolicy() & Qt::TabFocus) {
      bool ok = false;
      const int id = w->objectName().toInt(&ok);
      if (ok) order.push_back(id);
    }
    w = w->nextInFocusChain();
  } while (w != first && order.size() < 32);
  EXPECT_EQ(order, expected);
  // Labels and the group box are no tab stops.
  for (QLabel* label : dlg->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
  }
  for (QGroupBox* group : dlg->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_EQ(group->focusPolicy(), Qt::NoFocus);
  }
}

TEST_F(MainWindowTest, TabKeyWalksTheTemplateOrder) {
  auto dlg = Open();
  dlg->activateWindow();
  QWidget* path = dlg->GetDlgItem(IDC_EDIT_PATH);
  path->setFocus();
  ASSERT_TRUE(ProcessEventsUntil([&] { return path->hasFocus(); }));
  QTest::keyClick(path, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), dlg->GetDlgItem(IDC_BTN_CLEAR));
  // Tab leaves the log pane instead of being typed into it.
  QWidget* pane = dlg->GetDlgItem(IDC_LOG);
  pane->setFocus();
  QTest::keyClick(pane, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), dlg->GetDlgItem(IDC_BTN_OPEN));
}

TEST_F(MainWindowTest, NoButtonIsTheDefault) {
  // Enter in an edit box closes the window, so no button may look like
  // the one Enter presses.
  auto dlg = Open();
  for (QPushButton* button : dlg->findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
    EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
  }
}

TEST_F(MainWindowTest, EverythingEnabledByDefault) {
  auto dlg = Open();
  for (int id : {IDC_LOG, IDC_EDIT_PATH, IDC_BTN_FLASH, IDC_BTN_OPEN, IDC_BTN_CLEAR, IDC_BTN_ENTER_FLASH_MODE,
                 IDC_EDIT_VID, IDC_EDIT_PID, IDC_EDIT_USAGE_PAGE, IDC_EDIT_USAGE}) {
    EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;
  }
  EXPECT_EQ(dlg->m_disableUserInput, 0);
}

TEST_F(MainWindowTest, DisableUserInputLocksIdentityPathAndOpen) {
  for (const char* value : {"1", "TRUE", "yes", "-1", "1abc"}) {
    SCOPED_TRACE(value);
    auto dlg = Open(std::string("[Config]\nDisable User Input=") + value + "\n");
    for (int id : {IDC_EDIT_VID, IDC_EDIT_PID, IDC_EDIT_USAGE_PAGE, IDC_EDIT_USAGE, IDC_EDIT_PATH, IDC_BTN_OPEN}) {
      EXPECT_FALSE(dlg->GetDlgItem(id)->isEnabled()) << id;
    }
    for (int id : {IDC_BTN_CLEAR, IDC_BTN_FLASH, IDC_BTN_ENTER_FLASH_MODE, IDC_LOG}) {
      EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;
    }
    dlg->reject();
  }
  for (const char* value : {"0", "on", "0x1", ""}) {
    SCOPED_TRACE(value);
    auto dlg = Open(std::string("[Config]\nDisable User Input=") + value + "\n");
    EXPECT_TRUE(dlg->GetDlgItem(IDC_EDIT_PATH)->isEnabled());
    EXPECT_TRUE(dlg->GetDlgItem(IDC_BTN_OPEN)->isEnabled());
    dlg->reject();
  }
}

TEST_F(MainWindowTest, ButtonsRouteToTheirHandlers) {
  auto dlg = Open();
  QTest::mouseClick(dlg->GetDlgItem(IDC_BTN_FLASH), Qt::LeftButton);
  EXPECT_EQ(dlg->flash_clicks, 1);
  QTest::mouseClick(dlg->GetDlgItem(IDC_BTN_ENTER_FLASH_MODE), Qt::LeftButton);
  EXPECT_EQ(dlg->enter_flash_mode_clicks, 1);
  dlg->AppendLog(QStringLiteral("abc\r\n"), false);
  QTest::mouseClick(dlg->GetDlgItem(IDC_BTN_CLEAR), Qt::LeftButton);
  EXPECT_TRUE(dlg->m_log->toPlainText().isEmpty());
  // Clicks land on the buttons inside the frame of the group box.
  EXPECT_EQ(dlg->childAt(dlg->GetDlgItem(IDC_BTN_FLASH)->geometry().center()), dlg->GetDlgItem(IDC_BTN_FLASH));
  EXPECT_EQ(dlg->childAt(dlg->GetDlgItem(IDC_EDIT_VID)->geometry().center()), dlg->GetDlgItem(IDC_EDIT_VID));
}

TEST_F(MainWindowTest, AboutItemInContextMenuAndOnF1) {
  auto dlg = Open();
  QAction* about = nullptr;
  for (QAction* action : dlg->actions()) {
    if (action->text() == QStringLiteral("&About Torvane...")) about = action;
  }
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->shortcut(), QKeySequence(Qt::Key_F1));

  QString seen_title;
  WhenModalOf<CAboutDlg>([&](CAboutDlg* box) {
    seen_title = box->windowTitle();
    box->accept();
  });
  about->trigger();
  EXPECT_EQ(seen_title, QStringLiteral("About Torvane"));

  // F1 from a focused control; the About box can be opened again.
  seen_title.clear();
  WhenModalOf<CAboutDlg>([&](CAboutDlg* box) {
    seen_title = box->windowTitle();
    box->reject();
  });
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  dlg->GetDlgItem(IDC_EDIT_VID)->setFocus();
  QTest::keyClick(dlg->GetDlgItem(IDC_EDIT_VID), Qt::Key_F1);
  EXPECT_EQ(seen_title, QStringLiteral("About Torvane"));
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(MainWindowTest, SysCommandOpensAboutOnlyForItsId) {
  auto dlg = Open();
  int opened = 0;
  WhenModalOf<CAboutDlg>([&](CAboutDlg* box) {
    ++opened;
    box->accept();
  });
  dlg->OnSysCommand(IDM_ABOUTBOX | 0x000F, 0);  // low four bits ignored
  EXPECT_EQ(opened, 1);
  dlg->OnSysCommand(0xF010, 0);  // move: nothing of ours
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(dlg->isVisible());
}

TEST(AboutBox, TemplateCaptionSizeAndVersion) {
  CAboutDlg box;
  EXPECT_EQ(box.windowTitle(), QStringLiteral("About Torvane"));
  const DialogBaseUnits base = DialogBaseUnitsOf(box.font());
  EXPECT_EQ(box.font().pointSize(), 8);
  EXPECT_EQ(box.size(), QSize(DialogUnitsToPixelsX(170, base), DialogUnitsToPixelsY(62, base)));
  bool version_shown = false;
  for (QLabel* label : box.findChildren<QLabel*>()) {
    if (label->text().contains(QStringLiteral("1.5.0.0"))) version_shown = true;
  }
  EXPECT_TRUE(version_shown);
  auto* ok = box.findChild<QPushButton*>();
  ASSERT_NE(ok, nullptr);
  box.show();
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace torvane::test
