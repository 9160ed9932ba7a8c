// Renders the repository's images from their sources:
//   torvane_images icon <size> <out.png>   the application icon
//   torvane_images screenshot <out.png>    the main window with a typical log
// Run the screenshot under a real X server (xvfb-run -a) so that it is
// drawn by the same platform the operator sees.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/app_icon.h"
#include "ui/torvane_dlg.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: torvane_images icon <size> <out.png> | screenshot <out.png>\n");
  return 2;
}

int RenderIcon(int size, const QString& out) {
  if (size <= 0 || size > 4096) return Usage();
  return torvane::RenderAppIcon(size).save(out, "PNG") ? 0 : 1;
}

int Screenshot(const QString& out) {
  // A settings file of its own, so nothing is written beside the program.
  QTemporaryDir scratch;
  if (!scratch.isValid()) return 1;
  torvane::CTorvaneDlg dlg(nullptr, scratch.filePath(QStringLiteral("Torvane.ini")));
  dlg.show();
  if (!QTest::qWaitForWindowExposed(&dlg)) return 1;
  // The log of a typical flash: a bootloader found, its download, the result.
  dlg.AppendLog(QStringLiteral("没有发现设备\r\n"), false);
  dlg.AppendLog(QStringLiteral("发现一个可烧录设备, 设备信息:\nZAVRO:0.3.0.0 12:33:39 Sep 13 2016\r\n"), false);
  dlg.OnDownloadProgress(1, 0);
  for (int percent = 0; percent <= 100; percent += 10) dlg.OnDownloadProgress(2, percent);
  dlg.OnDownloadProgress(3, 0);
  QTest::qWait(200);
  const bool saved = dlg.grab().save(out, "PNG");
  dlg.reject();
  return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() == 4 && args[1] == QStringLiteral("icon")) return RenderIcon(args[2].toInt(), args[3]);
  if (args.size() == 3 && args[1] == QStringLiteral("screenshot")) return Screenshot(args[2]);
  return Usage();
}
