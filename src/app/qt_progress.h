#pragma once
// A progress bar as the operations' progress sink, callable from any thread.
// On the GUI thread the bar is repainted at once: the downloader runs the
// firmware update on the GUI thread, and the bar is all that moves meanwhile.

#include <QPointer>
#include <QProgressBar>

#include "transport/user_interface.h"

namespace zorv::app {

// Every bar an operation reports to shows its text the same way: the
// percentage, centred on the bar.
void applyProgressStyle(QProgressBar* bar);

class QtProgressSink : public ProgressSink {
 public:
  // mirror: a second bar that shows the same, where the work is watched
  // when that is not beside the bar (nullptr: none). Both get the one style.
  explicit QtProgressSink(QProgressBar* bar, QProgressBar* mirror = nullptr);
  void setRange(int minimum, int maximum) override;
  void setPosition(int position) override;

 private:
  void setRangeOn(const QPointer<QProgressBar>& bar, int minimum, int maximum);
  void setPositionOn(const QPointer<QProgressBar>& bar, int position);

  QPointer<QProgressBar> bar_;
  QPointer<QProgressBar> mirror_;
};

}  // namespace zorv::app
