// Renders the repository's images from their sources:
//   torvane_images icon <size> <out.png>   the application icon
//   torvane_images screenshot <out.png> <image.bin> [<shown path>]
//                                          the main window after flashing image.bin
//                                          into a simulated bootloader, its path box
//                                          showing <shown path> (default: image.bin)
//   torvane_images station <out.png> <image.bin>
//                                          the station window with simulated units
//                                          passed, failed and flashing
// Run the screenshot under a real X server (xvfb-run -a) so that it is
// drawn by the same platform the operator sees; scripts/screenshot.sh does.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/qt/app_icon.h"
#include <QLineEdit>
#include <QPushButton>

#include "monitor/device_controller.h"
#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"
#include "ui/control_ids.h"
#include "device/hid_link.h"
#include "monitor/sim_hotplug_source.h"
#include "ui/qt/log_pane.h"
#include "ui/qt/qt_translations.h"
#include "ui/qt/station_table_model.h"
#include "ui/qt/station_window.h"
#include "ui/station_image.h"
#include "ui/qt/torvane_dlg.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: torvane_images icon <size> <out.png> | screenshot <out.png> <image.bin> [<shown path>] |"
               " station <out.png> <image.bin>\n");
  return 2;
}

int RenderIcon(int size, const QString& out) {
  if (size <= 0 || size > 4096) return Usage();
  return torvane::RenderAppIcon(size).save(out, "PNG") ? 0 : 1;
}

int Screenshot(const QString& out, const QString& image, const QString& shown) {
  // A settings file of its own, so nothing is written beside the program.
  QTemporaryDir scratch;
  if (!scratch.isValid()) return 1;
  // A steady text cursor: the picture does not depend on the blink phase.
  QApplication::setCursorFlashTime(0);
  // A real flash into the simulated bootloader: what the log shows is what
  // the tool printed.
  auto bus = std::make_shared<torvane::sim::SimBus>();
  torvane::sim::SimKnobs knobs;
  if (!torvane::sim::parse_sim_knobs("boot,no-restart,latency-us=200", &knobs, nullptr)) return 1;
  bus->attach_model(knobs);
  torvane::CTorvaneDlg dlg(nullptr, scratch.filePath(QStringLiteral("Torvane.ini")));
  dlg.SetSimulatedBus(bus);
  dlg.show();
  if (!QTest::qWaitForWindowExposed(&dlg)) return 1;
  if (!QTest::qWaitFor([&] { return dlg.Controller()->State() == torvane::DS_BOOT; }, 10000)) return 1;
  auto* path_box = static_cast<QLineEdit*>(dlg.GetDlgItem(torvane::IDC_EDIT_PATH));
  path_box->setText(image);
  static_cast<QPushButton*>(dlg.GetDlgItem(torvane::IDC_BTN_FLASH))->click();
  // The download took the path when the button was pressed; the picture
  // shows a neutral one rather than where this machine keeps the sample.
  path_box->setText(shown);
  auto* log = static_cast<torvane::LogPane*>(dlg.GetDlgItem(torvane::IDC_LOG));
  if (!QTest::qWaitFor([&] { return log->LogText().contains(QStringLiteral("下载成功")); }, 30000)) return 1;
  QTest::qWait(200);
  const bool saved = dlg.grab().save(out, "PNG");
  dlg.reject();
  return saved ? 0 : 1;
}

// The station on a line of simulated units. It runs in a scratch folder
// with relative names, so the picture shows no path of the machine it was
// made on.
int StationScreenshot(const QString& out, const QString& image) {
  const QString out_path = QFileInfo(out).absoluteFilePath();
  QTemporaryDir scratch;
  if (!scratch.isValid() || !QDir().mkpath(scratch.filePath(QStringLiteral("firmware"))) ||
      !QFile::copy(image, scratch.filePath(QStringLiteral("firmware/app.bin")))) {
    return 1;
  }
  QDir::setCurrent(scratch.path());
  auto bus = std::make_shared<torvane::sim::SimBus>();
  const char* const units[] = {
      "boot,port=1-1.1,serial=TV24A0017",
      "boot,port=1-1.2,serial=TV24A0018,start-status=9",
      "boot,port=1-1.3,serial=TV24A0019,latency-us=9000",
      "boot,port=1-1.4,serial=TV24A0020,latency-us=4000",
      "app,port=1-1.5,serial=TV24A0021",
      "boot,port=1-1.6,serial=TV24A0022",  // outside the job's slots
  };
  // A job for the line: slots 槽1 to 槽5, serial numbers from SN001000.
  QString job = QStringLiteral("[job]\nname = 主板 A2 量产\nimage = app.bin\nsha256 = %1\ncount = 100\n[slots]\n")
                    .arg(QString::fromStdString(torvane::ReadStationImage(scratch.filePath("firmware/app.bin").toStdString())
                                                    .digest.sha256));
  for (int slot = 1; slot <= 5; ++slot) job += QStringLiteral("1-1.%1 = 槽%1\n").arg(slot);
  job += QStringLiteral("[serial]\naddress = 0x1100\nwidth = 8\nformat = dec\nprefix = SN\nstart = 1000\n");
  QFile job_file(scratch.filePath(QStringLiteral("firmware/line3.ini")));
  if (!job_file.open(QIODevice::WriteOnly) || job_file.write(job.toUtf8()) < 0) return 1;
  job_file.close();
  for (const char* text : units) {
    torvane::sim::SimKnobs knobs;
    if (!torvane::sim::parse_sim_knobs(text, &knobs, nullptr)) return 1;
    bus->attach_model(knobs);
  }
  torvane::hid_link_set_backend(bus);
  torvane::hid_link_init();
  int result = 1;
  {
    torvane::StationWindowSetup setup;
    setup.settings_path = "Torvane.ini";
    setup.image_path = "firmware/app.bin";
    setup.make_hotplug_source = [bus] { return torvane::MakeSimHotplugSource(bus); };
    torvane::StationWindow window(std::move(setup));
    window.RecordPathBox()->setText(window.RecordPathBox()->text().section(QLatin1Char('/'), -1));
    window.show();
    if (QTest::qWaitForWindowExposed(&window) && window.OpenJob(job_file.fileName()) &&
        QTest::qWaitFor([&] { return !window.DigestText().isEmpty(); }, 10000) && window.StartStation()) {
      auto percent = [&](const char* port) {
        for (const auto& row : window.Model()->Rows()) {
          if (row.port == port) return row.percent;
        }
        return -1;
      };
      if (QTest::qWaitFor([&] { return percent("1-1.3") >= 40 && window.CountersText().contains(QStringLiteral("1")); }, 30000)) {
        QTest::qWait(150);
        result = window.grab().save(out_path, "PNG") ? 0 : 1;
      }
    }
    window.Shutdown();
  }
  torvane::hid_link_exit();
  torvane::hid_link_set_backend(nullptr);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  torvane::InstallQtChineseTranslations();  // as the application does
  const QStringList args = QApplication::arguments();
  if (args.size() == 4 && args[1] == QStringLiteral("icon")) return RenderIcon(args[2].toInt(), args[3]);
  if ((args.size() == 4 || args.size() == 5) && args[1] == QStringLiteral("screenshot")) {
    return Screenshot(args[2], args[3], args.value(4, args[3]));
  }
  if (args.size() == 4 && args[1] == QStringLiteral("station")) return StationScreenshot(args[2], args[3]);
  return Usage();
}
