#include "app/main_message.h"

#include <QVBoxLayout>

namespace zorv::app {

CMainMessage::CMainMessage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  QPlainTextEdit* box = QtMessageSink::makeTextBox(this, 10);
  box->setObjectName("messagePane");
  layout->addWidget(box, 1);
  sink_ = new QtMessageSink(box, this);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("messageProgress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  layout->addWidget(progress_);
}

}  // namespace zorv::app
