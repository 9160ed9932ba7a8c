#include "ui/qt/torvane_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <unistd.h>

#include "monitor/stream_output.h"

#include "sim/sim_bus.h"
#include "sim/sim_knobs.h"

#include "ui/qt/app_icon.h"
#include "ui/dialog_template.h"
#include "ui/qt/qt_translations.h"
#include "ui/qt/termination_signals.h"
#include "ui/qt/torvane_dlg.h"

namespace torvane {

namespace {

// Qt's own warnings go to standard error like the traces: never blocking
// the UI thread on a stream nobody reads.
void WriteQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  const QString line = qFormatLogMessage(type, context, message) + QLatin1Char('\n');
  WriteWithoutBlocking(STDERR_FILENO, line.toStdString());
  if (type == QtFatalMsg) std::abort();
}

// --help and --version print and end: no window system is needed for them.
bool AsksForTextOnly(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version") return true;
  }
  return false;
}

}  // namespace

int CTorvaneApp::Run(int argc, char** argv) {
  // A closed standard stream (the tool piped into `head`) must not end the
  // program and lose the settings saved on exit.
  IgnoreBrokenPipes();
  qInstallMessageHandler(WriteQtMessage);
  const bool text_only = AsksForTextOnly(argc, argv);
  std::unique_ptr<QCoreApplication> application =
      text_only ? std::make_unique<QCoreApplication>(argc, argv) : std::make_unique<QApplication>(argc, argv);
  QCoreApplication& app = *application;
  QCoreApplication::setApplicationVersion(QString::fromUtf8(kVersionText));
  if (!text_only) {
    QApplication::setWindowIcon(MakeAppIcon());
    // For the window's standard dialogs; --help stays in the terminal's
    // usual form, as torvane-cli's does (and its manual page is made from it).
    InstallQtChineseTranslations();
  }
  // Without options the tool behaves as it always does; --simulate runs it
  // on a simulated bus for demos, screenshots and manual testing.
  QCommandLineParser parser;
  parser.setApplicationDescription("Torvane: writes firmware images into USB HID devices through their bootloader");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption simulate(
      "simulate", "Run on a simulated bus with a device described by knob text, e.g. boot,busy-block=3:2 "
                  "(repeat for several devices).",
      "knobs");
  parser.addOption(simulate);
  const QCommandLineOption station("station", "Open the production station window: every device plugged in is flashed.");
  parser.addOption(station);
  parser.addPositionalArgument("image", "With --station: the image to flash (default: the last one chosen).", "[image]");
  parser.process(app);
  m_station = parser.isSet(station);
  if (!parser.positionalArguments().isEmpty()) m_stationImage = parser.positionalArguments().first();
  const QStringList knob_texts = parser.values(simulate);
  if (!knob_texts.isEmpty()) {
    auto bus = std::make_shared<sim::SimBus>();
    for (const QString& text : knob_texts) {
      sim::SimKnobs knobs;
      std::string error;
      if (!sim::parse_sim_knobs(text.toStdString(), &knobs, &error)) {
        std::fprintf(stderr, "--simulate '%s': %s\n", qPrintable(text), error.c_str());
        return 2;
      }
      bus->attach_model(knobs);
    }
    m_simBus = bus;
  }
  InstallTerminationHandler();
  InitInstance();
  RemoveTerminationHandler();
  return 0;  // the dialog's result is not examined
}

bool CTorvaneApp::InitInstance() {
  if (m_station) {
    RunStation();
    return false;
  }
  // Qt registers its own widget classes (the common controls, the log
  // pane's text control) and needs no shell manager.
  CTorvaneDlg dlg;
  if (m_simBus) dlg.SetSimulatedBus(m_simBus);
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
