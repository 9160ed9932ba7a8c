#include "tests/ui/qt_test_app.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <vector>

#include "ui/qt/qt_translations.h"

namespace torvane::test {

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "torvane_ui_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallQtChineseTranslations();  // as the application does
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::vector<QTimer*>& PendingTimers() {
  static std::vector<QTimer*> timers;
  return timers;
}

void Forget(QTimer* timer) {
  auto& timers = PendingTimers();
  timers.erase(std::remove(timers.begin(), timers.end(), timer), timers.end());
  timer->stop();
  timer->deleteLater();
}

}  // namespace

int CancelPendingModalWaits() {
  const auto pending = PendingTimers();
  for (QTimer* timer : pending) Forget(timer);
  return static_cast<int>(pending.size());
}

void WhenModal(const std::function<bool(QWidget*)>& matches, const std::function<void(QWidget*)>& action,
               std::chrono::milliseconds timeout) {
  auto* timer = new QTimer;
  const QDeadlineTimer deadline(timeout.count());
  QObject::connect(timer, &QTimer::timeout, [timer, matches, action, deadline] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && matches(modal) && modal->isVisible()) {
      Forget(timer);
      action(modal);
      return;
    }
    if (deadline.hasExpired()) {
      Forget(timer);
      ADD_FAILURE() << "the expected modal dialog did not appear";
      if (modal != nullptr) modal->close();
    }
  });
  PendingTimers().push_back(timer);
  timer->start(5);
}

bool ProcessEventsUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const QDeadlineTimer deadline(timeout.count());
  while (!pred()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

std::string ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::string();
  return file.readAll().toStdString();
}

void WriteFile(const QString& path, const std::string& text) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(text.data(), static_cast<qint64>(text.size()));
}

}  // namespace torvane::test
