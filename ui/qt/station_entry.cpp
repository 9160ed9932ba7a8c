// The two ways into the station window: the main window's context menu, and
// `torvane --station`, which runs the station window alone.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

#include "device/hid_link.h"
#include "monitor/device_controller.h"
#include "monitor/sim_hotplug_source.h"
#include "platform/system_hotplug.h"
#include "settings/app_paths.h"
#include "settings/ini_file.h"
#include "sim/sim_bus.h"
#include "ui/dialog_texts.h"
#include "ui/qt/station_window.h"
#include "ui/qt/torvane_app.h"
#include "ui/qt/torvane_dlg.h"

namespace torvane {

namespace {

std::function<std::unique_ptr<HotplugSource>()> HotplugFactory(std::shared_ptr<sim::SimBus> bus) {
  return [bus]() -> std::unique_ptr<HotplugSource> {
    return bus ? MakeSimHotplugSource(bus) : platform::MakeSystemHotplugSource();
  };
}

std::string AbsoluteImagePath(const QString& text) {
  return text.isEmpty() ? std::string() : QFile::encodeName(QFileInfo(text).absoluteFilePath()).toStdString();
}

}  // namespace

void CTorvaneDlg::OnStation() {
  if (m_destroyed) return;
  if (m_controller && m_controller->DownloadRequests() > 0) {
    QMessageBox::information(this, windowTitle(), QString::fromUtf8(kStationBusyText));
    return;
  }
  StationWindowSetup setup;
  setup.settings = m_settings;
  setup.settings_path = m_ini.GetPathName();
  setup.image_path = AbsoluteImagePath(m_editPath->text());
  setup.make_hotplug_source = HotplugFactory(m_simBus);
  // While the station runs the main window leaves the devices alone: its
  // detection would talk to a unit in the middle of its flash.
  if (m_controller) {
    m_controller->UnregisterDeviceNotifications();
    m_controller->CloseDevice();
  }
  m_stationOpen = true;
  {
    StationWindow station(std::move(setup), this);
    station.exec();
  }
  m_stationOpen = false;
  if (m_controller && !m_destroyed) {
    m_controller->RegisterDeviceNotifications(HotplugFactory(m_simBus)());
    m_controller->RequestEnumeration();
  }
}

int CTorvaneApp::RunStation() {
  CIni ini;
  ini.SetPathName(MakeAbsolutePath(kSettingsFileName));
  StationWindowSetup setup;
  setup.settings = LoadSettingsFromIni(ini);
  setup.settings_path = ini.GetPathName();
  setup.image_path = m_stationImage.isEmpty() ? AbsoluteImagePath(QString::fromStdString(setup.settings.file_path))
                                              : AbsoluteImagePath(m_stationImage);
  setup.make_hotplug_source = HotplugFactory(m_simBus);
  if (m_simBus) hid_link_set_backend(m_simBus);
  hid_link_init();
  bool abandoned = false;
  {
    StationWindow station(std::move(setup));
    m_pMainWnd = &station;
    station.show();
    QApplication::exec();
    // Quitting (a signal, the session's end) may leave units running.
    station.Shutdown();
    abandoned = AnyStationWorkerAbandoned();
    m_pMainWnd = nullptr;
  }
  // A worker left behind may still be inside the HID layer.
  if (!abandoned) {
    hid_link_exit();
    if (m_simBus) hid_link_set_backend(nullptr);
  }
  return 0;
}

}  // namespace torvane
