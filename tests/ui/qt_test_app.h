// One QApplication for every test of an executable (offscreen unless a
// platform is set), plus helpers that drive modal dialogs from a timer.
#pragma once

#include <QApplication>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>

namespace torvane::test {

// Runs `action` on the next modal widget of type T that becomes active,
// once, from the event loop of whatever exec() is running then. Gives up
// after `timeout` (the caller's checks then fail instead of hanging).
void WhenModal(const std::function<bool(QWidget*)>& matches, const std::function<void(QWidget*)>& action,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

template <typename T>
void WhenModalOf(const std::function<void(T*)>& action,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  WhenModal([](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
            [action](QWidget* w) { action(qobject_cast<T*>(w)); }, timeout);
}

// Stops the waits of WhenModal that have not fired yet (so they cannot act
// in a later test) and returns how many there were.
int CancelPendingModalWaits();

// Runs the event loop until pred() holds or the time is up.
bool ProcessEventsUntil(const std::function<bool()>& pred,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Reads a whole file ("" when missing).
std::string ReadFile(const QString& path);
void WriteFile(const QString& path, const std::string& text);

}  // namespace torvane::test
