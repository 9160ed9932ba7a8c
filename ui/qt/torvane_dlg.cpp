#include "ui/qt/torvane_dlg.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QtGlobal>

#include <QMessageBox>

#include "device/hid_link.h"
#include "monitor/device_controller.h"
#include "monitor/sim_hotplug_source.h"
#include "platform/system_hotplug.h"
#include "settings/app_paths.h"
#include "settings/settings_check.h"
#include "sim/sim_bus.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_font.h"
#include "ui/qt/dialog_messages.h"
#include "ui/qt/dialog_poster.h"
#include "ui/dialog_settings.h"
#include "ui/dialog_template.h"
#include "ui/qt/image_file_dialog.h"
#include "ui/qt/log_pane.h"
#include "ui/qt/station_window.h"
#include "download/progress_text.h"

namespace torvane {

namespace {

// The window-menu command that closes the window.
constexpr unsigned kScClose = 0xF060;

bool IsEnterKey(const QKeyEvent* key) {
  if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
  const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
  return modifiers == Qt::NoModifier;
}

}  // namespace

CTorvaneDlg::CTorvaneDlg(QWidget* parent, QString settings_file)
    : QDialog(parent),
      m_appIcon(MakeAppIcon()),
      m_settingsFile(std::move(settings_file)),
      m_poster(std::make_shared<DialogPoster>(this)) {
  setWindowTitle(QString::fromUtf8(kMainDialogCaption));
  // Caption and close button; no minimise, maximise or help button; a
  // fixed frame.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFont(MainDialogFont());
  setModal(true);
  CreateControls();
  BindControls();
  RouteCommands();
}

CTorvaneDlg::~CTorvaneDlg() {
  // A dialog destroyed without being closed still shuts down (settings
  // saved while the boxes exist: the child widgets go after this body).
  OnDestroy();
  m_poster->Detach();
}

QWidget* CTorvaneDlg::GetDlgItem(int id) const {
  return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void CTorvaneDlg::CreateControls() {
  const DialogBaseUnits base = DialogBaseUnitsOf(font());
  setFixedSize(DialogUnitsToPixelsX(kMainDialogWidthDu, base), DialogUnitsToPixelsY(kMainDialogHeightDu, base));

  QWidget* previous_tab_stop = nullptr;
  QGroupBox* group = nullptr;
  for (const TemplateControl& control : kMainDialogControls) {
    const QString caption = QString::fromUtf8(control.caption);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::Edit:
        widget = new QLineEdit(this);
        break;
      case ControlKind::PushButton: {
        auto* button = new QPushButton(caption, this);
        // No button is the default: Enter outside a button closes the
        // window. Enter on a focused button presses it (eventFilter).
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(this);
        widget = button;
        break;
      }
      case ControlKind::Label:
      case ControlKind::Text: {
        auto* label = new QLabel(caption, this);
        label->setAlignment((control.kind == ControlKind::Label ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlKind::GroupBox:
        group = new QGroupBox(caption, this);
        widget = group;
        break;
      case ControlKind::LogPane:
        widget = new LogPane(this);
        break;
      case ControlKind::Icon: {
        auto* icon = new QLabel(this);
        icon->setPixmap(m_appIcon.pixmap(32));
        widget = icon;
        break;
      }
    }
    widget->setGeometry(DialogUnitsToPixelsX(control.rect.x, base), DialogUnitsToPixelsY(control.rect.y, base),
                        DialogUnitsToPixelsX(control.rect.cx, base), DialogUnitsToPixelsY(control.rect.cy, base));
    if (control.id != IDC_STATIC) widget->setObjectName(QString::number(control.id));
    if (IsTabStop(control.kind)) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previous_tab_stop != nullptr) QWidget::setTabOrder(previous_tab_stop, widget);
      previous_tab_stop = widget;
    } else {
      widget->setFocusPolicy(Qt::NoFocus);
    }
  }
  // The frame is drawn behind the controls it surrounds and must not take
  // their mouse clicks.
  if (group != nullptr) {
    group->lower();
    group->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
}

void CTorvaneDlg::BindControls() {
  for (int id : kBoundControls) {
    QWidget* widget = GetDlgItem(id);
    switch (id) {
      case IDC_LOG: m_log = qobject_cast<LogPane*>(widget); break;
      case IDC_BTN_OPEN: m_btnOpen = qobject_cast<QPushButton*>(widget); break;
      case IDC_BTN_ENTER_FLASH_MODE: m_btnEnterFlashMode = qobject_cast<QPushButton*>(widget); break;
      case IDC_BTN_FLASH: m_btnFlash = qobject_cast<QPushButton*>(widget); break;
      case IDC_EDIT_PATH: m_editPath = qobject_cast<QLineEdit*>(widget); break;
      case IDC_EDIT_VID: m_editVid = qobject_cast<QLineEdit*>(widget); break;
      case IDC_EDIT_PID: m_editPid = qobject_cast<QLineEdit*>(widget); break;
      case IDC_EDIT_USAGE_PAGE: m_editUsagePage = qobject_cast<QLineEdit*>(widget); break;
      case IDC_EDIT_USAGE: m_editUsage = qobject_cast<QLineEdit*>(widget); break;
      default: break;
    }
  }
  // Enter in an edit box or the log pane closes the window, and Escape
  // closes it wherever the focus is (the buttons are watched too).
  for (QWidget* widget : {static_cast<QWidget*>(m_log), static_cast<QWidget*>(m_editPath),
                          static_cast<QWidget*>(m_editVid), static_cast<QWidget*>(m_editPid),
                          static_cast<QWidget*>(m_editUsagePage), static_cast<QWidget*>(m_editUsage)}) {
    widget->installEventFilter(this);
  }
}

void CTorvaneDlg::RouteCommands() {
  connect(m_btnOpen, &QPushButton::clicked, this, [this] { OnOpenFile(); });
  connect(m_btnEnterFlashMode, &QPushButton::clicked, this, [this] { OnEnterFlashMode(); });
  connect(m_btnFlash, &QPushButton::clicked, this, [this] { OnFlash(); });
  if (auto* clear = qobject_cast<QPushButton*>(GetDlgItem(IDC_BTN_CLEAR)); clear != nullptr) {
    connect(clear, &QPushButton::clicked, this, [this] { OnClearLog(); });
  }
}

void CTorvaneDlg::setVisible(bool visible) {
  if (visible && !m_initialised && !m_destroyed) {
    m_initialised = true;
    OnInitDialog();
  }
  QDialog::setVisible(visible);
}

bool CTorvaneDlg::OnInitDialog() {
  // 1. The controls were created and bound with the window.
  // 2. The window-menu About item. Linux window managers keep their window
  //    menu to themselves, so the item lives in the window's context menu
  //    (also in the log pane's) and on F1.
  const QString about_text = QString::fromUtf8(kAboutMenuText);
  if (!about_text.isEmpty()) {
    m_aboutAction = new QAction(about_text, this);
    m_aboutAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_aboutAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_aboutAction, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX, 0); });
    addAction(m_aboutAction);
  }
  m_stationAction = new QAction(QString::fromUtf8(kStationMenuText), this);
  connect(m_stationAction, &QAction::triggered, this, [this] { OnStation(); });
  QList<QAction*> pane_actions{m_stationAction};
  if (m_aboutAction != nullptr) pane_actions.prepend(m_aboutAction);
  m_log->SetExtraContextActions(pane_actions);
  // 3. The icon, big and small.
  setWindowIcon(m_appIcon);
  // 4. The settings file beside the executable (or the one given).
  m_ini.SetPathName(MakeAbsolutePath(QFile::encodeName(m_settingsFile).toStdString()));
  // 5. Values into the members and the boxes.
  LoadSettings();
  // 6. The log pane in the dialog's font.
  m_log->setFont(font());
  // 7. The operator-mode lock.
  for (int id : kUserInputControls) {
    if (QWidget* widget = GetDlgItem(id); widget != nullptr) widget->setEnabled(!m_disableUserInput);
  }
  // 8. - 12. Device notifications, HID layer, worker state, the two
  //    worker threads and the first enumeration request.
  RegisterDeviceNotifications();
  HidLinkInit();
  ResetWorkerState();
  StartDownloadThread();
  StartEnumThread();
  RequestEnumeration();
  return true;
}

