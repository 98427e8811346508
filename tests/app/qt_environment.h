#pragma once
// GUI tests run on one QApplication (offscreen unless a display is chosen).

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <functional>

namespace zorv::test {

// Runs the event loop until done() holds or the limit passes; false on the limit.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Calls act(widget) with the next modal window that opens (a message box,
// the reply window), from the event loop that the modal window runs.
void onNextModal(std::function<void(QWidget*)> act);

}  // namespace zorv::test
