#include "app/qt_message_sink.h"

#include <QScrollBar>
#include <QTextCursor>

#include "app/fixed_pitch_font.h"
#include "app/gui_thread.h"

namespace zorv::app {

QtMessageSink::QtMessageSink(QPlainTextEdit* box, QObject* parent) : QObject(parent), box_(box) {}

QPlainTextEdit* QtMessageSink::makeTextBox(QWidget* parent, int pointSize) {
  auto* box = new QPlainTextEdit(parent);
  box->setReadOnly(true);
  box->setFont(fixedPitchFont(pointSize));
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  return box;
}

void QtMessageSink::append(std::string_view text, MessageKind) {
  bool queue = false;
  {
    std::lock_guard lock(mutex_);
    pending_.append(text);
    if (!onGuiThread() && !flushQueued_) {
      flushQueued_ = true;
      queue = true;
    }
  }
  if (onGuiThread()) {
    flush();
  } else if (queue) {
    QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
  }
}

void QtMessageSink::clear() {
  bool queue = false;
  {
    std::lock_guard lock(mutex_);
    pending_.clear();
    clearPending_ = true;
    if (!onGuiThread() && !flushQueued_) {
      flushQueued_ = true;
      queue = true;
    }
  }
  if (onGuiThread()) {
    flush();
  } else if (queue) {
    QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
  }
}

void QtMessageSink::flush() {
  std::string text;
  bool clearFirst = false;
  {
    std::lock_guard lock(mutex_);
    text.swap(pending_);
    clearFirst = clearPending_;
    clearPending_ = false;
    flushQueued_ = false;
  }
  if (!box_) return;
  if (clearFirst) box_->clear();
  if (text.empty()) return;
  // "\r\n" is one line end; a lone "\r" carries no line of its own.
  QString q = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  q.remove(QChar('\r'));
  QTextCursor cursor = box_->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(q);
  box_->setTextCursor(cursor);
  box_->ensureCursorVisible();
}

QString QtMessageSink::text() const { return box_ ? box_->toPlainText() : QString(); }

}  // namespace zorv::app
