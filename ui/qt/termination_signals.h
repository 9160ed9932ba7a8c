// SIGINT, SIGTERM and SIGHUP (Ctrl+C in a terminal, a service manager's
// stop, a closed terminal) quit the application through its normal way
// out, so the main window saves its settings and stops its threads as when
// the operator closes it. A second signal of the same kind ends the process
// at once (the handler is reset after its first use).
#pragma once

class QObject;

namespace torvane {

// Installs the handlers; the quit is delivered on the thread running the
// application's event loop. Returns false when the handlers could not be
// installed (the signals then keep their default action). Call once, after
// the QApplication exists.
bool InstallTerminationHandler();

// Restores the default actions and releases what the handler holds.
void RemoveTerminationHandler();

}  // namespace torvane
