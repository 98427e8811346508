#pragma once
// A message box or the message pane: a read-only text window that any thread
// may write to. Text written from a worker is collected and appended by the
// GUI thread in the order it was written; text written on the GUI thread
// appears at once.

#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>

#include <mutex>
#include <string>

#include "transport/message.h"

namespace zorv::app {

class QtMessageSink : public QObject, public MessageSink {
  Q_OBJECT
 public:
  explicit QtMessageSink(QPlainTextEdit* box, QObject* parent = nullptr);

  void append(std::string_view text, MessageKind kind = MessageKind::Normal) override;
  void clear() override;

  QPlainTextEdit* widget() const { return box_; }
  // The text shown ("\r\n" written by the operations reads as one "\n").
  QString text() const;

  // Read-only, fixed-pitch text window of the given point size.
  static QPlainTextEdit* makeTextBox(QWidget* parent, int pointSize = 12);

 private:
  void flush();

  QPointer<QPlainTextEdit> box_;
  std::mutex mutex_;
  std::string pending_;
  bool clearPending_ = false;
  bool flushQueued_ = false;
};

}  // namespace zorv::app