void CTorvaneDlg::done(int result) {
  QDialog::done(result);
  OnDestroy();
}

void CTorvaneDlg::OnDestroy() {
  if (!m_initialised || m_destroyed) return;
  m_destroyed = true;
  SaveSettings();  // while the boxes exist and the workers still run
  StopDownloadThread();
  StopEnumThread();
  CloseDevice();
  HidLinkExit();
}

void CTorvaneDlg::SetSimulatedBus(std::shared_ptr<sim::SimBus> bus) { m_simBus = std::move(bus); }

void CTorvaneDlg::EnsureController() {
  if (m_controller) return;
  m_frontEnd = std::make_unique<DialogPort>(*this, m_poster);
  m_controller = std::make_unique<DeviceController>(*m_frontEnd, m_settings);
}

void CTorvaneDlg::RegisterDeviceNotifications() {
  EnsureController();
  // hidraw arrivals and removals through udev, or the simulated bus's own.
  m_controller->RegisterDeviceNotifications(m_simBus ? MakeSimHotplugSource(m_simBus) : platform::MakeSystemHotplugSource());
}

void CTorvaneDlg::HidLinkInit() {
  if (m_simBus) hid_link_set_backend(m_simBus);
  hid_link_init();
}

void CTorvaneDlg::ResetWorkerState() {
  // A fresh controller starts with no device, DS_UNSET, counters at 0 and
  // no threads.
  EnsureController();
}

