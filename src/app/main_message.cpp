#include "app/main_message.h"

#include <QVBoxLayout>

namespace zorv::app {

CMainMessage::CMainMessage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  QPlainTextEdit* box = QtMessageSink::makeTextBox(this, 10);
  box->setObjectName("messagePane");
  layout->addWidget(box);
  sink_ = new QtMessageSink(box, this);
}

}  // namespace zorv::app
