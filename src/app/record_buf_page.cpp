#include "app/record_buf_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/edit_buf_dialog.h"
#include "app/fixed_pitch_font.h"
#include "app/radix_field.h"

namespace zorv::app {

namespace {

CRecordBuf* g_activePage = nullptr;

QFont fixedFont(int pointSize) { return fixedPitchFont(pointSize); }

// Puts a corrected text back into an edit without moving the caret.
void putBack(QLineEdit* edit, const std::string& text) {
  QString q = QString::fromStdString(text);
  if (edit->text() == q) return;
  int pos = edit->cursorPosition();
  edit->setText(q);
  edit->setCursorPosition(std::min(pos, static_cast<int>(q.size())));
}

}  // namespace

void DumpTextSink::append(std::string_view text, MessageKind) {
  text_.append(text);
  show();
}

void DumpTextSink::clear() { text_.clear(); }

void DumpTextSink::show() {
  QString q = QString::fromLatin1(text_.data(), static_cast<qsizetype>(text_.size()));
  if (q.endsWith('\n')) q.chop(1);
  if (box_->toPlainText() == q) return;
  int vertical = box_->verticalScrollBar()->value();
  int horizontal = box_->horizontalScrollBar()->value();
  box_->setPlainText(q);
  box_->verticalScrollBar()->setValue(vertical);
  box_->horizontalScrollBar()->setValue(horizontal);
}

CRecordBuf::CRecordBuf(Context& ctx, OperationRunner& runner, QWidget* parent)
    : QWidget(parent), ctx_(ctx), runner_(runner) {
  dump_ = new QPlainTextEdit(this);
  dump_->setObjectName("dump1003");
  dump_->setReadOnly(true);
  dump_->setLineWrapMode(QPlainTextEdit::NoWrap);
  dump_->setFont(fixedFont(10));
  sink_ = std::make_unique<DumpTextSink>(dump_);
  viewer_ = std::make_unique<BufferViewer>(ctx_, *sink_);

  start_ = new QLineEdit(this);
  start_->setObjectName("start1043");
  length_ = new QLineEdit(this);
  length_->setObjectName("length1044");
  restrictToRadix(start_, Radix::Hex, QStringLiteral("Start Addr."), 4);
  restrictToRadix(length_, Radix::Hex, QStringLiteral("Show Leng."), 4);
  for (QLineEdit* e : {start_, length_}) {
    e->setFont(fixedFont(12));
    e->setFixedWidth(e->fontMetrics().horizontalAdvance("WWWWWW"));
  }
  load_ = new QPushButton("Load File", this);
  save_ = new QPushButton("Save File", this);
  edit_ = new QPushButton("Edit Buf", this);
  write_ = new QPushButton("ATA Wr Buff", this);
  read_ = new QPushButton("ATA Rd Buff", this);
  clear_ = new QPushButton("Clear Buffer", this);

  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel("Start Addr.", this));
  controls->addWidget(start_);
  controls->addWidget(new QLabel("Show Leng.", this));
  controls->addWidget(length_);
  for (QPushButton* b : {load_, save_, edit_, write_, read_, clear_}) controls->addWidget(b);
  controls->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(dump_, 1);
  layout->addLayout(controls);

  connect(start_, &QLineEdit::textEdited, this, &CRecordBuf::onStartEdited);
  connect(length_, &QLineEdit::textEdited, this, &CRecordBuf::onLengthEdited);
  connect(write_, &QPushButton::clicked, this, &CRecordBuf::onWriteBuffer);
  connect(read_, &QPushButton::clicked, this, &CRecordBuf::onReadBuffer);
  connect(clear_, &QPushButton::clicked, this, &CRecordBuf::onClearBuffer);
  connect(save_, &QPushButton::clicked, this, &CRecordBuf::onSaveFile);
  connect(load_, &QPushButton::clicked, this, &CRecordBuf::onLoadFile);
  connect(edit_, &QPushButton::clicked, this, &CRecordBuf::onEditBuf);
  connect(&timer_, &QTimer::timeout, this, &CRecordBuf::onRefresh);

  viewer_->open();
  start_->setText(QString::fromStdString(viewer_->startText()));
  length_->setText(QString::fromStdString(viewer_->lengthText()));
  viewer_->dump();
  timer_.start(BufferViewer::kRefreshMilliseconds);
  g_activePage = this;
}

CRecordBuf::~CRecordBuf() {
  timer_.stop();
  if (g_activePage == this) g_activePage = nullptr;
}

DumpPane* CRecordBuf::activeDumpPane() { return g_activePage ? &g_activePage->viewer_->dumpPane() : nullptr; }

void CRecordBuf::onStartEdited(const QString& text) { putBack(start_, viewer_->startChanged(text.toStdString())); }

void CRecordBuf::onLengthEdited(const QString& text) { putBack(length_, viewer_->lengthChanged(text.toStdString())); }

// The buffer commands are short and run here; they wait while another
// operation owns the transport and SectorBuffer.
void CRecordBuf::onWriteBuffer() {
  runner_.runHere([this] { viewer_->writeBuffer(); });
}

void CRecordBuf::onReadBuffer() {
  runner_.runHere([this] { viewer_->readBuffer(); });
}

void CRecordBuf::onClearBuffer() {
  runner_.runHere([this] { viewer_->clearBuffer(); });
}

void CRecordBuf::onSaveFile() { viewer_->saveFile(); }

void CRecordBuf::onLoadFile() {
  runner_.runHere([this] { viewer_->loadFile(); });
}

void CRecordBuf::onEditBuf() {
  runner_.runHere([this] {
    CEditBufDlg dlg(ctx_, &viewer_->dumpPane(), this);
    dlg.exec();
  });
}

void CRecordBuf::onRefresh() {
  // While a worker owns SectorBuffer the refresh waits, so the dump never
  // reads bytes that are being transferred.
  if (ctx_.fgBusy) return;
  viewer_->refreshTick();
}

namespace {

QWidget* makeRecordBufPage(PageServices& services, QWidget* parent) {
  return new CRecordBuf(services.ctx, services.runner, parent);
}

PageRegistrar reg{31, "Buffer", &makeRecordBufPage};

}  // namespace

}  // namespace zorv::app