void CTorvaneDlg::StartDownloadThread() {
  if (m_controller) m_controller->StartDownloadThread();
}

void CTorvaneDlg::StartEnumThread() {
  if (m_controller) m_controller->StartEnumThread();
}

void CTorvaneDlg::RequestEnumeration() {
  if (m_controller) m_controller->RequestEnumeration();
}

void CTorvaneDlg::StopDownloadThread() {
  if (m_controller) m_controller->StopDownloadThread();
}

void CTorvaneDlg::StopEnumThread() {
  if (!m_controller) return;
  // No more arrivals: nothing would serve their enumeration requests.
  m_controller->UnregisterDeviceNotifications();
  m_controller->StopEnumThread();
}

void CTorvaneDlg::CloseDevice() {
  if (m_controller) m_controller->CloseDevice();
}

void CTorvaneDlg::HidLinkExit() {
  // A worker that missed its stop deadline may still be inside the HID
  // layer; it is then left up until the process ends.
  if ((m_controller && m_controller->AnyThreadAbandoned()) || AnyStationWorkerAbandoned()) return;
  hid_link_exit();
  if (m_simBus) hid_link_set_backend(nullptr);
}

void CTorvaneDlg::OnFlash() {
  if (m_controller) m_controller->OnFlash(m_editPath->text().toStdString());
}

void CTorvaneDlg::OnEnterFlashMode() {
  if (m_controller) m_controller->OnEnterFlashMode();
}

int CTorvaneDlg::OnEnumDone(qint64 /*wparam*/, qint64 /*lparam*/) {
  return m_controller && !m_destroyed && !m_stationOpen ? m_controller->OnEnumDone() : 0;
}

bool CTorvaneDlg::OnDeviceChange(unsigned event, qint64 /*data*/) {
  return m_controller && !m_destroyed && !m_stationOpen ? m_controller->OnDeviceChange(event) : false;
}

