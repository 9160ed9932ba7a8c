// The application object: runs the main dialog modally and ends the
// process when it has closed. One global instance (main.cpp); the
// application is named after the executable file.
#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace torvane {

namespace sim {
class SimBus;
}

class CTorvaneApp {
 public:
  CTorvaneApp() = default;
  CTorvaneApp(const CTorvaneApp&) = delete;
  CTorvaneApp& operator=(const CTorvaneApp&) = delete;

  // Creates the Qt application, runs InitInstance and returns the
  // process's exit code.
  int Run(int argc, char** argv);

  // Runs the whole tool; returns false, so that the application ends when
  // the dialog has closed.
  bool InitInstance();
  // `torvane --station`: the production station window alone, on the image
  // given (or the settings' last one); station_entry.cpp.
  int RunStation();

  // The main dialog while it runs, else null.
  QWidget* m_pMainWnd = nullptr;
  // The simulated bus given with --simulate, else null.
  std::shared_ptr<sim::SimBus> m_simBus;
  bool m_station = false;
  QString m_stationImage;
};

}  // namespace torvane
