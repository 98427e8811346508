#pragma once
// CMainMessage: the message pane of the engineering layout, where
// PrintMessage writes. The first tab of the tab control.

#include <QWidget>

#include "app/qt_message_sink.h"

namespace zorv::app {

class CMainMessage : public QWidget {
  Q_OBJECT
 public:
  explicit CMainMessage(QWidget* parent = nullptr);
  QtMessageSink& sink() { return *sink_; }

 private:
  QtMessageSink* sink_;
};

}  // namespace zorv::app