void CTorvaneDlg::ShowPermissionHint() {
  const QString reason = m_frontEnd ? QString::fromStdString(m_frontEnd->PermissionDeniedReason()) : QString();
  QMessageBox::warning(
      this, windowTitle(),
      QString::fromUtf8("无法打开设备: %1。\n\n"
                        "非 root 用户访问 USB HID 设备需要 Torvane 附带的 udev 规则: 安装 torvane 软件包, "
                        "或把 packaging/udev/70-torvane.rules 复制到 /etc/udev/rules.d/, 运行 "
                        "\"udevadm control --reload && udevadm trigger\", 然后重新插入设备。")
          .arg(reason));
}

void CTorvaneDlg::LoadSettings() {
  // An unusable file leaves the defaults in place; the operator is told
  // once, and the file is never rewritten on exit.
  LoadedDialogSettings loaded = LoadDialogSettings(m_ini.GetPathName());
  m_settingsProblem = loaded.problem;
  if (!m_settingsProblem.empty()) QTimer::singleShot(0, this, [this] { ShowSettingsProblem(); });
  const Settings& s = loaded.settings;
  m_settings = s;
  ShowSettingsInBoxes(s, *this);
  m_appVid = s.app_vid;
  m_appPid = s.app_pid;
  m_appUsagePage = s.app_usage_page;
  m_appUsage = s.app_usage;
  m_appAddress = s.app_address;
  m_disableUserInput = s.disable_user_input ? 1 : 0;
  m_oldBootVid = s.old_boot_vid;
  m_oldBootPid = s.old_boot_pid;
  m_bootVid = s.boot_vid;
  m_bootPid = s.boot_pid;
  m_bootUsagePage = s.boot_usage_page;
  m_bootUsage = s.boot_usage;
  m_bootUpdateBin = s.boot_update_bin;
  m_bootBinInfo = s.boot_bin_info;
  m_bootUpdateBinHeader = s.boot_update_bin_header;
  m_bootUpdateCheck = s.boot_update_check ? 1 : 0;
}

