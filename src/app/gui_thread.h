#pragma once
// Operations call the user interface, the message sinks and the drive list
// from worker threads; Qt widgets may only be touched on the GUI thread.

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <type_traits>

namespace zorv::app {

inline bool onGuiThread() {
  return QCoreApplication::instance() == nullptr || QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Runs f on the GUI thread and returns its result; from a worker it blocks
// until the GUI thread has run it.
template <class F>
auto runOnGuiThread(F f) -> std::invoke_result_t<F> {
  using R = std::invoke_result_t<F>;
  if (onGuiThread()) return f();
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(f), Qt::BlockingQueuedConnection);
  } else {
    R result{};
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&result, &f] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

}  // namespace zorv::app
