#include "ui/torvane_app.h"

#include <QApplication>

#include "ui/app_icon.h"
#include "ui/dialog_template.h"
#include "ui/termination_signals.h"
#include "ui/torvane_dlg.h"

namespace torvane {

int CTorvaneApp::Run(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationVersion(QString::fromUtf8(kVersionText));
  QApplication::setWindowIcon(MakeAppIcon());
  InstallTerminationHandler();
  InitInstance();
  RemoveTerminationHandler();
  return 0;  // the dialog's result is not examined
}

bool CTorvaneApp::InitInstance() {
  // Qt registers its own widget classes (the common controls, the log
  // pane's text control) and needs no shell manager.
  CTorvaneDlg dlg;
  m_pMainWnd = &dlg;
  // Modal run in the application's own event loop, so that quitting the
  // application (session end, QApplication::quit) closes the dialog
  // through its normal shut-down.
  QObject::connect(&dlg, &QDialog::finished, qApp, &QCoreApplication::quit);
  dlg.show();
  QApplication::exec();
  m_pMainWnd = nullptr;
  return false;
}

}  // namespace torvane
