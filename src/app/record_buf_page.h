#pragma once
// CRecordBuf: the buffer viewer page. A window of SectorBuffer shown as a hex
// dump, refreshed twice a second while it is at most 512 bytes long, moved to
// and from the controller's buffer, loaded, saved, cleared and edited.

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "app/page_registry.h"
#include "identify/sector_buffer_window.h"

namespace zorv::app {

// The page's rich-text box as HexDump's pane: each dump replaces the text
// and keeps the scroll position, so the twice-a-second refresh does not move
// what the engineer is looking at.
class DumpTextSink : public MessageSink {
 public:
  explicit DumpTextSink(QPlainTextEdit* box) : box_(box) {}
  void append(std::string_view text, MessageKind kind = MessageKind::Normal) override;
  void clear() override;

 private:
  void show();
  QPlainTextEdit* box_;
  std::string text_;
};

class CRecordBuf : public QWidget {
  Q_OBJECT
 public:
  // The buffer commands, and the changes to SectorBuffer, run through runner,
  // which holds the drive (and so the buffer) while they run.
  CRecordBuf(Context& ctx, OperationRunner& runner, QWidget* parent = nullptr);
  ~CRecordBuf() override;

  // The dump pane of the page that exists, for the any-ATA console and the
  // buffer editor to refresh after they change SectorBuffer; nullptr when no
  // page was made.
  static DumpPane* activeDumpPane();

  BufferViewer& viewer() { return *viewer_; }
  QPlainTextEdit* dumpBox() const { return dump_; }
  QLineEdit* startEdit() const { return start_; }
  QLineEdit* lengthEdit() const { return length_; }
  QPushButton* loadButton() const { return load_; }
  QPushButton* saveButton() const { return save_; }
  QPushButton* editButton() const { return edit_; }
  QPushButton* writeButton() const { return write_; }
  QPushButton* readButton() const { return read_; }
  QPushButton* clearButton() const { return clear_; }
  QTimer& refreshTimer() { return timer_; }

 public Q_SLOTS:
  void onStartEdited(const QString& text);
  void onLengthEdited(const QString& text);
  void onWriteBuffer();
  void onReadBuffer();
  void onClearBuffer();
  void onSaveFile();
  void onLoadFile();
  void onEditBuf();
  void onRefresh();

 private:
  Context& ctx_;
  OperationRunner& runner_;
  QPlainTextEdit* dump_;
  std::unique_ptr<DumpTextSink> sink_;
  std::unique_ptr<BufferViewer> viewer_;
  QLineEdit* start_;
  QLineEdit* length_;
  QPushButton* load_;
  QPushButton* save_;
  QPushButton* edit_;
  QPushButton* write_;
  QPushButton* read_;
  QPushButton* clear_;
  QTimer timer_;
};

}  // namespace zorv::app
