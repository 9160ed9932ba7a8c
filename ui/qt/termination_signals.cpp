#include "ui/qt/termination_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace torvane {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the signal handler, read on the event loop's thread.
int g_signal_fds[2] = {-1, -1};
QSocketNotifier* g_notifier = nullptr;

extern "C" void OnTerminationSignal(int signal_number) {
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  // Only async-signal-safe calls here; a full socket drops the byte, and
  // one pending byte already asks for the quit.
  const int saved_errno = errno;
  [[maybe_unused]] const ssize_t written = ::write(g_signal_fds[0], &byte, 1);
  errno = saved_errno;
}

}  // namespace

bool InstallTerminationHandler() {
  if (g_notifier != nullptr) return true;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_fds) != 0) return false;
  g_notifier = new QSocketNotifier(g_signal_fds[1], QSocketNotifier::Read);
  QObject::connect(g_notifier, &QSocketNotifier::activated, [] {
    unsigned char buffer[16];
    while (::read(g_signal_fds[1], buffer, sizeof buffer) > 0) {
    }
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int signal_number : kSignals) ::sigaction(signal_number, &action, nullptr);
  return true;
}

void RemoveTerminationHandler() {
  if (g_notifier == nullptr) return;
  for (int signal_number : kSignals) std::signal(signal_number, SIG_DFL);
  delete g_notifier;
  g_notifier = nullptr;
  ::close(g_signal_fds[0]);
  ::close(g_signal_fds[1]);
  g_signal_fds[0] = g_signal_fds[1] = -1;
}

}  // namespace torvane
