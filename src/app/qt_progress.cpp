#include "app/qt_progress.h"

#include <QMetaObject>

#include "app/gui_thread.h"

namespace zorv::app {

void applyProgressStyle(QProgressBar* bar) {
  if (!bar) return;
  bar->setTextVisible(true);
  bar->setFormat(QStringLiteral("%p%"));
  bar->setAlignment(Qt::AlignCenter);
}

QtProgressSink::QtProgressSink(QProgressBar* bar, QProgressBar* mirror) : bar_(bar), mirror_(mirror) {
  applyProgressStyle(bar);
  applyProgressStyle(mirror);
}

void QtProgressSink::setRange(int minimum, int maximum) {
  setRangeOn(bar_, minimum, maximum);
  if (mirror_) setRangeOn(mirror_, minimum, maximum);
}

void QtProgressSink::setPosition(int position) {
  setPositionOn(bar_, position);
  if (mirror_) setPositionOn(mirror_, position);
}

void QtProgressSink::setRangeOn(const QPointer<QProgressBar>& target, int minimum, int maximum) {
  QPointer<QProgressBar> bar = target;
  auto apply = [bar, minimum, maximum] {
    if (bar) bar->setRange(minimum, maximum);
  };
  if (onGuiThread()) {
    apply();
  } else if (bar) {
    QMetaObject::invokeMethod(bar, apply, Qt::QueuedConnection);
  }
}

void QtProgressSink::setPositionOn(const QPointer<QProgressBar>& target, int position) {
  QPointer<QProgressBar> bar = target;
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
