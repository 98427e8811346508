#include "app/qt_progress.h"

#include <QMetaObject>

#include "app/gui_thread.h"

namespace zorv::app {

void QtProgressSink::setRange(int minimum, int maximum) {
  QPointer<QProgressBar> bar = bar_;
  auto apply = [bar, minimum, maximum] {
    if (bar) bar->setRange(minimum, maximum);
  };
  if (onGuiThread()) {
    apply();
  } else if (bar) {
    QMetaObject::invokeMethod(bar, apply, Qt::QueuedConnection);
  }
}

void QtProgressSink::setPosition(int position) {
  QPointer<QProgressBar> bar = bar_;
  if (onGuiThread()) {
    if (!bar) return;
    bar->setValue(position);
    bar->repaint();
  } else if (bar) {
    QMetaObject::invokeMethod(
        bar, [bar, position] { if (bar) bar->setValue(position); }, Qt::QueuedConnection);
  }
}

}  // namespace zorv::app