void CTorvaneDlg::ShowSettingsProblem() {
  auto* box = new QMessageBox(
      QMessageBox::Warning, windowTitle(),
      QString::fromStdString(SettingsProblemText(m_ini.GetPathName(), m_settingsProblem)),
      QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("settingsProblem"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();  // does not block the window's start-up
}

void CTorvaneDlg::SaveSettings() {
  if (!m_settingsProblem.empty()) return;  // not a file this window may rewrite
  std::string error;
  if (!SaveDialogBoxes(m_ini.GetPathName(), *this, m_disableUserInput != 0, &error)) {
    // Nothing is shown to the operator; developers see it on stderr.
    qWarning("[%s] settings not saved to %s: %s", qPrintable(QCoreApplication::applicationName()),
             m_ini.GetPathName().c_str(), error.c_str());
  }
}

void CTorvaneDlg::OnSysCommand(unsigned id, qint64 /*param*/) {
  if ((id & 0xFFF0u) == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.exec();
  } else if ((id & 0xFFF0u) == kScClose) {
    close();
  }
}

void CTorvaneDlg::OnOpenFile() {
  const QString current = m_editPath->text();
  QString chosen;
  if (ChooseImageFile(current, &chosen)) m_editPath->setText(chosen);
}

bool CTorvaneDlg::ChooseImageFile(const QString& initial_dir, QString* path) {
  ImageFileDialog chooser(this, initial_dir);
  if (chooser.exec() != QDialog::Accepted) return false;
  const QStringList files = chooser.selectedFiles();
  if (files.isEmpty()) return false;
  if (path != nullptr) *path = files.first();
  return true;
}

void CTorvaneDlg::AppendLog(const QString& text, bool replace) {
  if (QThread::currentThread() != thread()) {
    // The pane belongs to the UI thread; a call from elsewhere is queued
    // there, in order with the other posted entries.
    m_poster->PostLog(text, replace);
    return;
  }
  m_progressLog.LineChanged();
  if (replace) {
    m_log->SetSel(m_log->LastTextLineStart(), -1);
  } else {
    const int end = m_log->TextLength();
    m_log->SetSel(end, end);
  }
  m_log->ReplaceSel(text);
}

int CTorvaneDlg::OnDownloadProgress(qint64 kind, qint64 value) {
  const auto entry = m_progressLog.Entry(kind, value);
  if (!entry) return 0;
  AppendLog(QString::fromStdString(entry->text), entry->replace_last_line);
  m_progressLog.Shown(value, entry->replace_last_line);
  return 0;
}

void CTorvaneDlg::OnClearLog() {
  m_progressLog.LineChanged();
  m_log->SetSel(0, -1);
  m_log->ReplaceSel(QString());
}

void CTorvaneDlg::PostLog(const QString& text) { m_poster->PostLog(text); }

void CTorvaneDlg::AppendLogUtf8(const std::string& text, bool replace_last_line) {
  AppendLog(QString::fromStdString(text), replace_last_line);
}

std::string CTorvaneDlg::ControlText(int id) const {
  if (const auto* box = qobject_cast<const QLineEdit*>(GetDlgItem(id)); box != nullptr) return box->text().toStdString();
  if (const auto* button = qobject_cast<const QPushButton*>(GetDlgItem(id)); button != nullptr) {
    return button->text().toStdString();
  }
  return std::string();
}

void CTorvaneDlg::SetControlText(int id, const std::string& text) {
  QWidget* widget = GetDlgItem(id);
  if (auto* box = qobject_cast<QLineEdit*>(widget); box != nullptr) box->setText(QString::fromStdString(text));
  if (auto* button = qobject_cast<QPushButton*>(widget); button != nullptr) button->setText(QString::fromStdString(text));
}

void CTorvaneDlg::EnableControl(int id, bool enabled) {
  if (QWidget* widget = GetDlgItem(id); widget != nullptr) widget->setEnabled(enabled);
}

bool CTorvaneDlg::event(QEvent* event) {
  m_poster->Synchronize();
  const QEvent::Type type = event->type();
  if (type == WM_DOWNLOAD_PROGRESS) {
    const auto* message = static_cast<DialogMessageEvent*>(event);
    OnDownloadProgress(message->wParam(), message->lParam());
    return true;
  }
  if (type == WM_ENUM_DONE) {
    const auto* message = static_cast<DialogMessageEvent*>(event);
    OnEnumDone(message->wParam(), message->lParam());
    return true;
  }
  if (type == WM_APPEND_LOG) {
    const auto* entry = static_cast<LogTextEvent*>(event);
    AppendLog(entry->text(), entry->replaceLastLine());
    return true;
  }
  if (type == WM_PERMISSION_DENIED) {
    ShowPermissionHint();
    return true;
  }
  if (type == WM_DEVICECHANGE) {
    const auto* message = static_cast<DialogMessageEvent*>(event);
    OnDeviceChange(static_cast<unsigned>(message->wParam()), message->lParam());
    return true;
  }
  return QDialog::event(event);
}

bool CTorvaneDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Cancel)) {
      reject();
      return true;
    }
    if (IsEnterKey(key)) {
      if (auto* button = qobject_cast<QPushButton*>(watched); button != nullptr) {
        if (button->isEnabled()) button->click();
      } else {
        accept();
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CTorvaneDlg::keyPressEvent(QKeyEvent* event) {
  // Enter that reaches the window itself (no control has the focus) ends
  // it like the OK command.
  if (IsEnterKey(event)) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);  // Escape: reject()
}

void CTorvaneDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  if (m_aboutAction != nullptr) menu.addAction(m_aboutAction);
  if (m_stationAction != nullptr) menu.addAction(m_stationAction);
  if (!menu.isEmpty()) menu.exec(event->globalPos());
}

}  // namespace torvane
