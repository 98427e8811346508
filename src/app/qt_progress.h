#pragma once
// A progress bar as the operations' progress sink, callable from any thread.
// On the GUI thread the bar is repainted at once: the downloader runs the
// firmware update on the GUI thread, and the bar is all that moves meanwhile.

#include <QPointer>
#include <QProgressBar>

#include "transport/user_interface.h"

namespace zorv::app {

class QtProgressSink : public ProgressSink {
 public:
  explicit QtProgressSink(QProgressBar* bar) : bar_(bar) {}
  void setRange(int minimum, int maximum) override;
  void setPosition(int position) override;

 private:
  QPointer<QProgressBar> bar_;
};

}  // namespace zorv::app
