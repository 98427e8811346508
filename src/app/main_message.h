#pragma once
// CMainMessage: the message pane of the engineering layout, where
// PrintMessage writes. The first tab of the tab control.

#include <QProgressBar>
#include <QWidget>

#include "app/qt_message_sink.h"

namespace zorv::app {

class CMainMessage : public QWidget {
  Q_OBJECT
 public:
  explicit CMainMessage(QWidget* parent = nullptr);
  QtMessageSink& sink() { return *sink_; }
  // Pages whose work is watched here (they bring this tab to the front)
  // show their progress on this bar too.
  QProgressBar* progressBar() const { return progress_; }

 private:
  QtMessageSink* sink_;
  QProgressBar* progress_;
};

}  // namespace zorv::app
